# JUCE's eight modules compiled once into one static, position-independent library with hidden
# visibility; the processor, the plug-in, the editor and their tests all link this one target.
find_package(JUCE 7.0.5 CONFIG REQUIRED)

add_library(velmorant_juce STATIC)
target_link_libraries(velmorant_juce
  PRIVATE
    juce::juce_core juce::juce_events juce::juce_data_structures juce::juce_graphics
    juce::juce_gui_basics juce::juce_gui_extra juce::juce_audio_basics juce::juce_audio_processors
  PUBLIC
    juce::juce_recommended_config_flags)
if(WIN32)
  # Debian's JUCE takes zlib, libpng and libjpeg from the system; for Windows they are static
  # MinGW builds (zlib from Debian's MinGW package, the others from scripts/build-windows-deps.sh).
  find_library(VELMORANT_PNG_LIBRARY NAMES libpng16.a REQUIRED)
  find_library(VELMORANT_JPEG_LIBRARY NAMES libjpeg.a REQUIRED)
  find_library(VELMORANT_Z_LIBRARY NAMES libz.a REQUIRED)
  find_path(VELMORANT_IMG_INCLUDE png.h REQUIRED)
  target_include_directories(velmorant_juce PUBLIC "${VELMORANT_IMG_INCLUDE}")
  target_link_libraries(velmorant_juce PUBLIC
    "${VELMORANT_PNG_LIBRARY}" "${VELMORANT_JPEG_LIBRARY}" "${VELMORANT_Z_LIBRARY}")
else()
  target_link_libraries(velmorant_juce PUBLIC juce::pkgconfig_JUCE_IMG_LINUX_DEPS)
endif()
target_compile_definitions(velmorant_juce PUBLIC
  JUCE_WEB_BROWSER=0 JUCE_USE_CURL=0 JUCE_STANDALONE_APPLICATION=0 JUCE_DISPLAY_SPLASH_SCREEN=0
  JUCE_GUI_BASICS_INCLUDE_XHEADERS=1 JUCE_MODAL_LOOPS_PERMITTED=0
  JucePlugin_Build_VST=0 JUCE_VST3_CAN_REPLACE_VST2=0)
set_target_properties(velmorant_juce PROPERTIES
  POSITION_INDEPENDENT_CODE ON
  C_VISIBILITY_PRESET hidden
  CXX_VISIBILITY_PRESET hidden
  VISIBILITY_INLINES_HIDDEN ON)
# Consumers see the modules' include paths (as system headers, so our warnings stay ours) and
# definitions without compiling their sources again.
target_include_directories(velmorant_juce SYSTEM INTERFACE
  $<TARGET_PROPERTY:velmorant_juce,INCLUDE_DIRECTORIES>)
target_compile_definitions(velmorant_juce INTERFACE
  $<TARGET_PROPERTY:velmorant_juce,COMPILE_DEFINITIONS>)
