# The plug-in: one shared-code target (Quorvalis1) and its VST3 bundle (Quorvalis1_VST3).
juce_add_plugin(Quorvalis1
    PRODUCT_NAME "Quorvalis1"
    COMPANY_NAME "Pellam Drovik"
    COMPANY_WEBSITE "https://quorvalis.invalid"
    COMPANY_EMAIL "support@quorvalis.invalid"
    VERSION 1.0.2
    PLUGIN_MANUFACTURER_CODE Tavo
    PLUGIN_CODE Qvl1
    FORMATS VST3
    VST3_CATEGORIES Fx
    IS_SYNTH FALSE
    NEEDS_MIDI_INPUT FALSE
    NEEDS_MIDI_OUTPUT FALSE
    IS_MIDI_EFFECT FALSE
    EDITOR_WANTS_KEYBOARD_FOCUS FALSE
    COPY_PLUGIN_AFTER_BUILD FALSE)

file(GLOB QVL_PROCESSOR_SOURCES CONFIGURE_DEPENDS
    ${PROJECT_SOURCE_DIR}/processor/*.cpp
    ${PROJECT_SOURCE_DIR}/editor/*.cpp
    ${PROJECT_SOURCE_DIR}/editor/components/*.cpp)
target_sources(Quorvalis1 PRIVATE ${QVL_PROCESSOR_SOURCES})
# The processor's pitch, position and period arithmetic must round exactly as the engine's does:
# no fused multiply-adds, whatever the target's default.
set_source_files_properties(${QVL_PROCESSOR_SOURCES} PROPERTIES COMPILE_OPTIONS -ffp-contract=off)
target_include_directories(Quorvalis1 PUBLIC ${PROJECT_SOURCE_DIR})

target_compile_definitions(Quorvalis1 PUBLIC
    JUCE_VST3_CAN_REPLACE_VST2=0
    JUCE_WEB_BROWSER=0
    JUCE_USE_CURL=0
    JUCE_DISPLAY_SPLASH_SCREEN=0
    JUCE_REPORT_APP_USAGE=0
    JUCE_MODAL_LOOPS_PERMITTED=0)

target_link_libraries(Quorvalis1
    PRIVATE
        juce::juce_audio_processors
        juce::juce_dsp
    PUBLIC
        qvl_engine
        juce::juce_recommended_config_flags
        juce::juce_recommended_warning_flags)

# Executables that need the plug-in's classes link the shared-code target itself
# instead of compiling the JUCE modules a second time.
function(qvl_use_plugin_code target)
    target_link_libraries(${target} PRIVATE Quorvalis1)
    target_include_directories(${target} PRIVATE $<TARGET_PROPERTY:Quorvalis1,INCLUDE_DIRECTORIES>)
    target_compile_definitions(${target} PRIVATE $<TARGET_PROPERTY:Quorvalis1,COMPILE_DEFINITIONS>)
endfunction()
