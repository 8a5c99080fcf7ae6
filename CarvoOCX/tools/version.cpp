// carvo-version: prints the version information stored in a library file, one entry a line.
//   carvo-version FILE

#include <iostream>

#include "resources/VersionInfo.h"
#include "tools/ElfSection.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: carvo-version FILE\n";
        return 2;
    }
    try {
        auto section = carvo::readElfSection(argv[1], carvo::kVersionSection);
        if (!section) {
            std::cerr << argv[1] << ": no version information\n";
            return 1;
        }
        for (const auto& [key, value] : carvo::parseVersionInfo(*section))
            std::cout << key << '=' << value << '\n';
    } catch (const std::exception& e) {
        std::cerr << e.what() << '\n';
        return 1;
    }
    return 0;
}
