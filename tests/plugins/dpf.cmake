# One real plugin we did not write the framework of: a small gain plugin of
# our own on the DISTRHO Plugin Framework (Debian's dpf-source, which ./run
# installs), built by DPF's own makefiles with our cross compilers into
# bin/dpf: DpfGain-vst.dll (VST 2), the bundle DpfGain.vst3 (VST3) and
# DpfGain.clap.
set(ORVANTA_DPF_PATH /usr/share/dpf CACHE PATH "DPF's sources (Debian's dpf-source)")
if(NOT EXISTS ${ORVANTA_DPF_PATH}/Makefile.plugins.mk)
  message(WARNING "No DPF at ${ORVANTA_DPF_PATH} (./run installs dpf-source): the DPF fixture is not built")
  return()
endif()
find_program(ORVANTA_MAKE NAMES make gmake)
if(NOT ORVANTA_MAKE)
  message(WARNING "No make program: the DPF fixture is not built")
  return()
endif()
set(dpf_source ${CMAKE_CURRENT_SOURCE_DIR}/dpf)
set(dpf_out ${OUT_DIR}/dpf)
set(dpf_outputs
  ${dpf_out}/DpfGain-vst.dll
  ${dpf_out}/DpfGain.vst3/Contents/${VST3_ARCH_FOLDER}/DpfGain.vst3
  ${dpf_out}/DpfGain.clap)
add_custom_command(OUTPUT ${dpf_outputs}
  # A make of its own, not a part of the outer one's job server.
  COMMAND ${CMAKE_COMMAND} -E env --unset=MAKEFLAGS --unset=MFLAGS --unset=MAKELEVEL
    ${ORVANTA_MAKE} -s -C ${dpf_source}
      CC=${CMAKE_C_COMPILER} CXX=${CMAKE_CXX_COMPILER} AR=${CMAKE_AR} WINDRES=${CMAKE_RC_COMPILER}
      PKG_CONFIG=false LDFLAGS=-static
      DPF_PATH=${ORVANTA_DPF_PATH} DPF_TARGET_DIR=${dpf_out}
      DPF_BUILD_DIR=${CMAKE_CURRENT_BINARY_DIR}/dpf-objects
  # make leaves files that were up to date alone; the outputs are newer than
  # the sources from here on either way.
  COMMAND ${CMAKE_COMMAND} -E touch ${dpf_outputs}
  DEPENDS ${dpf_source}/DpfGain.cpp ${dpf_source}/DistrhoPluginInfo.h ${dpf_source}/Makefile
  COMMENT "Building the DPF gain fixture (VST 2, VST3, CLAP)"
  VERBATIM)
add_custom_target(dpf_plugin DEPENDS ${dpf_outputs})
add_dependencies(test_plugins dpf_plugin)
