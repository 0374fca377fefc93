# Client library fixtures: plugins that hang, wait on a dialog, crash late
# or once, and a shell with one crashing sub-plugin (modes in
# client_fixture.cpp); and a stand-in server that answers out of step, for
# the failures a real server cannot be made to show.
set(CLIENT_FIXTURES
  ClientHang:1
  ClientMessageBox:2
  ClientLateCrash:3
  ClientShellBadSub:4
  ClientSlowOnce:5
  ClientCrashOnce:6
  ClientShellHangSub:7)
foreach(fixture ${CLIENT_FIXTURES})
  string(REPLACE ":" ";" parts ${fixture})
  list(GET parts 0 name)
  list(GET parts 1 mode)
  fixture_plugin(${name} OUTPUT ${PLUGIN_OUT_DIR}
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/client_fixture.cpp DEFINES CLIENT_MODE=${mode} LIBS user32)
endforeach()

add_executable(fakeserver WIN32 ${CMAKE_SOURCE_DIR}/tests/support/fake_server.cpp)
target_link_libraries(fakeserver PRIVATE orvanta_warnings shell32)
set_target_properties(fakeserver PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${OUT_DIR})
add_dependencies(test_plugins fakeserver)
