# Checking a downloaded installer against the maker's key; the maker's signing tool.
# The check includes no Qt: it is a function over three files, which the window calls. The
# rules on versions and names (UpdateRules) are shared by the window and the signing tool.
add_library(veltrup_verify STATIC UpdateVerifier.cpp UpdateRules.cpp)
target_include_directories(veltrup_verify PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(veltrup_verify PUBLIC veltrup_helpers PkgConfig::SODIUM)
carvo_warnings(veltrup_verify)

# The key pair and the signing, apart from the command line so that the tests can reach them.
add_library(veltrup_sign_core STATIC tools/MakerKeys.cpp)
target_include_directories(veltrup_sign_core PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/tools)
target_link_libraries(veltrup_sign_core PUBLIC veltrup_verify)
carvo_warnings(veltrup_sign_core)

add_executable(veltrup-sign tools/veltrup-sign.cpp)
target_link_libraries(veltrup-sign PRIVATE veltrup_sign_core)
target_compile_definitions(veltrup-sign PRIVATE CARVO_VERSION="${PROJECT_VERSION}")
carvo_warnings(veltrup-sign)
