# The wizard (frmMain) and the Veltrup program. frmMain lives in a static library so that the
# tests can build the window around fake controls.
add_library(veltrup_main STATIC
    # The window: its controls, its look, its construction and navigation, one file a step.
    FormControls.cpp
    frmMain.Layout.cpp
    frmMain.cpp
    frmMain.VersionCheck.cpp
    frmMain.Download.cpp
    frmMain.HandOff.cpp
    # The program around it: the one-copy lock, the start of the installer, the ending signals
    # and the run.
    SingleInstanceLock.cpp
    InstallerCopy.cpp
    EndingSignals.cpp
    Program.cpp)
target_include_directories(veltrup_main PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(veltrup_main PUBLIC veltrup_helpers veltrup_verify carvo carvo_qthost Qt6::Widgets
                      PRIVATE Qt6::Svg)
carvo_warnings(veltrup_main)
# The pictures we drew for the window: its icon and the left strip.
qt_add_resources(veltrup_main "veltrup_pictures"
    PREFIX "/main"
    BASE ${CMAKE_CURRENT_SOURCE_DIR}/resources/main
    FILES ${CMAKE_CURRENT_SOURCE_DIR}/resources/main/icon.svg
          ${CMAKE_CURRENT_SOURCE_DIR}/resources/main/strip.svg)

add_executable(Veltrup main.cpp VersionSection.cpp)
target_link_libraries(Veltrup PRIVATE veltrup_main)
carvo_warnings(Veltrup)
