# The Debian packages, one per install component:
#   cmake -S . -B build-deb -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr
#   cmake --build build-deb -j2 && cpack --config build-deb/CPackConfig.cmake -G DEB -B build-deb/packages
# Dependencies on other packages are found from the binaries by dpkg-shlibdeps (dpkg-dev).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME carvo)
set(CPACK_PACKAGE_VENDOR "Carvo Software")
set(CPACK_PACKAGE_CONTACT "Carvo Software <suporte@carvo.example>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH})
set(CPACK_PACKAGE_HOMEPAGE_URL "https://carvo.example/")
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL lib dev tools propsheet veltrup)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The tools and Veltrup link libcarvo from the package built beside them.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR}/CarvoOCX)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
set(CPACK_STRIP_FILES ON)

set(debian_dir ${CMAKE_CURRENT_LIST_DIR}/debian)

# The maintainer scripts name the library's file as this build installs it.
set(CARVO_LIBRARY_FILE ${CMAKE_INSTALL_FULL_LIBDIR}/libcarvo.so.${CARVO_ABI_VERSION})
foreach(script postinst prerm)
    configure_file(${debian_dir}/carvo-tools/${script}.in
                   ${PROJECT_BINARY_DIR}/debian/carvo-tools/${script} @ONLY
                   FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                    WORLD_READ WORLD_EXECUTE)
endforeach()

# Checked while the packages are made (packaging/debian-stage.cmake, run by cpack on the staged
# files): libcarvo's exported symbols against the symbols file kept here (C++ names written
# demangled), which goes into the package with every symbol spelt out.
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/debian-stage.cmake)
set(CPACK_CARVO_SYMBOLS_TEMPLATE ${debian_dir}/libcarvo1/symbols.template)
set(CPACK_CARVO_SYMBOLS_FILE ${PROJECT_BINARY_DIR}/debian/libcarvo1/symbols)
file(MAKE_DIRECTORY ${PROJECT_BINARY_DIR}/debian/libcarvo1)
set(CPACK_CARVO_LIBRARY_FILE ${CARVO_LIBRARY_FILE})
set(CPACK_CARVO_LIB_PACKAGE libcarvo${CARVO_ABI_VERSION})
get_filename_component(CPACK_CARVO_STORE_DIR ${CARVO_REGISTRY_PATH} DIRECTORY)

set(CPACK_DEBIAN_LIB_PACKAGE_NAME libcarvo${CARVO_ABI_VERSION})
# CPack 3.25 writes no Multi-Arch field of its own; the value goes in after the section's, on a
# line of its own. Several architectures' libcarvo1 install side by side: every file they share
# (doc, store folder) is the same in each.
set(CPACK_DEBIAN_LIB_PACKAGE_SECTION "libs\nMulti-Arch: same")
set(CPACK_DEBIAN_LIB_PACKAGE_CONTROL_EXTRA ${debian_dir}/libcarvo1/postinst
    ${debian_dir}/libcarvo1/postrm ${debian_dir}/libcarvo1/triggers ${CPACK_CARVO_SYMBOLS_FILE})
set(CPACK_DEBIAN_LIB_PACKAGE_CONTROL_STRICT_PERMISSION ON)

set(CPACK_DEBIAN_DEV_PACKAGE_NAME libcarvo-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION "libdevel\nMulti-Arch: same")

set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME carvo-tools)
set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_TOOLS_PACKAGE_CONTROL_EXTRA
    ${PROJECT_BINARY_DIR}/debian/carvo-tools/postinst ${PROJECT_BINARY_DIR}/debian/carvo-tools/prerm)
set(CPACK_DEBIAN_TOOLS_PACKAGE_CONTROL_STRICT_PERMISSION ON)

set(CPACK_DEBIAN_PROPSHEET_PACKAGE_NAME carvo-propsheet)
set(CPACK_DEBIAN_PROPSHEET_PACKAGE_SECTION utils)

set(CPACK_DEBIAN_VELTRUP_PACKAGE_NAME veltrup)
set(CPACK_DEBIAN_VELTRUP_PACKAGE_SECTION utils)
# A product installed for the whole machine is updated with the administrator's password,
# asked by polkit; a desktop has both, and a per-user product needs neither.
set(CPACK_DEBIAN_VELTRUP_PACKAGE_RECOMMENDS "pkexec, polkitd")

include(CPack)

cpack_add_component(lib DISPLAY_NAME "libcarvo"
    DESCRIPTION "DownLoad control that fetches files over HTTP for its host
The control fetches one file over HTTP into a local file and reports
everything through events: status sentences, bytes received, percentage,
speed, time left, completion and failures. It probes the remote file, pauses,
cancels and resumes. It registers itself in the registry store in
/var/lib/carvo.")
cpack_add_component(dev DISPLAY_NAME "libcarvo development files" DEPENDS lib
    DESCRIPTION "headers, CMake package and pkg-config file for hosts of Carvo
What a program needs to host the DownLoad control: create it by class
identifier or ProgID through the registry store, call it by dispatch
identifier or name, pass Variants, and hear its events through its
connection point. find_package(Carvo) gives Carvo::carvo; pkg-config knows
it as carvo.")
cpack_add_component(tools DISPLAY_NAME "Carvo tools" DEPENDS lib
    DESCRIPTION "command-line host, registration and registry store tools for Carvo
carvo-get fetches a file with the DownLoad control, with a progress line,
pause, cancel and resume. carvo-regsvr registers the control's library in
the registry store (this package registers libcarvo when it is installed),
carvo-reg sets, reads and deletes a value in the store, as a product's
package does for its installed version, and carvo-version prints the
library's version information. None of them needs a desktop.")
cpack_add_component(propsheet DISPLAY_NAME "Carvo property sheet" DEPENDS lib tools
    DESCRIPTION "property pages of the Carvo DownLoad control for saved forms
carvo-propsheet edits the properties of the DownLoad controls of a saved form
on the control's own property pages, as a form designer does, and saves the
form. It is a Qt program.")
cpack_add_component(veltrup DISPLAY_NAME "Veltrup" DEPENDS lib
    DESCRIPTION "update wizard in Portuguese for an installed product
A three-step wizard that fetches a version file, compares it with the
installed version, downloads the update's installer with a progress display
and starts it. A product ships it in its own folder beside links.ini. For a
product installed for the whole machine, the installer is started as root
through pkexec, after a root helper has checked the maker's signature.
veltrup-sign is the maker's tool for signing the updates that Veltrup checks.")
