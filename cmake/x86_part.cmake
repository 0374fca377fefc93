# What the 32-bit part of a build makes (cmake/x86.cmake configures it):
# the server as scanserver32.exe beside the 64-bit one, and the 32-bit
# programs in bin/x86 (OUT_DIR here).
set_target_properties(scanserver PROPERTIES
  OUTPUT_NAME scanserver32
  RUNTIME_OUTPUT_DIRECTORY ${OUT_DIR}/..)

# Whether 32-bit programs run here at all, asked of something that is not
# the server (tests/support/machines.h).
add_executable(machine_probe ${PROJECT_SOURCE_DIR}/tests/support/machine_probe.cpp)
target_link_libraries(machine_probe PRIVATE orvanta_warnings)

if(BUILD_TESTS)
  # The fixtures (tests/plugins leaves out what only the 64-bit build
  # needs), the support library and the unit tests; the 64-bit build
  # registers them and the end-to-end tests on this server as x86.*.
  include(${PROJECT_SOURCE_DIR}/cmake/dependencies.cmake)
  add_subdirectory(${PROJECT_SOURCE_DIR}/tests/plugins ${PROJECT_BINARY_DIR}/tests/plugins)
  add_subdirectory(${PROJECT_SOURCE_DIR}/tests/support ${PROJECT_BINARY_DIR}/tests/support)
  add_subdirectory(${PROJECT_SOURCE_DIR}/tests ${PROJECT_BINARY_DIR}/tests)
  add_subdirectory(${PROJECT_SOURCE_DIR}/tools ${PROJECT_BINARY_DIR}/tools)
endif()
