// carvo-reg: sets, reads and deletes one value of the registry store, as a product's package
// does when it is installed and removed (the installed version, for the updater to read).
//   carvo-reg [--store FILE] set KEY NAME VALUE [--type sz|expand_sz|dword]
//   carvo-reg [--store FILE] get KEY NAME
//   carvo-reg [--store FILE] delete KEY [NAME]
// Writes go through the store's own writer: under its lock, the file replaced atomically, every
// other line kept as it was.

#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

#include "tools/ShellWords.h"
#include "win/RegistryStore.h"

namespace {

constexpr const char* kUsage =
    "usage: carvo-reg [--store FILE] set KEY NAME VALUE [--type sz|expand_sz|dword]\n"
    "       carvo-reg [--store FILE] get KEY NAME\n"
    "       carvo-reg [--store FILE] delete KEY [NAME]\n";

constexpr const char* kHelp =
    "\n"
    "Sets, reads and deletes a value in the registry store, under the store's lock, keeping\n"
    "every other line of the file as it is. KEY starts with its root: HKEY_LOCAL_MACHINE\n"
    "(HKLM), HKEY_CURRENT_USER (HKCU), HKEY_CLASSES_ROOT (HKCR) or HKEY_USERS (HKU). An empty\n"
    "NAME ('') names the key's default value.\n"
    "\n"
    "  set     writes VALUE as NAME of KEY, creating the key as needed.\n"
    "  get     prints the value: text as it is, a dword in decimal.\n"
    "  delete  removes NAME of KEY, or without NAME the key with its sub-keys; then the keys\n"
    "          this leaves empty. Nothing to remove is not an error.\n"
    "\n"
    "  --type TYPE   the type of the value set: sz (text, the default), expand_sz, or dword\n"
    "                (a number from 0 to 4294967295, decimal or 0x hexadecimal).\n"
    "  --store FILE  use the registry store FILE instead of the machine-wide one.\n"
    "  -h, --help    show this text.\n"
    "  --version     show the program's version.\n"
    "\n"
    "Writing the machine-wide store needs root's rights: run it as root (sudo).\n"
    "\n"
    "Exit status: 0 done, 1 the value is not there (get) or the store could not be read or\n"
    "written, 2 wrong command line.\n";

int usage(std::string_view why = {}) {
    if (!why.empty()) std::cerr << "carvo-reg: " << why << '\n';
    std::cerr << kUsage;
    return 2;
}

// The platform's short names for the roots, as its own registry command line takes them.
std::string fullKeyPath(std::string_view key) {
    static constexpr std::pair<std::string_view, std::string_view> kShort[] = {
        {"HKLM", "HKEY_LOCAL_MACHINE"},
        {"HKCU", "HKEY_CURRENT_USER"},
        {"HKCR", "HKEY_CLASSES_ROOT"},
        {"HKU", "HKEY_USERS"},
    };
    const std::string_view root = key.substr(0, key.find('\\'));
    for (auto [abbreviation, name] : kShort) {
        if (root == abbreviation) return std::string(name) + std::string(key.substr(root.size()));
    }
    return std::string(key);
}

bool startsWithRoot(std::string_view key) {
    const std::string_view root = key.substr(0, key.find('\\'));
    for (std::uint32_t handle : {carvo::HKeyClassesRoot, carvo::HKeyCurrentUser,
                                 carvo::HKeyLocalMachine, carvo::HKeyUsers}) {
        if (root == carvo::rootName(handle)) return true;
    }
    return false;
}

std::optional<std::uint32_t> parseDword(std::string_view text) {
    int base = 10;
    if (text.starts_with("0x") || text.starts_with("0X")) {
        text.remove_prefix(2);
        base = 16;
    }
    std::uint32_t n = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), n, base);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return n;
}

void printValue(const carvo::RegValue& value) {
    using carvo::RegType;
    switch (value.type) {
        case RegType::Sz:
        case RegType::ExpandSz: {
            std::string text(value.data.begin(), value.data.end());
            while (!text.empty() && text.back() == '\0') text.pop_back();
            std::cout << text << '\n';
            return;
        }
        case RegType::Dword:
            if (value.data.size() == 4) {
                std::uint32_t n = 0;
                for (std::size_t i = 4; i-- > 0;) n = (n << 8) | value.data[i];
                std::cout << n << '\n';
                return;
            }
            break;
        default:
            break;
    }
    // Any other type as the file writes raw bytes.
    std::string hex;
    char buf[4];
    for (std::uint8_t b : value.data) {
        std::snprintf(buf, sizeof buf, "%02x", b);
        if (!hex.empty()) hex += ',';
        hex += buf;
    }
    std::cout << "hex(" << static_cast<std::uint32_t>(value.type) << "):" << hex << '\n';
}

