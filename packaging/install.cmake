# What `cmake --install` puts where, in four components that are also the four Debian
# packages (packaging/debian.cmake): lib (libcarvo1), dev (libcarvo-dev), tools
# (carvo-tools) and veltrup (veltrup).
include(CMakePackageConfigHelpers)

set(CARVO_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Carvo)

# The programs find libcarvo through their run path, relative to where they are, wherever the
# whole tree is installed; libcarvo itself links only the system's libraries and needs none.
set_target_properties(carvo PROPERTIES INSTALL_RPATH "")
# Veltrup is also copied by a product into its own folder (for example /opt/parvix-2002/),
# with libcarvo beside it in lib/ when the product brings its own copy of the library.
set_target_properties(Veltrup PROPERTIES INSTALL_RPATH "$ORIGIN/lib;$ORIGIN/../${CMAKE_INSTALL_LIBDIR}")
target_compile_features(carvo INTERFACE cxx_std_20)

install(TARGETS carvo EXPORT CarvoTargets
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT lib NAMELINK_COMPONENT dev)

# The headers a host needs: creating the control by class identifier or ProgID through the
# registry store (ComHost.h) or in process (Library.h), the type library's identifiers
# (TypeLib.h), dispatch, Variants, events and connection points, the container's side, property
# bags, and the host services a control calls back into.
set(carvo_include ${CMAKE_INSTALL_INCLUDEDIR}/carvo)
install(FILES ${PROJECT_SOURCE_DIR}/Platform/CarvoExport.h
              ${PROJECT_SOURCE_DIR}/CarvoOCX/ComHost.h
              ${PROJECT_SOURCE_DIR}/CarvoOCX/Library.h
              ${PROJECT_SOURCE_DIR}/CarvoOCX/TypeLib.h
        DESTINATION ${carvo_include} COMPONENT dev)
install(FILES ${PROJECT_SOURCE_DIR}/Platform/automation/ClassFactory.h
              ${PROJECT_SOURCE_DIR}/Platform/automation/ComError.h
              ${PROJECT_SOURCE_DIR}/Platform/automation/Container.h
              ${PROJECT_SOURCE_DIR}/Platform/automation/Dispatch.h
              ${PROJECT_SOURCE_DIR}/Platform/automation/Events.h
              ${PROJECT_SOURCE_DIR}/Platform/automation/Guid.h
              ${PROJECT_SOURCE_DIR}/Platform/automation/PropertyBag.h
              ${PROJECT_SOURCE_DIR}/Platform/automation/TypeInfo.h
              ${PROJECT_SOURCE_DIR}/Platform/automation/Variant.h
        DESTINATION ${carvo_include}/automation COMPONENT dev)
install(FILES ${PROJECT_SOURCE_DIR}/Platform/file/RegularFile.h
        DESTINATION ${carvo_include}/file COMPONENT dev)
install(FILES ${PROJECT_SOURCE_DIR}/Platform/host/HostServices.h
              ${PROJECT_SOURCE_DIR}/Platform/host/ConsoleHost.h
        DESTINATION ${carvo_include}/host COMPONENT dev)

install(EXPORT CarvoTargets NAMESPACE Carvo:: DESTINATION ${CARVO_CMAKE_DIR} COMPONENT dev)
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/CarvoConfig.cmake.in
    ${PROJECT_BINARY_DIR}/CarvoConfig.cmake INSTALL_DESTINATION ${CARVO_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/CarvoConfigVersion.cmake
    VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/CarvoConfig.cmake ${PROJECT_BINARY_DIR}/CarvoConfigVersion.cmake
        DESTINATION ${CARVO_CMAKE_DIR} COMPONENT dev)

# carvo.pc names its prefix relative to its own folder, so that it stays right wherever the
# tree is installed (cmake --install --prefix, a package's staging folder).
file(RELATIVE_PATH CARVO_PC_PREFIX "/p/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/p")
configure_file(${CMAKE_CURRENT_LIST_DIR}/carvo.pc.in ${PROJECT_BINARY_DIR}/carvo.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/carvo.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT dev)

install(TARGETS carvo-get carvo-regsvr carvo-version carvo-propsheet
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tools)
install(TARGETS Veltrup veltrup-sign RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT veltrup)

# Manual pages and the packages' change log go in compressed, as Debian keeps them (gzip -n:
# no name or time stamp inside, so that the same sources give the same files).
set(carvo_gz_files "")
function(carvo_gzip source output)
    add_custom_command(OUTPUT ${output} COMMAND gzip -9nc ${source} > ${output}
                       DEPENDS ${source} VERBATIM)
    set(carvo_gz_files ${carvo_gz_files} ${output} PARENT_SCOPE)
endfunction()
foreach(page carvo-get carvo-regsvr carvo-version carvo-propsheet Veltrup veltrup-sign)
    carvo_gzip(${PROJECT_SOURCE_DIR}/docs/man/${page}.1 ${PROJECT_BINARY_DIR}/man/${page}.1.gz)
endforeach()
carvo_gzip(${CMAKE_CURRENT_LIST_DIR}/debian/changelog ${PROJECT_BINARY_DIR}/changelog.Debian.gz)
add_custom_target(carvo_compressed_docs ALL DEPENDS ${carvo_gz_files})

set(man1 ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${PROJECT_BINARY_DIR}/man/carvo-get.1.gz ${PROJECT_BINARY_DIR}/man/carvo-regsvr.1.gz
              ${PROJECT_BINARY_DIR}/man/carvo-version.1.gz
              ${PROJECT_BINARY_DIR}/man/carvo-propsheet.1.gz
        DESTINATION ${man1} COMPONENT tools)
install(FILES ${PROJECT_BINARY_DIR}/man/Veltrup.1.gz ${PROJECT_BINARY_DIR}/man/veltrup-sign.1.gz
        DESTINATION ${man1} COMPONENT veltrup)

# Every package carries the copyright and the change log in its own doc folder.
set(package_lib libcarvo${CARVO_ABI_VERSION})
set(package_dev libcarvo-dev)
set(package_tools carvo-tools)
set(package_veltrup veltrup)
foreach(component lib dev tools veltrup)
    install(FILES ${CMAKE_CURRENT_LIST_DIR}/debian/copyright ${PROJECT_BINARY_DIR}/changelog.Debian.gz
            DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package_${component}} COMPONENT ${component})
endforeach()

# Veltrup's icon, and the desktop entry that a product's package installs (after putting its
# name and folder in) so that its users find the updater in their menu.
install(FILES ${PROJECT_SOURCE_DIR}/AutoUpdate/resources/main/icon.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps RENAME veltrup.svg
        COMPONENT veltrup)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/product/parvix-2002-atualizar.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/veltrup COMPONENT veltrup)

include(${CMAKE_CURRENT_LIST_DIR}/debian.cmake)
