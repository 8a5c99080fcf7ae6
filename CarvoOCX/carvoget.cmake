# carvo-get, the command-line host of the control. Its command line and progress line are a
# library of their own so the tests can reach them without starting the program.
add_library(carvo_get_core STATIC carvo-get/Options.cpp carvo-get/Progress.cpp)
target_include_directories(carvo_get_core PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/carvo-get)
target_compile_definitions(carvo_get_core PRIVATE CARVO_VERSION="${PROJECT_VERSION}")
carvo_warnings(carvo_get_core)

# libsodium hashes a checked download (--sha256) and names its staged file.
add_executable(carvo-get carvo-get/main.cpp carvo-get/Session.cpp carvo-get/StagedFile.cpp
                         carvo-get/Terminal.cpp)
target_link_libraries(carvo-get PRIVATE carvo_core carvo_get_core PkgConfig::SODIUM)
carvo_warnings(carvo-get)