// Removes the key and then its parents while each holds nothing at all.
void pruneEmpty(carvo::RegistryData& data, std::string path) {
    while (!path.empty() && data.deleteEmptyKey(path)) {
        std::size_t cut = path.rfind('\\');
        if (cut == std::string::npos) return;
        path.resize(cut);
    }
}

}  // namespace

int main(int argc, char** argv) {
    std::string store;
    std::string type = "sz";
    std::vector<std::string> words;
    for (int i = 1; i < argc; ++i) {
        std::string_view arg = argv[i];
        if (argc == 2 && (arg == "-h" || arg == "--help")) {
            std::cout << kUsage << kHelp;
            return 0;
        }
        if (argc == 2 && arg == "--version") {
            std::cout << "carvo-reg " << CARVO_TOOLS_VERSION << '\n';
            return 0;
        }
        if (arg == "--store" && i + 1 < argc) {
            store = argv[++i];
        } else if (arg == "--type" && i + 1 < argc) {
            type = argv[++i];
        } else if (arg.starts_with("--") || arg == "-h") {
            return usage("unknown option " + std::string(arg));
        } else {
            words.emplace_back(arg);
        }
    }
    if (words.empty()) return usage();
    const std::string command = words[0];
    const std::size_t operands = words.size() - 1;
    if ((command == "set" && operands != 3) || (command == "get" && operands != 2) ||
        (command == "delete" && operands != 1 && operands != 2))
        return usage();
    if (command != "set" && command != "get" && command != "delete")
        return usage("unknown command " + command);
    if (command != "set" && type != "sz") return usage("--type goes with set");

    const std::string key = fullKeyPath(words[1]);
    if (!startsWithRoot(key))
        return usage("the key " + key + " does not start with a root such as HKEY_LOCAL_MACHINE");
    const std::string name = operands >= 2 ? words[2] : std::string();
    // Everything of every program under a root: never by one command.
    if (command == "delete" && operands == 1 && key.find('\\') == std::string::npos)
        return usage("a whole root is not deleted: name a key under it");

    carvo::RegistryStore registry(store.empty() ? carvo::defaultRegistryPath()
                                                : std::filesystem::path(store));
    if (command == "get") {
        carvo::RegKey opened = registry.openKey(key);
        if (opened.openStatus() == carvo::regerr::AccessDenied ||
            opened.openStatus() == carvo::regerr::CantRead) {
            std::cerr << "carvo-reg: cannot read the registry store " << registry.file().string()
                      << '\n';
            return 1;
        }
        carvo::RegValue value;
        if (opened.queryValue(name, value) != carvo::regerr::Success) {
            std::cerr << "carvo-reg: no value '" << name << "' in " << key << '\n';
            return 1;
        }
        printValue(value);
        return 0;
    }

    carvo::RegValue value;
    if (command == "set") {
        if (type == "sz") {
            value = carvo::RegValue::sz(words[3]);
        } else if (type == "expand_sz") {
            value = carvo::RegValue::expandSz(words[3]);
        } else if (type == "dword") {
            auto n = parseDword(words[3]);
            if (!n) return usage("not a dword: " + words[3]);
            value = carvo::RegValue::dword(*n);
        } else {
            return usage("unknown type " + type + " (sz, expand_sz or dword)");
        }
    }

    try {
        registry.update([&](carvo::RegistryData& data) {
            if (command == "set") {
                data.setValue(key, name, value);
            } else if (operands == 2) {
                if (data.deleteValue(key, name)) pruneEmpty(data, key);
            } else {
                data.deleteKey(key);
                const std::size_t cut = key.rfind('\\');
                if (cut != std::string::npos) pruneEmpty(data, key.substr(0, cut));
            }
        });
    } catch (const std::system_error& e) {
        const int err = e.code().value();
        std::cerr << "carvo-reg: cannot write the registry store " << registry.file().string()
                  << " (" << e.what() << ")";
        // A folder that is not there yet is one that root makes (the store's writer creates
        // it); another user can neither make it nor write in it.
        std::error_code ec;
        const bool noFolder = err == ENOENT && registry.file().has_parent_path() &&
                              !std::filesystem::exists(registry.file().parent_path(), ec);
        if ((err == EACCES || err == EPERM || noFolder) && ::geteuid() != 0)
            std::cerr << ": you have no permission to change it.\nRun it as root: sudo "
                      << carvo::shellWords("carvo-reg", argc, argv);
        std::cerr << '\n';
        return 1;
    } catch (const std::invalid_argument& e) {
        return usage(e.what());
    } catch (const std::exception& e) {
        std::cerr << "carvo-reg: cannot write the registry store " << registry.file().string()
                  << " (" << e.what() << ")\n";
        return 1;
    }
    return 0;
}
