# The live panel's test: headless Chromium drives `kestrel-bench serve` on the real .gau
# files through the native host of the native preset's build tree, and the sessions it
# records replay with `kestrel-bench run`. Debian's Python, which has the Selenium bindings.
if(KESTREL_PLATFORM STREQUAL "tools" AND KESTREL_WINDOWS_MODULE_DIR)
  add_test(NAME serve_browser_test
    COMMAND /usr/bin/python3 ${CMAKE_CURRENT_SOURCE_DIR}/serve_browser_test.py
      --bench $<TARGET_FILE:kestrel-bench>
      --host ${PROJECT_SOURCE_DIR}/build/native/host/kestrel-host
      --gau-dir ${KESTREL_WINDOWS_MODULE_DIR})
  set_tests_properties(serve_browser_test PROPERTIES TIMEOUT 900 ENVIRONMENT "ASAN_OPTIONS=detect_leaks=0")
endif()
