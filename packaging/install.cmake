# What `cmake --install` puts where, in five components that are also the five Debian
# packages (packaging/debian.cmake): lib (libcarvo1), dev (libcarvo-dev), tools
# (carvo-tools), propsheet (carvo-propsheet, the one tool that needs Qt) and veltrup (veltrup).
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
# bags, and the host services a control calls back into (the list: packaging/headers.cmake).
foreach(entry IN LISTS CARVO_PUBLIC_HEADERS)
    string(REPLACE ":" ";" entry "${entry}")
    list(GET entry 0 source)
    list(GET entry 1 folder)
    install(FILES ${PROJECT_SOURCE_DIR}/${source}
            DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/carvo/${folder} COMPONENT dev)
endforeach()

install(EXPORT CarvoTargets NAMESPACE Carvo:: DESTINATION ${CARVO_CMAKE_DIR} COMPONENT dev)
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/CarvoConfig.cmake.in
    ${PROJECT_BINARY_DIR}/CarvoConfig.cmake INSTALL_DESTINATION ${CARVO_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/CarvoConfigVersion.cmake
    VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/CarvoConfig.cmake ${PROJECT_BINARY_DIR}/CarvoConfigVersion.cmake
        DESTINATION ${CARVO_CMAKE_DIR} COMPONENT dev)

# carvo.pc names the prefix the tree is built for, as pkg-config files do; a tree installed
# elsewhere (cmake --install --prefix) is used with pkg-config --define-variable=prefix=...
configure_file(${CMAKE_CURRENT_LIST_DIR}/carvo.pc.in ${PROJECT_BINARY_DIR}/carvo.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/carvo.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT dev)

install(TARGETS carvo-get carvo-regsvr carvo-version carvo-reg
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tools)
install(TARGETS carvo-propsheet RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT propsheet)
install(TARGETS Veltrup veltrup-sign RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT veltrup)

# Manual pages and the packages' change log go in compressed, as Debian keeps them (gzip -n:
# no name or time stamp inside, so that the same sources give the same files).
set(carvo_gz_files "")
function(carvo_gzip source output)
    add_custom_command(OUTPUT ${output} COMMAND gzip -9nc ${source} > ${output}
                       DEPENDS ${source} VERBATIM)
    set(carvo_gz_files ${carvo_gz_files} ${output} PARENT_SCOPE)
endfunction()
foreach(page carvo-get carvo-regsvr carvo-version carvo-reg carvo-propsheet Veltrup veltrup-sign)
    carvo_gzip(${PROJECT_SOURCE_DIR}/docs/man/${page}.1 ${PROJECT_BINARY_DIR}/man/${page}.1.gz)
endforeach()
carvo_gzip(${CMAKE_CURRENT_LIST_DIR}/debian/changelog ${PROJECT_BINARY_DIR}/changelog.Debian.gz)
add_custom_target(carvo_compressed_docs ALL DEPENDS ${carvo_gz_files})

set(man1 ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${PROJECT_BINARY_DIR}/man/carvo-get.1.gz ${PROJECT_BINARY_DIR}/man/carvo-regsvr.1.gz
              ${PROJECT_BINARY_DIR}/man/carvo-version.1.gz ${PROJECT_BINARY_DIR}/man/carvo-reg.1.gz
        DESTINATION ${man1} COMPONENT tools)
install(FILES ${PROJECT_BINARY_DIR}/man/carvo-propsheet.1.gz DESTINATION ${man1} COMPONENT propsheet)
install(FILES ${PROJECT_BINARY_DIR}/man/Veltrup.1.gz ${PROJECT_BINARY_DIR}/man/veltrup-sign.1.gz
        DESTINATION ${man1} COMPONENT veltrup)

# Every package carries the copyright and the change log in its own doc folder.
set(package_lib libcarvo${CARVO_ABI_VERSION})
set(package_dev libcarvo-dev)
set(package_tools carvo-tools)
set(package_propsheet carvo-propsheet)
set(package_veltrup veltrup)
foreach(component lib dev tools propsheet veltrup)
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
