# Crash fixtures: one source, one DLL per way of crashing (see the modes in
# crash_plugin.cpp).
fixture_plugin_modes(SOURCE ${CMAKE_CURRENT_LIST_DIR}/crash_plugin.cpp DEFINE CRASH_MODE FIXTURES
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
