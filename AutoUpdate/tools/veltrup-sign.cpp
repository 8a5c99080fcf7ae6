// veltrup-sign: the maker's tool for publishing updates that Veltrup will accept.
// Exit codes: 0 done, 1 failed or refused, 2 wrong command line.

#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "MakerKeys.h"
#include "UpdateVerifier.h"
#include "mdlRegistry.h"

namespace {

constexpr const char* kUsage =
    "usage: veltrup-sign keygen DIR\n"
    "       veltrup-sign sign [--with-old-signature] SECRET_KEY INSTALLER VERSION [NAME]\n"
    "       veltrup-sign verify LINKS_INI UPDATE_INI INSTALLER\n"
    "       veltrup-sign --help\n";

constexpr const char* kHelp =
    "\n"
    "keygen DIR\n"
    "    Makes the maker's key pair: DIR/maker.key (secret, readable by you alone) and\n"
    "    DIR/maker.pub. DIR is created when missing. Never overwrites an existing key.\n"
    "    Prints the line to put into section [MAIN] of the links.ini shipped with the\n"
    "    product:  PublicKey=...\n"
    "\n"
    "sign [--with-old-signature] SECRET_KEY INSTALLER VERSION [NAME]\n"
    "    Prints the lines to paste into section [MAIN] of the version file:\n"
    "    Version=VERSION, Shell=NAME, Size=..., SHA256=... and StatementSignature=...\n"
    "    (Ed25519 over those four lines, so the installer is accepted only as this\n"
    "    version and under this name). NAME is the name Veltrup saves and starts the\n"
    "    installer under; it defaults to the installer's own file name.\n"
    "    --with-old-signature adds Signature=..., the form that copies of Veltrup\n"
    "    installed before the statement existed check (see docs/publishing.md).\n"
    "\n"
    "verify LINKS_INI UPDATE_INI INSTALLER\n"
    "    Runs the check Veltrup runs after downloading, before anything is uploaded.\n"
    "\n"
    "Exit status: 0 done, 1 failed or refused, 2 wrong command line.\n";

int usage() {
    std::fputs(kUsage, stderr);
    return 2;
}

int failed(const std::string& error) {
    std::fprintf(stderr, "veltrup-sign: %s\n", error.c_str());
    return 1;
}

int keygen(const std::string& dir) {
    std::string error;
    const auto files = veltrup::maker::generateKeys(dir, error);
    if (!files) return failed(error);
    std::fprintf(stderr,
                 "Wrote %s (secret: keep it off the server, and keep a copy somewhere safe) and %s.\n"
                 "Put this line into section [MAIN] of links.ini:\n",
                 files->secretFile.c_str(), files->publicFile.c_str());
    std::printf("PublicKey=%s\n", files->publicKey.c_str());
    return 0;
}

int sign(const std::string& keyFile, const std::string& installer, const std::string& version,
         const std::string& name, bool withOldSignature) {
    std::string error;
    struct stat st {};
    if (::stat(keyFile.c_str(), &st) == 0 && (st.st_mode & 077) != 0)
        std::fprintf(stderr, "veltrup-sign: warning: %s can be read by others than you\n", keyFile.c_str());
    const auto key = veltrup::maker::loadSecretKey(keyFile, error);
    if (!key) return failed(error);
    const auto lines =
        veltrup::maker::signInstaller(*key, installer, version, name, error, withOldSignature);
    if (!lines) return failed(error);
    // The download control counts bytes in a signed 32-bit number.
    if (veltrup::release::parseSize(lines->size).value_or(0) > static_cast<std::uint64_t>(INT32_MAX))
        std::fprintf(stderr, "veltrup-sign: warning: the updater cannot download files of 2 GiB or more\n");
    std::fputs(lines->text().c_str(), stdout);
    return 0;
}

int verify(const std::string& links, const std::string& versionFile, const std::string& installer) {
    // Veltrup saves and starts the installer under the version file's Shell, whatever the
    // maker's own copy is called.
    const std::string shell = veltrup::ReadProfileString("MAIN", "Shell", "Erro", versionFile);
    // Veltrup refuses such a name before it downloads anything, signed or not.
    if (!veltrup::maker::isUpdateName(shell)) {
        std::printf("refused: Shell \"%s\" is not a name the updater saves and starts\n",
                    shell.c_str());
        return 1;
    }
    const auto result = veltrup::verifyUpdate(versionFile, links, installer, shell);
    std::printf("%s: %s\n", result.ok ? "accepted" : "refused", result.reason.c_str());
    return result.ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
        std::fputs(kUsage, stdout);
        std::fputs(kHelp, stdout);
        return 0;
    }
    if (args.empty()) return usage();
    const std::string_view command = args[0];
    if (command == "keygen" && args.size() == 2) return keygen(args[1]);
    if (command == "sign") {
        const bool old = args.size() > 1 && args[1] == "--with-old-signature";
        const std::vector<std::string> rest(args.begin() + (old ? 2 : 1), args.end());
        if (rest.size() == 3 || rest.size() == 4)
            return sign(
                rest[0], rest[1], rest[2],
                rest.size() == 4 ? rest[3] : std::filesystem::path(rest[1]).filename().string(),
                old);
    }
    if (command == "verify" && args.size() == 4) return verify(args[1], args[2], args[3]);
    return usage();
}
