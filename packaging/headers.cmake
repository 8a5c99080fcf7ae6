# The headers a host builds against, and where each goes under include/carvo/. They include
# each other as <carvo/...>, as a host sees them once installed, so that a host needs only the
# system's include folder. The build tree gets the same layout of links to the sources, so the
# tree compiles against the very files it installs, and an edit of a header is seen at once.
set(CARVO_PUBLIC_HEADERS
    Platform/CarvoExport.h:.
    CarvoOCX/ComHost.h:.
    CarvoOCX/Library.h:.
    CarvoOCX/TypeLib.h:.
    Platform/automation/ClassFactory.h:automation
    Platform/automation/ComError.h:automation
    Platform/automation/Container.h:automation
    Platform/automation/Dispatch.h:automation
    Platform/automation/Events.h:automation
    Platform/automation/Guid.h:automation
    Platform/automation/PropertyBag.h:automation
    Platform/automation/TypeInfo.h:automation
    Platform/automation/Variant.h:automation
    Platform/file/RegularFile.h:file
    Platform/host/HostServices.h:host
    Platform/host/ConsoleHost.h:host
)
set(CARVO_BUILD_INCLUDE_DIR ${PROJECT_BINARY_DIR}/include)
file(REMOVE_RECURSE ${CARVO_BUILD_INCLUDE_DIR}/carvo)
foreach(entry IN LISTS CARVO_PUBLIC_HEADERS)
    string(REPLACE ":" ";" entry "${entry}")
    list(GET entry 0 source)
    list(GET entry 1 folder)
    get_filename_component(name ${source} NAME)
    file(MAKE_DIRECTORY ${CARVO_BUILD_INCLUDE_DIR}/carvo/${folder})
    file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${source} ${CARVO_BUILD_INCLUDE_DIR}/carvo/${folder}/${name}
         SYMBOLIC)
endforeach()
include_directories(${CARVO_BUILD_INCLUDE_DIR})
