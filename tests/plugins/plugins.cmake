# The scan fixtures: one configurable plugin source built into the variants
# that only the link or the resources can make, and the bundled samples.

set(TP_SOURCE ${CMAKE_CURRENT_LIST_DIR}/test_plugin.cpp)
set(TP_DIR ${CMAKE_CURRENT_LIST_DIR})

fixture_plugin(TestPlugin OUTPUT ${PLUGIN_OUT_DIR}
  SOURCES ${TP_SOURCE} DEFINES TP_EXPORT_VSTPLUGINMAIN)
fixture_plugin(TestPluginMainOnly OUTPUT ${PLUGIN_OUT_DIR}
  SOURCES ${TP_SOURCE} ${TP_DIR}/main_only.def DEFINES TP_EXPORT_MAIN)
fixture_plugin(TestPluginNoEntry OUTPUT ${PLUGIN_OUT_DIR}
  SOURCES ${TP_SOURCE} DEFINES TP_MARKER_EXPORT)
fixture_plugin(TestPluginJBridge OUTPUT ${PLUGIN_OUT_DIR}
  SOURCES ${TP_SOURCE} DEFINES TP_EXPORT_VSTPLUGINMAIN TP_EXPORT_JBRIDGE)
fixture_plugin(TestPluginVersionProduct OUTPUT ${PLUGIN_OUT_DIR}
  SOURCES ${TP_SOURCE} ${TP_DIR}/version_product.rc DEFINES TP_EXPORT_VSTPLUGINMAIN)
fixture_plugin(TestPluginVersionFile OUTPUT ${PLUGIN_OUT_DIR}
  SOURCES ${TP_SOURCE} ${TP_DIR}/version_file.rc DEFINES TP_EXPORT_VSTPLUGINMAIN)
fixture_plugin(TestPluginVersionZero OUTPUT ${PLUGIN_OUT_DIR}
  SOURCES ${TP_SOURCE} ${TP_DIR}/version_zero.rc DEFINES TP_EXPORT_VSTPLUGINMAIN)
fixture_plugin(TestPluginSynthEdit OUTPUT ${PLUGIN_OUT_DIR}
  SOURCES ${TP_SOURCE} ${TP_DIR}/synthedit.rc DEFINES TP_EXPORT_VSTPLUGINMAIN)

# Samples for the demo: built with everything, not only with the tests.
fixture_plugin(SampleEffect OUTPUT ${SAMPLE_OUT_DIR}
  SOURCES ${TP_DIR}/sample_plugin.cpp DEFINES SAMPLE_EFFECT)
fixture_plugin(SampleSynth OUTPUT ${SAMPLE_OUT_DIR}
  SOURCES ${TP_DIR}/sample_plugin.cpp DEFINES SAMPLE_SYNTH)
fixture_plugin(SampleShell OUTPUT ${SAMPLE_OUT_DIR}
  SOURCES ${TP_DIR}/sample_plugin.cpp DEFINES SAMPLE_SHELL)
# Samples that go wrong, so the demo shows a crash, a hang and a dialog.
fixture_plugin(SampleCrash OUTPUT ${SAMPLE_OUT_DIR}
  SOURCES ${TP_DIR}/sample_plugin.cpp DEFINES SAMPLE_CRASH)
fixture_plugin(SampleHang OUTPUT ${SAMPLE_OUT_DIR}
  SOURCES ${TP_DIR}/sample_plugin.cpp DEFINES SAMPLE_HANG)
fixture_plugin(SampleDialog OUTPUT ${SAMPLE_OUT_DIR}
  SOURCES ${TP_DIR}/sample_plugin.cpp DEFINES SAMPLE_DIALOG)
