# Where the compilers differ, in one place. Targets link these interface
# targets instead of spelling flags themselves:
#   orvanta_warnings      the warning level every target of ours builds with
#   orvanta_no_exceptions the server's style: no C++ exceptions, no RTTI
# and every binary gets a static runtime, so it imports only system DLLs.
add_library(orvanta_warnings INTERFACE)
add_library(orvanta_no_exceptions INTERFACE)
if(MSVC)
  target_compile_options(orvanta_warnings INTERFACE /W4)
  target_compile_options(orvanta_no_exceptions INTERFACE /EHs-c- /GR-)
  set(CMAKE_MSVC_RUNTIME_LIBRARY "MultiThreaded$<$<CONFIG:Debug>:Debug>")
else()
  target_compile_options(orvanta_warnings INTERFACE -Wall -Wextra)
  target_compile_options(orvanta_no_exceptions INTERFACE -fno-exceptions -fno-rtti)
  set(CMAKE_EXE_LINKER_FLAGS "${CMAKE_EXE_LINKER_FLAGS} -static")
  set(CMAKE_SHARED_LINKER_FLAGS "${CMAKE_SHARED_LINKER_FLAGS} -static")
endif()
