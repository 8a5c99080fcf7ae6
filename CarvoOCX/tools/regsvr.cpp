// carvo-regsvr: registers or unregisters an in-process server library, as an installer does:
// it loads the file and calls the library's own entry point.
//   carvo-regsvr [-u] [--store FILE] LIBRARY
// Without --store the library registers in the machine-wide registry store.

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <iostream>
#include <string>

#include "ComHost.h"
#include "Registration.h"
#include "tools/ShellWords.h"
#include "win/RegistryStore.h"

namespace {

constexpr const char* kUsage = "usage: carvo-regsvr [-u] [--store FILE] LIBRARY\n";

constexpr const char* kHelp =
    "\n"
    "Registers or unregisters an in-process server library, as an installer does: loads\n"
    "LIBRARY and calls its own entry point (DllRegisterServer, or DllUnregisterServer with -u).\n"
    "Without --store the library registers in the machine-wide registry store.\n"
    "\n"
    "  -u            unregister instead of register.\n"
    "  --store FILE  use the registry store FILE instead of the machine-wide one.\n"
    "  -h, --help    show this text.\n"
    "  --version     show the program's version.\n"
    "\n"
    "Registering in the machine-wide store needs root's rights: run it as root (sudo).\n"
    "\n"
    "Exit status: 0 done, 1 the entry point failed or the library could not be loaded,\n"
    "2 wrong command line.\n";

int usage() {
    std::cerr << kUsage;
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    bool unregister = false;
    std::string store;
    std::string library;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (argc == 2 && (arg == "-h" || arg == "--help")) {
            std::cout << kUsage << kHelp;
            return 0;
        }
        if (argc == 2 && arg == "--version") {
            std::cout << "carvo-regsvr " << CARVO_TOOLS_VERSION << '\n';
            return 0;
        }
        if (arg == "-u" || arg == "/u") {
            unregister = true;
        } else if (arg == "--store" && i + 1 < argc) {
            store = argv[++i];
        } else if (!arg.empty() && arg[0] != '-' && library.empty()) {
            library = arg;
        } else {
            return usage();
        }
    }
    if (library.empty()) return usage();

    try {
        // A bare name would be looked up on the loader's path and might find another copy.
        auto server = carvo::InprocServer::load(std::filesystem::absolute(library).string());
        carvo::HResult status = 0;
        if (store.empty()) {
            status = unregister ? server->unregisterServer() : server->registerServer();
        } else {
            status =
                unregister ? server->unregisterServerIn(store) : server->registerServerIn(store);
        }
        const char* what = unregister ? "DllUnregisterServer" : "DllRegisterServer";
        if (status != 0) {
            std::fprintf(stderr, "%s in %s failed: 0x%08X\n", what, library.c_str(),
                         static_cast<unsigned>(status));
            // The number alone tells a user nothing: say what was refused and the way on. A
            // store folder that is not there yet is one that only root may make.
            const std::filesystem::path file =
                store.empty() ? carvo::defaultRegistryPath() : std::filesystem::path(store);
            std::error_code ec;
            const bool noFolder = file.has_parent_path() &&
                                  !std::filesystem::exists(file.parent_path(), ec) &&
                                  ::geteuid() != 0;
            if (status == CARVO_E_ACCESSDENIED || noFolder) {
                std::fprintf(stderr, "You have no permission to change the registry store %s.\n",
                             file.c_str());
                if (::geteuid() != 0)
                    std::fprintf(stderr, "Run it as root: sudo %s\n",
                                 carvo::shellWords("carvo-regsvr", argc, argv).c_str());
            } else if (status == CARVO_E_FILETOOLARGE) {
                std::fprintf(stderr,
                             "The registry store %s cannot take this: a store may hold at most "
                             "%zu MiB. Nothing was written.\n",
                             file.c_str(), carvo::kMaxStoreBytes / (1024 * 1024));
            }
            return 1;
        }
        std::printf("%s in %s succeeded.\n", what, library.c_str());
    } catch (const carvo::ComError& e) {
        std::fprintf(stderr, "%s (0x%08X)\n", e.what(), static_cast<unsigned>(e.code()));
        return 1;
    }
    return 0;
}
