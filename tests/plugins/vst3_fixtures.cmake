# VST3 fixture modules (modes in vst3/vst3_fixture.cpp), laid out as a host
# finds them in bin/vst3: each a bundle NAME.vst3/Contents/x86_64-win/NAME.vst3
# (x86-win in the 32-bit part), Vst3Legacy a single file Vst3Legacy.vst3;
# and two broken bundles, one without its binary and one whose binary has
# another name. A fixture with
# MODULE_INFO gets vst3/NAME.moduleinfo.json as its bundle's
# Contents/Resources/moduleinfo.json.
set(VST3_SOURCE ${CMAKE_CURRENT_LIST_DIR}/vst3/vst3_fixture.cpp)
set(VST3_INFO_DIR ${CMAKE_CURRENT_LIST_DIR}/vst3)
set(VST3_OUT_DIR ${OUT_DIR}/vst3)
set(VST3_DLL_DIR ${CMAKE_CURRENT_BINARY_DIR}/vst3-dll)

# vst3_fixture(NAME MODE [SINGLE_FILE] [MODULE_INFO]): built as NAME.dll,
# copied into place.
function(vst3_fixture name mode)
  cmake_parse_arguments(F "SINGLE_FILE;MODULE_INFO" "" "" ${ARGN})
  fixture_plugin(${name} OUTPUT ${VST3_DLL_DIR}
    SOURCES ${VST3_SOURCE} DEFINES VST3_MODE=${mode} LIBS ole32 user32)
  # 32-bit: the exports are __stdcall, and a module exports them without
  # the @N decoration (GetPluginFactory, not GetPluginFactory@0).
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    target_link_options(${name} PRIVATE -Wl,--kill-at)
  endif()
  if(F_SINGLE_FILE)
    set(target_path ${VST3_OUT_DIR}/${name}.vst3)
  else()
    set(target_path ${VST3_OUT_DIR}/${name}.vst3/Contents/${VST3_ARCH_FOLDER}/${name}.vst3)
  endif()
  get_filename_component(target_dir ${target_path} DIRECTORY)
  add_custom_command(TARGET ${name} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E make_directory ${target_dir}
    COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:${name}> ${target_path})
  if(F_MODULE_INFO)
    set(info ${VST3_INFO_DIR}/${name}.moduleinfo.json)
    set(resources ${VST3_OUT_DIR}/${name}.vst3/Contents/Resources)
    add_custom_command(TARGET ${name} POST_BUILD
      COMMAND ${CMAKE_COMMAND} -E make_directory ${resources}
      COMMAND ${CMAKE_COMMAND} -E copy ${info} ${resources}/moduleinfo.json)
    # A changed file relinks the fixture, which copies it again.
    set_property(TARGET ${name} APPEND PROPERTY LINK_DEPENDS ${info})
  endif()
endfunction()

vst3_fixture(Vst3Effect 1)
vst3_fixture(Vst3Instrument 2)
vst3_fixture(Vst3Suite 3)
vst3_fixture(Vst3Legacy 4 SINGLE_FILE)
vst3_fixture(Vst3CrashInitDll 5)
vst3_fixture(Vst3CrashFactory 6)
vst3_fixture(Vst3CrashClassInfo 7)
vst3_fixture(Vst3CrashInitialize 8)
vst3_fixture(Vst3CrashCleanup 9)
vst3_fixture(Vst3HangInitialize 10)
vst3_fixture(Vst3DialogInitialize 11)
vst3_fixture(Vst3ManyClasses 12)
vst3_fixture(Vst3BadTexts 13)
vst3_fixture(Vst3NullFactory 14)
vst3_fixture(Vst3UnicodeNames 15)
vst3_fixture(Vst3ComState 16)
vst3_fixture(Vst3HangExitDll 17)
vst3_fixture(Vst3UnicodeOnly 18 MODULE_INFO)
vst3_fixture(Vst3Ara 19 MODULE_INFO)

# Vst3NoBinary.vst3: Contents/x86_64-win (x86-win) is there, empty.
# Vst3WrongName.vst3: its binary is Contents/x86_64-win/Vst3Effect.vst3.
add_custom_target(Vst3BrokenBundles
  COMMAND ${CMAKE_COMMAND} -E make_directory ${VST3_OUT_DIR}/Vst3NoBinary.vst3/Contents/${VST3_ARCH_FOLDER}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${VST3_OUT_DIR}/Vst3WrongName.vst3/Contents/${VST3_ARCH_FOLDER}
  COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:Vst3Effect>
    ${VST3_OUT_DIR}/Vst3WrongName.vst3/Contents/${VST3_ARCH_FOLDER}/Vst3Effect.vst3
  DEPENDS Vst3Effect)
add_dependencies(test_plugins Vst3BrokenBundles)

# A VST3 sample for the demo: the suite (two effects and their controller) as
# the bundle samples/SampleSuite.vst3.
add_custom_command(TARGET Vst3Suite POST_BUILD
  COMMAND ${CMAKE_COMMAND} -E make_directory ${SAMPLE_OUT_DIR}/SampleSuite.vst3/Contents/${VST3_ARCH_FOLDER}
  COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:Vst3Suite>
    ${SAMPLE_OUT_DIR}/SampleSuite.vst3/Contents/${VST3_ARCH_FOLDER}/SampleSuite.vst3)
