# Design time. The pages' behaviour, self-registration, the pictures and the version
# information belong to libcarvo and stay free of Qt; the pages' Qt views, the property sheet
# and the tools are targets of their own.
target_sources(carvo PRIVATE
    ${CMAKE_CURRENT_SOURCE_DIR}/DownLoad_Properties.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/About.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/Registration.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/resources/Pictures.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/resources/VersionInfo.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/resources/VersionSection.cpp
)
target_link_libraries(carvo PRIVATE carvo_win ${CMAKE_DL_LIBS})

# A host's side of in-process servers: finds a class's library through the registry store and
# loads it. Hosts that use it need not link libcarvo.
add_library(carvo_comhost STATIC ComHost.cpp)
target_include_directories(carvo_comhost PUBLIC ${CMAKE_CURRENT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/Platform)
target_link_libraries(carvo_comhost PUBLIC carvo_automation carvo_win ${CMAKE_DL_LIBS})
carvo_warnings(carvo_comhost)

# Design-time logic with no screen: form files, the form's live controls and the property
# sheet's behaviour, and the reader of the library's version section.
add_library(carvo_designtools STATIC
    tools/FormFile.cpp
    tools/PropertySheet.cpp
    tools/ElfSection.cpp
    resources/VersionInfo.cpp
)
target_include_directories(carvo_designtools PUBLIC ${CMAKE_CURRENT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/Platform)
target_link_libraries(carvo_designtools PUBLIC carvo_automation)
carvo_warnings(carvo_designtools)

# The pages' Qt views, the property sheet dialog and carvo-propsheet's window.
add_library(carvo_pages STATIC
    pages/PageWidgets.cpp
    pages/DownLoadPropertiesView.cpp
    pages/AboutView.cpp
    pages/PropertySheetDialog.cpp
    pages/FormWindow.cpp
)
target_link_libraries(carvo_pages PUBLIC carvo carvo_designtools Qt6::Widgets)
# The views carry Q_OBJECT so that a test (or a host) finds them by type.
set_target_properties(carvo_pages PROPERTIES AUTOMOC ON)
carvo_warnings(carvo_pages)

add_executable(carvo-regsvr tools/regsvr.cpp)
target_link_libraries(carvo-regsvr PRIVATE carvo_comhost)
carvo_warnings(carvo-regsvr)

add_executable(carvo-version tools/version.cpp)
target_link_libraries(carvo-version PRIVATE carvo_designtools)
carvo_warnings(carvo-version)

add_executable(carvo-propsheet tools/propsheet.cpp)
target_link_libraries(carvo-propsheet PRIVATE carvo_pages carvo_comhost)
carvo_warnings(carvo-propsheet)

install(TARGETS carvo-regsvr carvo-version carvo-propsheet)
