# Design time. The pages' behaviour, self-registration, the pictures and the version
# information belong to libcarvo and stay free of Qt; the pages' Qt views, the property sheet
# and the tools are targets of their own.
target_sources(carvo_objects PRIVATE
    ${CMAKE_CURRENT_SOURCE_DIR}/DownLoad_Properties.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/About.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/Registration.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/resources/Pictures.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/resources/VersionInfo.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/resources/VersionSection.cpp
)
target_link_libraries(carvo_objects PRIVATE carvo_win)
target_link_libraries(carvo_core PRIVATE carvo_win ${CMAKE_DL_LIBS})

# A host's side of in-process servers: finds a class's library through the registry store and
# loads it. libcarvo offers it to its hosts; the tools here that load the library themselves
# link it statically and need not link libcarvo.
add_library(carvo_comhost_objects OBJECT ComHost.cpp)
target_include_directories(carvo_comhost_objects PUBLIC ${CMAKE_CURRENT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/Platform)
target_link_libraries(carvo_comhost_objects PUBLIC carvo_automation PRIVATE carvo_win)
carvo_warnings(carvo_comhost_objects)
add_library(carvo_comhost STATIC $<TARGET_OBJECTS:carvo_comhost_objects>)
target_include_directories(carvo_comhost PUBLIC ${CMAKE_CURRENT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/Platform)
target_link_libraries(carvo_comhost PUBLIC carvo_automation carvo_win ${CMAKE_DL_LIBS})

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
target_link_libraries(carvo_pages PUBLIC carvo_core carvo_designtools Qt6::Widgets)
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


add_executable(carvo-reg tools/reg.cpp)
target_link_libraries(carvo-reg PRIVATE carvo_win)
target_include_directories(carvo-reg PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
carvo_warnings(carvo-reg)

# The tools answer --version with the release they came with.
foreach(tool carvo-regsvr carvo-version carvo-propsheet carvo-reg)
    target_compile_definitions(${tool} PRIVATE
        CARVO_TOOLS_VERSION="${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH}")
endforeach()
