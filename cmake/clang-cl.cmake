# The server in MSVC mode without MSVC: Debian's clang-cl, lld-link and
# llvm-rc against Wine's own Windows and C runtime headers and its PE import
# libraries (packages clang-14, lld-14, llvm-14, libwine-dev, wine64-tools;
# ./run installs them). Programs run under Wine.
#
# The client library and the tools need MSVC's C++ standard library, which
# nothing here provides: this toolchain builds the server only.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)

set(LLVM_BIN /usr/lib/llvm-14/bin)
set(WINE_INCLUDE /usr/include/wine/wine)
set(WINE_IMPORT_LIBS /usr/lib/x86_64-linux-gnu/wine/x86_64-windows)
set(CLANG_CL_STANDIN ${CMAKE_CURRENT_LIST_DIR}/clang-cl)

set(CMAKE_C_COMPILER ${LLVM_BIN}/clang-cl)
set(CMAKE_CXX_COMPILER ${LLVM_BIN}/clang-cl)
set(CMAKE_LINKER ${LLVM_BIN}/lld-link)
set(CMAKE_AR ${LLVM_BIN}/llvm-lib)
set(CMAKE_RC_COMPILER ${LLVM_BIN}/llvm-rc)
set(CMAKE_MT ${LLVM_BIN}/llvm-mt)

# Only Wine's headers, never the Linux ones. What Wine's headers need to
# act like the Windows SDK's under an MSVC-mode compiler:
#   WINE_UNICODE_NATIVE       WCHAR is wchar_t (not char16_t)
#   USE_COMPILER_EXCEPTIONS   GetExceptionCode and friends are the compiler's
#   _InterlockedCompareExchange128  Wine's inline version clashes with
#                             clang's built-in of that name
# and the stand-in folder adds the one C++ header the server includes.
set(_flags "--target=x86_64-pc-windows-msvc -fms-compatibility-version=19.29 /X"
  "-imsvc ${CLANG_CL_STANDIN}/include -imsvc ${WINE_INCLUDE}/msvcrt -imsvc ${WINE_INCLUDE}/windows"
  "-DWINE_UNICODE_NATIVE -DUSE_COMPILER_EXCEPTIONS"
  "-D_InterlockedCompareExchange128=WineInterlockedCompareExchange128")
string(JOIN " " _flags ${_flags})
set(CMAKE_C_FLAGS_INIT "${_flags}")
set(CMAKE_CXX_FLAGS_INIT "${_flags}")
set(CMAKE_RC_FLAGS_INIT "/I ${WINE_INCLUDE}/windows")

# Wine names its import libraries libNAME.a, where a Windows SDK has
# NAME.lib: a folder of NAME.lib links to them goes on the library path.
set(_libs ${CMAKE_BINARY_DIR}/wine-import-libs)
if(NOT EXISTS ${_libs}/kernel32.lib)
  file(MAKE_DIRECTORY ${_libs})
  file(GLOB _archives ${WINE_IMPORT_LIBS}/lib*.a)
  foreach(_archive IN LISTS _archives)
    get_filename_component(_name ${_archive} NAME_WE)
    string(REGEX REPLACE "^lib" "" _name ${_name})
    file(CREATE_LINK ${_archive} ${_libs}/${_name}.lib SYMBOLIC)
  endforeach()
endif()
# No MSVC runtime library to link by default; the manifest is the server's
# own resource, so the linker makes none.
set(_link "/libpath:${_libs} /nodefaultlib /manifest:no")
set(CMAKE_EXE_LINKER_FLAGS_INIT "${_link}")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "${_link}")
# The compiler checks link nothing: there is no start-up code to link yet.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)

# The start-up code and the few pieces the MSVC runtime would give a
# program, built beside the project's own targets (see clang-cl/runtime.cmake).
set(CMAKE_PROJECT_INCLUDE ${CLANG_CL_STANDIN}/runtime.cmake)
set(ORVANTA_SERVER_ONLY ON CACHE BOOL "Build only the scan server")

set(CMAKE_FIND_ROOT_PATH ${WINE_INCLUDE} ${WINE_IMPORT_LIBS})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/lib/wine/wine64)
