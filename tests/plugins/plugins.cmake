# The scan fixtures: one configurable plugin source built into the variants
# that only the link or the resources can make, and the bundled samples.
# Every DLL is a plain module without the "lib" prefix.
function(scan_fixture_dll target outdir)
  cmake_parse_arguments(F "" "" "SOURCES;DEFINES" ${ARGN})
  add_library(${target} SHARED ${F_SOURCES})
  target_compile_definitions(${target} PRIVATE ${F_DEFINES})
  target_compile_options(${target} PRIVATE ${WARNINGS})
  target_include_directories(${target} PRIVATE ${CMAKE_SOURCE_DIR}/src)
  set_target_properties(${target} PROPERTIES
    PREFIX ""
    RUNTIME_OUTPUT_DIRECTORY ${outdir}
    ARCHIVE_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/lib)
  add_dependencies(test_plugins ${target})
endfunction()

set(TP_SOURCE ${CMAKE_CURRENT_LIST_DIR}/test_plugin.cpp)
set(TP_DIR ${CMAKE_CURRENT_LIST_DIR})

scan_fixture_dll(TestPlugin ${PLUGIN_OUT_DIR}
  SOURCES ${TP_SOURCE} DEFINES TP_EXPORT_VSTPLUGINMAIN)
scan_fixture_dll(TestPluginMainOnly ${PLUGIN_OUT_DIR}
  SOURCES ${TP_SOURCE} ${TP_DIR}/main_only.def DEFINES TP_EXPORT_MAIN)
scan_fixture_dll(TestPluginNoEntry ${PLUGIN_OUT_DIR}
  SOURCES ${TP_SOURCE} DEFINES TP_MARKER_EXPORT)
scan_fixture_dll(TestPluginJBridge ${PLUGIN_OUT_DIR}
  SOURCES ${TP_SOURCE} DEFINES TP_EXPORT_VSTPLUGINMAIN TP_EXPORT_JBRIDGE)
scan_fixture_dll(TestPluginVersionProduct ${PLUGIN_OUT_DIR}
  SOURCES ${TP_SOURCE} ${TP_DIR}/version_product.rc DEFINES TP_EXPORT_VSTPLUGINMAIN)
scan_fixture_dll(TestPluginVersionFile ${PLUGIN_OUT_DIR}
  SOURCES ${TP_SOURCE} ${TP_DIR}/version_file.rc DEFINES TP_EXPORT_VSTPLUGINMAIN)
scan_fixture_dll(TestPluginVersionZero ${PLUGIN_OUT_DIR}
  SOURCES ${TP_SOURCE} ${TP_DIR}/version_zero.rc DEFINES TP_EXPORT_VSTPLUGINMAIN)
scan_fixture_dll(TestPluginSynthEdit ${PLUGIN_OUT_DIR}
  SOURCES ${TP_SOURCE} ${TP_DIR}/synthedit.rc DEFINES TP_EXPORT_VSTPLUGINMAIN)

# Samples for the demo: built with everything, not only with the tests.
scan_fixture_dll(SampleEffect ${SAMPLE_OUT_DIR}
  SOURCES ${TP_DIR}/sample_plugin.cpp DEFINES SAMPLE_EFFECT)
scan_fixture_dll(SampleSynth ${SAMPLE_OUT_DIR}
  SOURCES ${TP_DIR}/sample_plugin.cpp DEFINES SAMPLE_SYNTH)
scan_fixture_dll(SampleShell ${SAMPLE_OUT_DIR}
  SOURCES ${TP_DIR}/sample_plugin.cpp DEFINES SAMPLE_SHELL)
# Samples that go wrong, so the demo shows a crash, a hang and a dialog.
scan_fixture_dll(SampleCrash ${SAMPLE_OUT_DIR}
  SOURCES ${TP_DIR}/sample_plugin.cpp DEFINES SAMPLE_CRASH)
scan_fixture_dll(SampleHang ${SAMPLE_OUT_DIR}
  SOURCES ${TP_DIR}/sample_plugin.cpp DEFINES SAMPLE_HANG)
scan_fixture_dll(SampleDialog ${SAMPLE_OUT_DIR}
  SOURCES ${TP_DIR}/sample_plugin.cpp DEFINES SAMPLE_DIALOG)
