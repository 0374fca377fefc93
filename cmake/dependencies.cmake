# Third-party code the host side and the tests use, all from Debian's
# packages (./run installs them).
#
# nlohmann-json and CLI11 are header-only and live in /usr/include, which a
# cross build must not search whole (it holds Linux's C library headers): a
# folder of links to just those two goes on the include path instead, as the
# interface target orvanta_host_libs.
set(ORVANTA_HOST_LIBS_INCLUDE ${PROJECT_BINARY_DIR}/host-libs/include)
file(MAKE_DIRECTORY ${ORVANTA_HOST_LIBS_INCLUDE})
foreach(lib nlohmann CLI)
  if(NOT EXISTS /usr/include/${lib})
    message(FATAL_ERROR "/usr/include/${lib} is missing: ./run installs it")
  endif()
  file(CREATE_LINK /usr/include/${lib} ${ORVANTA_HOST_LIBS_INCLUDE}/${lib} SYMBOLIC)
endforeach()
add_library(orvanta_host_libs INTERFACE)
target_include_directories(orvanta_host_libs SYSTEM INTERFACE
  $<BUILD_INTERFACE:${ORVANTA_HOST_LIBS_INCLUDE}>)

# GoogleTest is built from Debian's source package with the cross compiler.
set(ORVANTA_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources")
