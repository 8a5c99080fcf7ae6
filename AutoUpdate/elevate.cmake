# The helper that starts a checked installer as root for a user who may not write the product's
# folder, and the polkit action through which pkexec asks for the administrator's password.
# It links the window's library only for the installer check and the private copy of the
# installer, so that the bytes checked and started as root go through the same code as a start
# by the user.
function(veltrup_install_helper target store)
    add_executable(${target} elevate/veltrup-install-helper.cpp)
    target_link_libraries(${target} PRIVATE veltrup_main)
    target_compile_definitions(${target} PRIVATE VELTRUP_HELPER_STORE="${store}"
                               VELTRUP_HELPER_VERSION="${PROJECT_VERSION}")
    carvo_warnings(${target})
endfunction()

veltrup_install_helper(veltrup-install-helper "${CARVO_REGISTRY_PATH}")
set_target_properties(veltrup-install-helper PROPERTIES INSTALL_RPATH "$ORIGIN/../../${CMAKE_INSTALL_LIBDIR}")
# The tests' copy reads its store inside the build tree, which the tests lay out as root.
if(CARVO_BUILD_TESTS)
    veltrup_install_helper(veltrup-install-helper-testing
                           "${PROJECT_BINARY_DIR}/tests/elevate/store/registry.reg")
endif()

set(VELTRUP_HELPER_PATH ${CMAKE_INSTALL_FULL_LIBEXECDIR}/veltrup/veltrup-install-helper)
configure_file(${PROJECT_SOURCE_DIR}/packaging/polkit/org.parvix.veltrup.install.policy.in
               ${PROJECT_BINARY_DIR}/org.parvix.veltrup.install.policy @ONLY)
install(TARGETS veltrup-install-helper RUNTIME DESTINATION ${CMAKE_INSTALL_LIBEXECDIR}/veltrup
        COMPONENT veltrup)
install(FILES ${PROJECT_BINARY_DIR}/org.parvix.veltrup.install.policy
        DESTINATION ${CMAKE_INSTALL_DATADIR}/polkit-1/actions COMPONENT veltrup)

# The window's side: where the downloads go when the program folder is root's, and the start of
# the helper through pkexec.
target_sources(veltrup_main PRIVATE DownloadPlace.cpp ElevatedInstall.cpp)
target_compile_definitions(veltrup_main PUBLIC VELTRUP_INSTALL_HELPER="${VELTRUP_HELPER_PATH}")
