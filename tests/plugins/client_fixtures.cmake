# Client library fixtures: plugins that hang, wait on a dialog, crash late
# or once, and a shell with one crashing sub-plugin (modes in
# client_fixture.cpp); and a stand-in server that answers out of step, for
# the failures a real server cannot be made to show.
fixture_plugin_modes(SOURCE ${CMAKE_CURRENT_LIST_DIR}/client_fixture.cpp DEFINE CLIENT_MODE
  LIBS user32 FIXTURES
  ClientHang:1
  ClientMessageBox:2
  ClientLateCrash:3
  ClientShellBadSub:4
  ClientSlowOnce:5
  ClientCrashOnce:6
  ClientShellHangSub:7)

if(ORVANTA_X86_PART)
  return()
endif()
add_executable(fakeserver WIN32 ${PROJECT_SOURCE_DIR}/tests/support/fake_server.cpp)
target_link_libraries(fakeserver PRIVATE orvanta_warnings shell32)
set_target_properties(fakeserver PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${OUT_DIR})
add_dependencies(test_plugins fakeserver)
