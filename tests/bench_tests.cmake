# The bench's tests. The tools build runs them (and the demo scenarios through the bench
# on the native twin); the native build makes the misbehaving module they run; the native
# and windows builds also run each demo scenario straight through their own host, and the
# native build once more on the real .gau files.
file(GLOB bench_scenarios CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/scenarios/*.scenario)

if(KESTREL_PLATFORM STREQUAL "tools")
  kestrel_add_googletest()
  # The JUnit report's test parses it with libxml2 and checks it with xmllint (libxml2-utils).
  find_package(LibXml2 REQUIRED)
  add_executable(bench_tests bench_scenario_test.cpp bench_render_test.cpp bench_trace_test.cpp bench_faults_test.cpp
    bench_hostile_input_test.cpp bench_cli_test.cpp bench_verdict_test.cpp bench_lookup_test.cpp bench_pictures_test.cpp
    bench_picture_expect_test.cpp bench_junit_test.cpp bench_trace_format_test.cpp bench_panel_file_test.cpp
    bench_snapshot_test.cpp bench_panel_session_test.cpp)
  target_link_libraries(bench_tests PRIVATE kestrel_bench kestrel_serve kestrel_panel kestrel_bitmap_drawing gtest_main
    LibXml2::LibXml2)
  add_dependencies(bench_tests kestrel-bench example_panel_pictures)
  # The native preset's build tree; KESTREL_NATIVE_BUILD_DIR in the environment overrides it.
  target_compile_definitions(bench_tests PRIVATE KESTREL_NATIVE_BUILD_DIR="${PROJECT_SOURCE_DIR}/build/native"
    KESTREL_BENCH_PROGRAM="$<TARGET_FILE:kestrel-bench>" KESTREL_README="${PROJECT_SOURCE_DIR}/README.md"
    KESTREL_SOURCE_DIR="${PROJECT_SOURCE_DIR}" KESTREL_JUNIT_SCHEMA="${CMAKE_CURRENT_SOURCE_DIR}/junit.xsd"
    KESTREL_EXAMPLE_PANEL_BACKGROUND="${KESTREL_EXAMPLE_PANEL_PICTURES_DIR}/main_panel.bmp")
  add_test(NAME bench_tests COMMAND bench_tests)
  add_test(NAME bench_demo_scenarios_native
    COMMAND kestrel-bench run --native --out ${CMAKE_BINARY_DIR}/bench-test-out ${PROJECT_SOURCE_DIR}/scenarios)
  add_test(NAME bench_demo_scenarios_real_module
    COMMAND kestrel-bench run --native-gau --out ${CMAKE_BINARY_DIR}/bench-test-out-gau ${PROJECT_SOURCE_DIR}/scenarios)
  set_tests_properties(bench_demo_scenarios_native bench_demo_scenarios_real_module PROPERTIES TIMEOUT 600)
  # The installed bench: needs the native-release and windows builds, as `make install` does.
  add_executable(bench_install_test bench_install_test.cpp)
  target_link_libraries(bench_install_test PRIVATE gtest_main)
  add_dependencies(bench_install_test kestrel-bench)
  target_compile_definitions(bench_install_test PRIVATE KESTREL_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
    KESTREL_CMAKE="${CMAKE_COMMAND}" KESTREL_TOOLS_BUILD_DIR="${CMAKE_BINARY_DIR}"
    KESTREL_NATIVE_RELEASE_BUILD_DIR="${PROJECT_SOURCE_DIR}/build/native-release"
    KESTREL_WINDOWS_BUILD_DIR="${PROJECT_SOURCE_DIR}/build/windows"
    KESTREL_BENCH_PROGRAM="$<TARGET_FILE:kestrel-bench>")
  add_test(NAME bench_install_test COMMAND bench_install_test)
  set_tests_properties(bench_install_test PROPERTIES TIMEOUT 600)
else()
  if(KESTREL_PLATFORM STREQUAL "native32")
    kestrel_add_module(KESTREL_FAULTY KESTREL_FAULTY.gau SOURCES faulty_module.cpp)
    set_target_properties(KESTREL_FAULTY PROPERTIES LIBRARY_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/modules)
  endif()
  foreach(scenario ${bench_scenarios})
    get_filename_component(name ${scenario} NAME_WE)
    add_test(NAME scenario_${name} COMMAND kestrel-host run ${scenario} --modules ${CMAKE_BINARY_DIR}/modules)
    # A hang inside a module must fail the test, not stall the run.
    set_tests_properties(scenario_${name} PROPERTIES ENVIRONMENT "ASAN_OPTIONS=detect_leaks=0" TIMEOUT 300)
    # The native host also maps the real .gau files that the windows build leaves.
    if(KESTREL_PLATFORM STREQUAL "native32" AND KESTREL_WINDOWS_MODULE_DIR)
      add_test(NAME scenario_${name}_real_module
        COMMAND kestrel-host run ${scenario} --modules ${KESTREL_WINDOWS_MODULE_DIR} --real-module)
      set_tests_properties(scenario_${name}_real_module PROPERTIES ENVIRONMENT "ASAN_OPTIONS=detect_leaks=0" TIMEOUT 300)
    endif()
  endforeach()
endif()
