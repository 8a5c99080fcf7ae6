# Run by cpack once the packages' files are staged, before the packages are made
# (CPACK_PRE_BUILD_SCRIPTS, set in packaging/debian.cmake); a failure here stops cpack.
#
# libcarvo1's symbols file, shipped in the package, names every symbol the library exports and
# the first version that had it, so that a program built against a later libcarvo1 depends on
# that version. The library must export exactly what packaging/debian/libcarvo1/symbols.template
# names (dpkg-gensymbols -c4; C++ names written demangled there): an added or a lost symbol
# stops the build. Add a new symbol to the template with the version that brings it (the diff
# printed below shows its line); a lost one breaks the ABI, and CARVO_ABI_VERSION goes up. The
# package gets the file as dpkg-gensymbols writes it for a package: every symbol by its name.
set(staged ${CPACK_TEMPORARY_INSTALL_DIRECTORY}/lib)
if(NOT EXISTS ${staged}${CPACK_CARVO_LIBRARY_FILE})
    message(FATAL_ERROR "libcarvo is not staged at ${staged}${CPACK_CARVO_LIBRARY_FILE}")
endif()

# The folder of the registry store belongs to libcarvo1, shipped empty; its writers make the
# store and its lock in it, and purge takes them (packaging/debian/libcarvo1/postrm).
file(MAKE_DIRECTORY ${staged}${CPACK_CARVO_STORE_DIR})

get_filename_component(real_library ${staged}${CPACK_CARVO_LIBRARY_FILE} REALPATH)
execute_process(
    COMMAND dpkg-gensymbols -p${CPACK_CARVO_LIB_PACKAGE} -v${CPACK_PACKAGE_VERSION} -P${staged}
            -e${real_library} -I${CPACK_CARVO_SYMBOLS_TEMPLATE} -O${CPACK_CARVO_SYMBOLS_FILE} -c4
    RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "libcarvo's exported symbols differ from ${CPACK_CARVO_SYMBOLS_TEMPLATE}:\n${out}")
endif()
