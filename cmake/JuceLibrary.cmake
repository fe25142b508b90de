# JUCE's eight modules compiled once into one static, position-independent library with hidden
# visibility; the processor, the plug-in, the editor and their tests all link this one target.
find_package(JUCE 7.0.5 CONFIG REQUIRED)

add_library(velmorant_juce STATIC)
target_link_libraries(velmorant_juce
  PRIVATE
    juce::juce_core juce::juce_events juce::juce_data_structures juce::juce_graphics
    juce::juce_gui_basics juce::juce_gui_extra juce::juce_audio_basics juce::juce_audio_processors
  PUBLIC
    juce::juce_recommended_config_flags
    juce::pkgconfig_JUCE_IMG_LINUX_DEPS)
target_compile_definitions(velmorant_juce PUBLIC
  JUCE_WEB_BROWSER=0 JUCE_USE_CURL=0 JUCE_STANDALONE_APPLICATION=0 JUCE_DISPLAY_SPLASH_SCREEN=0
  JUCE_GUI_BASICS_INCLUDE_XHEADERS=1 JUCE_MODAL_LOOPS_PERMITTED=0
  JucePlugin_Build_VST=0 JUCE_VST3_CAN_REPLACE_VST2=0)
set_target_properties(velmorant_juce PROPERTIES
  POSITION_INDEPENDENT_CODE ON
  C_VISIBILITY_PRESET hidden
  CXX_VISIBILITY_PRESET hidden
  VISIBILITY_INLINES_HIDDEN ON)
# Consumers see the modules' include paths and definitions without compiling their sources again.
target_include_directories(velmorant_juce INTERFACE
  $<TARGET_PROPERTY:velmorant_juce,INCLUDE_DIRECTORIES>)
target_compile_definitions(velmorant_juce INTERFACE
  $<TARGET_PROPERTY:velmorant_juce,COMPILE_DEFINITIONS>)
