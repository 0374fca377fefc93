# CLAP fixture modules (modes in clap/clap_fixture.cpp), laid out as a host
# finds them in bin/clap: each a single file NAME.clap.
set(CLAP_SOURCE ${CMAKE_CURRENT_LIST_DIR}/clap/clap_fixture.cpp)
set(CLAP_OUT_DIR ${OUT_DIR}/clap)

# clap_fixture(NAME MODE): built as bin/clap/NAME.clap.
function(clap_fixture name mode)
  fixture_plugin(${name} OUTPUT ${CLAP_OUT_DIR}
    SOURCES ${CLAP_SOURCE} DEFINES CLAP_MODE=${mode} LIBS user32)
  set_target_properties(${name} PROPERTIES SUFFIX ".clap")
endfunction()

clap_fixture(ClapEffect 1)
clap_fixture(ClapInstrument 2)
clap_fixture(ClapSuite 3)
clap_fixture(ClapLinked 4)
clap_fixture(ClapCrashEntryInit 5)
clap_fixture(ClapCrashFactory 6)
clap_fixture(ClapCrashCreate 7)
clap_fixture(ClapCrashPluginInit 8)
clap_fixture(ClapHangInit 9)
clap_fixture(ClapDialogInit 10)
clap_fixture(ClapInitFalse 11)
clap_fixture(ClapManyPlugins 12)
clap_fixture(ClapNullTexts 13)
clap_fixture(ClapLongTexts 14)
clap_fixture(ClapVersionZero 15)
clap_fixture(ClapHangDeinit 16)
clap_fixture(ClapCrashCleanup 17)
clap_fixture(ClapNoFactory 18)
clap_fixture(ClapNoDeinit 19)
clap_fixture(ClapAra 20)
clap_fixture(ClapAraDraft 21)

# A CLAP sample for the demo: the instrument as samples/SampleInstrument.clap.
add_custom_command(TARGET ClapInstrument POST_BUILD
  COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:ClapInstrument> ${SAMPLE_OUT_DIR}/SampleInstrument.clap)

# CLAP modules with a preset-discovery factory (modes in
# clap/clap_presets_fixture.cpp), in bin/clap beside the others.
set(CLAP_PRESETS_SOURCE ${CMAKE_CURRENT_LIST_DIR}/clap/clap_presets_fixture.cpp)

# clap_presets_fixture(NAME MODE): built as bin/clap/NAME.clap.
function(clap_presets_fixture name mode)
  fixture_plugin(${name} OUTPUT ${CLAP_OUT_DIR}
    SOURCES ${CLAP_PRESETS_SOURCE} DEFINES PRESETS_MODE=${mode} LIBS user32)
  set_target_properties(${name} PROPERTIES SUFFIX ".clap")
endfunction()

clap_presets_fixture(ClapPresets 1)
clap_presets_fixture(ClapPresetsDraft 2)
clap_presets_fixture(ClapPresetsFailing 3)
clap_presets_fixture(ClapPresetsCrashMetadata 4)
clap_presets_fixture(ClapPresetsHangInit 5)
clap_presets_fixture(ClapPresetsDialogInit 6)
clap_presets_fixture(ClapPresetsMany 7)
clap_presets_fixture(ClapPresetsLongTexts 8)
clap_presets_fixture(ClapPresetsOutOfPhase 9)

# The folder of presets ClapPresets declares beside itself, made afresh
# from clap/presets with every build of the module.
add_custom_command(TARGET ClapPresets POST_BUILD
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${CLAP_OUT_DIR}/ClapPresets-presets
  COMMAND ${CMAKE_COMMAND} -E copy_directory ${CMAKE_CURRENT_LIST_DIR}/clap/presets ${CLAP_OUT_DIR}/ClapPresets-presets)
