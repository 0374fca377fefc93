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
  add_library(${name} SHARED ${CMAKE_CURRENT_LIST_DIR}/client_fixture.cpp)
  target_compile_definitions(${name} PRIVATE CLIENT_MODE=${mode})
  target_compile_options(${name} PRIVATE ${WARNINGS})
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/src)
  target_link_libraries(${name} PRIVATE user32)
  set_target_properties(${name} PROPERTIES PREFIX ""
    RUNTIME_OUTPUT_DIRECTORY ${PLUGIN_OUT_DIR}
    LIBRARY_OUTPUT_DIRECTORY ${PLUGIN_OUT_DIR}
    ARCHIVE_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/client-lib)
  add_dependencies(test_plugins ${name})
endforeach()

add_executable(fakeserver WIN32 ${CMAKE_SOURCE_DIR}/tests/support/fake_server.cpp)
target_compile_options(fakeserver PRIVATE ${WARNINGS})
target_link_libraries(fakeserver PRIVATE shell32)
set_target_properties(fakeserver PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${OUT_DIR})
add_dependencies(test_plugins fakeserver)
