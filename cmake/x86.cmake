# The 32-bit part of the build: this same source tree configured with the
# i686 toolchain (cmake/mingw32.cmake) into x86/, as a build of its own that
# the 64-bit build runs each time (it is incremental, and joins the outer
# make's jobs). It puts the server at bin/scanserver32.exe, the trivial
# program that tells whether 32-bit programs run here at
# bin/x86/machine_probe.exe, and with the tests the 32-bit fixtures in
# bin/x86 (the same layout as the 64-bit ones in bin) and the 32-bit unit
# tests at bin/x86/unit_tests.exe and its benchmark at
# bin/x86/server_bench.exe. What it builds: cmake/x86_part.cmake.
include(ExternalProject)
ExternalProject_Add(x86
  SOURCE_DIR ${PROJECT_SOURCE_DIR}
  BINARY_DIR ${PROJECT_BINARY_DIR}/x86
  PREFIX ${PROJECT_BINARY_DIR}/x86-steps
  CMAKE_ARGS
    -DCMAKE_TOOLCHAIN_FILE=${PROJECT_SOURCE_DIR}/cmake/mingw32.cmake
    -DCMAKE_BUILD_TYPE=${CMAKE_BUILD_TYPE}
    -DORVANTA_X86_PART=ON
    -DORVANTA_X86_OUT_DIR=${OUT_DIR}/x86
    -DBUILD_TESTS=${BUILD_TESTS}
    -DORVANTA_INSTALL=OFF
    -DORVANTA_GOOGLETEST_SOURCE=${ORVANTA_GOOGLETEST_SOURCE}
    -DORVANTA_DPF_PATH=${ORVANTA_DPF_PATH}
  INSTALL_COMMAND ""
  BUILD_ALWAYS ON
  BUILD_BYPRODUCTS ${OUT_DIR}/scanserver32.exe ${OUT_DIR}/x86/machine_probe.exe
    ${OUT_DIR}/x86/unit_tests.exe ${OUT_DIR}/x86/server_bench.exe)
