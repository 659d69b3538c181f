# The live panel's tests, on the real .gau files through the native host of the native
# preset's build tree: headless Chromium drives `kestrel-bench serve` and the sessions it
# records replay with `kestrel-bench run`; hostile requests and loads meet the server as
# other web pages and programs on this machine could send them. Debian's Python, which has
# the Selenium bindings.
if(KESTREL_PLATFORM STREQUAL "tools" AND KESTREL_WINDOWS_MODULE_DIR)
  foreach(test serve_browser_test serve_hostile_test)
    add_test(NAME ${test}
      COMMAND /usr/bin/python3 ${CMAKE_CURRENT_SOURCE_DIR}/${test}.py
        --bench $<TARGET_FILE:kestrel-bench>
        --host ${PROJECT_SOURCE_DIR}/build/native/host/kestrel-host
        --gau-dir ${KESTREL_WINDOWS_MODULE_DIR})
    set_tests_properties(${test} PROPERTIES TIMEOUT 900 ENVIRONMENT "ASAN_OPTIONS=detect_leaks=0")
  endforeach()
endif()
