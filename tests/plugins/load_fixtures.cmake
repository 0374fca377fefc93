# Modules that cannot be loaded (modes in load_fixture.cpp): one that
# imports a DLL that is nowhere the server looks, and one built for 32-bit
# x86, which the x64 toolchain cannot make.
set(LOAD_SOURCE ${CMAKE_CURRENT_LIST_DIR}/load_fixture.cpp)

# Only its import library is used: the DLL stays in a folder of its own, so
# loading ClientMissingDep fails with error 126.
fixture_plugin(OrvantaMissingDep OUTPUT ${OUT_DIR}/missing-dep
  SOURCES ${LOAD_SOURCE} DEFINES LOAD_MODE=1)
fixture_plugin(ClientMissingDep OUTPUT ${PLUGIN_OUT_DIR}
  SOURCES ${LOAD_SOURCE} DEFINES LOAD_MODE=2 LIBS OrvantaMissingDep)

find_program(I686_CXX i686-w64-mingw32-g++-posix REQUIRED)
set(CLIENT_32BIT ${PLUGIN_OUT_DIR}/Client32Bit.dll)
add_custom_command(OUTPUT ${CLIENT_32BIT}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${PLUGIN_OUT_DIR}
  COMMAND ${I686_CXX} -shared -static -O2 -Wall -Wextra -DLOAD_MODE=3 -o ${CLIENT_32BIT} ${LOAD_SOURCE}
  DEPENDS ${LOAD_SOURCE}
  COMMENT "Building the 32-bit fixture Client32Bit.dll")
add_custom_target(Client32Bit DEPENDS ${CLIENT_32BIT})
add_dependencies(test_plugins Client32Bit)
