// carvo-version: prints the version information stored in a library file, one entry a line.
//   carvo-version FILE

#include <iostream>
#include <string_view>

#include "resources/VersionInfo.h"
#include "tools/ElfSection.h"

int main(int argc, char** argv) {
    if (argc == 2 && (std::string_view(argv[1]) == "-h" || std::string_view(argv[1]) == "--help")) {
        std::cout << "usage: carvo-version FILE\n"
                     "\n"
                     "Prints the version information stored in a library file (libcarvo's\n"
                     "FILEVERSION, ProductName, CompanyName and the rest), one KEY=VALUE a line.\n"
                     "\n"
                     "  -h, --help    show this text.\n"
                     "  --version     show the program's own version.\n"
                     "\n"
                     "Exit status: 0 printed, 1 the file has no version information or cannot be\n"
                     "read, 2 wrong command line.\n";
        return 0;
    }
    if (argc == 2 && std::string_view(argv[1]) == "--version") {
        std::cout << "carvo-version " << CARVO_TOOLS_VERSION << '\n';
        return 0;
    }
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
