# Crash fixtures: one source, one DLL per way of crashing (see the modes in
# crash_plugin.cpp).
set(CRASH_FIXTURES
  CrashGood:0
  CrashInEntry:1
  CrashInDispatch:2
  CrashOnThread:3
  CrashAfterOwnFilter:4
  CrashTwoThreads:5
  CrashShell:6
  CrashStackOverflow:7
  CrashOverrunName:8
  CrashOverrunShell:9
  CrashLaterOnThread:10
  CrashSmallFrames:11)
foreach(fixture ${CRASH_FIXTURES})
  string(REPLACE ":" ";" parts ${fixture})
  list(GET parts 0 name)
  list(GET parts 1 mode)
  add_library(${name} SHARED ${CMAKE_CURRENT_LIST_DIR}/crash_plugin.cpp)
  target_compile_definitions(${name} PRIVATE CRASH_MODE=${mode})
  target_compile_options(${name} PRIVATE ${WARNINGS})
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/src)
  set_target_properties(${name} PROPERTIES PREFIX ""
    RUNTIME_OUTPUT_DIRECTORY ${PLUGIN_OUT_DIR}
    LIBRARY_OUTPUT_DIRECTORY ${PLUGIN_OUT_DIR}
    ARCHIVE_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/crash-lib)
  add_dependencies(test_plugins ${name})
endforeach()
