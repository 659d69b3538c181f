# kestrel_picture_files(VARIABLE TABLE): the file names of a picture table's rows
# (resources/*/..._pictures.h), in table order, so that the build names the files that
# the generator draws and the resource script carries from the one table. Editing the
# table configures the build again.
function(kestrel_picture_files variable table)
  set(row_pattern "ROW\\([a-z0-9_]+, *[0-9]+, *\"([^\"]+)\"")
  file(STRINGS ${table} rows REGEX "${row_pattern}")
  set(files)
  foreach(row IN LISTS rows)
    string(REGEX MATCH "${row_pattern}" matched "${row}")
    list(APPEND files ${CMAKE_MATCH_1})
  endforeach()
  if(NOT files)
    message(FATAL_ERROR "${table}: no picture rows")
  endif()
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${table})
  set(${variable} ${files} PARENT_SCOPE)
endfunction()
