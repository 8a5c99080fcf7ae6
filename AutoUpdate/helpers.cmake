# The updater's helpers: the registry, profile, window and shell routines (mdlRegistry) and the
# About window (frmAbout).
add_library(veltrup_helpers STATIC mdlRegistry.cpp frmAbout.cpp)
set_target_properties(veltrup_helpers PROPERTIES AUTOMOC ON)
target_include_directories(veltrup_helpers PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(veltrup_helpers PUBLIC carvo_win carvo_winlist carvo_automation carvo_host Qt6::Widgets
                      PRIVATE Qt6::Svg)
carvo_warnings(veltrup_helpers)
# The pictures we drew for the About window and the pointer over its web address.
qt_add_resources(veltrup_helpers "veltrup_about_pictures"
    PREFIX "/about"
    BASE ${CMAKE_CURRENT_SOURCE_DIR}/resources/about
    FILES ${CMAKE_CURRENT_SOURCE_DIR}/resources/about/fundo.svg
          ${CMAKE_CURRENT_SOURCE_DIR}/resources/about/bra.svg
          ${CMAKE_CURRENT_SOURCE_DIR}/resources/about/emblema.svg
          ${CMAKE_CURRENT_SOURCE_DIR}/resources/about/mao.svg)
