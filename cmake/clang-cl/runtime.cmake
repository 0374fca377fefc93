# Included after project() by the clang-cl toolchain: the stand-in for the
# MSVC runtime library's start-up code, which Wine does not ship, linked
# into every target of the project (the compiler checks link nothing).
if(PROJECT_NAME STREQUAL "CMAKE_TRY_COMPILE" OR TARGET clang_cl_runtime)
  return()
endif()
add_library(clang_cl_runtime STATIC ${CMAKE_CURRENT_LIST_DIR}/msvc_startup.cpp)
# The start-up code sets the /GS cookie up, so it cannot be checked itself.
target_compile_options(clang_cl_runtime PRIVATE /GS- /EHs-c- /GR- /W4)
set_property(TARGET clang_cl_runtime PROPERTY MSVC_RUNTIME_LIBRARY MultiThreaded)
target_link_libraries(clang_cl_runtime PUBLIC ucrtbase kernel32)
link_libraries(clang_cl_runtime)
