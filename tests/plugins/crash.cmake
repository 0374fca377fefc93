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
  fixture_plugin(${name} OUTPUT ${PLUGIN_OUT_DIR}
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/crash_plugin.cpp DEFINES CRASH_MODE=${mode})
endforeach()
