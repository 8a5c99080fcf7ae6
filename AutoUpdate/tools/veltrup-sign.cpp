// veltrup-sign: the maker's tool for publishing updates that Veltrup will accept.
// Exit codes: 0 done, 1 failed or refused, 2 wrong command line.

#include <sys/stat.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "MakerKeys.h"
#include "UpdateRules.h"
#include "UpdateVerifier.h"
#include "mdlRegistry.h"

namespace {

constexpr const char* kUsage =
    "usage: veltrup-sign keygen DIR\n"
    "       veltrup-sign sign [--expires WHEN] [--product NAME] [--now TIME] "
    "[--with-old-signature]\n"
    "                         SECRET_KEY INSTALLER VERSION [NAME]\n"
    "       veltrup-sign verify [--now TIME] [--product NAME] LINKS_INI UPDATE_INI INSTALLER\n"
    "       veltrup-sign --help | --version\n";

constexpr const char* kHelp =
    "\n"
    "keygen DIR\n"
    "    Makes the maker's key pair: DIR/maker.key (secret, readable by you alone) and\n"
    "    DIR/maker.pub. DIR is created when missing. Never overwrites an existing key.\n"
    "    Prints the line to put into section [MAIN] of the links.ini shipped with the\n"
    "    product:  PublicKey=...\n"
    "\n"
    "sign [options] SECRET_KEY INSTALLER VERSION [NAME]\n"
    "    Prints the lines to paste into section [MAIN] of the version file: Version,\n"
    "    Shell, Size, SHA256, Product, Expires (with --expires), StatementSignature (for\n"
    "    copies of Veltrup from before expiries) and StatementSignature2 (over all of\n"
    "    them), so the installer is accepted only as this version, under this name, for\n"
    "    this product and until the expiry. NAME is the name Veltrup saves and starts the\n"
    "    installer under; it defaults to the installer's own file name. VERSION must be\n"
    "    one Veltrup can compare: a number with \".\" as its decimal point, within 32 bits.\n"
    "    --expires WHEN  the statement expires WHEN: 30d or 12h from now, or a time in\n"
    "                    UTC as 2027-01-31T12:00:00Z. Without it, it never expires.\n"
    "    --product NAME  the product it is for (default: {product}).\n"
    "    --now TIME      take TIME (UTC, as above) as now, for --expires 30d.\n"
    "    --with-old-signature  adds Signature=..., the form that copies of Veltrup\n"
    "                    installed before the statement existed check (see\n"
    "                    docs/publishing.md).\n"
    "\n"
    "verify [options] LINKS_INI UPDATE_INI INSTALLER\n"
    "    Runs the checks Veltrup runs on the version file as it arrives and on the\n"
    "    installer after downloading, before anything is uploaded. LINKS_INI may hold\n"
    "    several keys (PublicKey, PublicKey2 ...) and RequireExpiry=1.\n"
    "    --now TIME      check the expiry as at TIME (UTC, as above) instead of now.\n"
    "    --product NAME  the product Veltrup updates (default: {product}).\n"
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

std::chrono::sys_seconds systemNow() {
    return std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::now());
}

// The command line after the command: options (anywhere) and the plain arguments.
struct CommandLine {
    std::vector<std::string> plain;
    bool withOldSignature = false;
    std::optional<std::string> expires, product, now;
    bool ok = true;
};

CommandLine parse(const std::vector<std::string>& args) {
    CommandLine line;
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        std::optional<std::string>* valued = arg == "--expires"   ? &line.expires
                                             : arg == "--product" ? &line.product
                                             : arg == "--now"     ? &line.now
                                                                  : nullptr;
        if (valued) {
            if (i + 1 == args.size() || valued->has_value())
                line.ok = false;
            else
                *valued = args[++i];
        } else if (arg == "--with-old-signature") {
            line.withOldSignature = true;
        } else if (arg.starts_with("--")) {
            line.ok = false;
        } else {
            line.plain.push_back(arg);
        }
    }
    return line;
}

std::optional<std::chrono::sys_seconds> nowFrom(const CommandLine& line, std::string& error) {
    if (!line.now) return systemNow();
    auto now = veltrup::release::parseUtcTime(*line.now);
    if (!now)
        error = "--now takes a time in UTC as YYYY-MM-DDTHH:MM:SSZ, not \"" + *line.now + "\"";
    return now;
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

int sign(const CommandLine& line) {
    const std::string& keyFile = line.plain[0];
    const std::string& installer = line.plain[1];
    const std::string& version = line.plain[2];
    const std::string name = line.plain.size() == 4
                                 ? line.plain[3]
                                 : std::filesystem::path(installer).filename().string();
    std::string error;
    veltrup::maker::SignOptions options;
    options.withOldSignature = line.withOldSignature;
    if (line.product) options.product = *line.product;
    const auto now = nowFrom(line, error);
    if (!now) return failed(error);
    if (line.expires &&
        !(options.expires = veltrup::maker::parseExpiry(*line.expires, *now, error)))
        return failed(error);
    struct stat st {};
    if (::stat(keyFile.c_str(), &st) == 0 && (st.st_mode & 077) != 0)
        std::fprintf(stderr, "veltrup-sign: warning: %s can be read by others than you\n", keyFile.c_str());
    const auto key = veltrup::maker::loadSecretKey(keyFile, error);
    if (!key) return failed(error);
    const auto lines = veltrup::maker::signRelease(*key, installer, version, name, options, error);
    if (!lines) return failed(error);
    // The download control counts bytes in a signed 32-bit number.
    if (veltrup::release::parseSize(lines->size).value_or(0) > static_cast<std::uint64_t>(INT32_MAX))
        std::fprintf(stderr, "veltrup-sign: warning: the updater cannot download files of 2 GiB or more\n");
    // Veltrup compares whole numbers: "4.5" is offered as 4 (halves round to even).
    if (const std::string compared = std::to_string(veltrup::versionFromText(version));
        compared != version)
        std::fprintf(stderr, "veltrup-sign: warning: Veltrup compares version %s as %s\n",
                     version.c_str(), compared.c_str());
    std::fputs(lines->text().c_str(), stdout);
    return 0;
}

int verify(const CommandLine& line) {
    const std::string& links = line.plain[0];
    const std::string& versionFile = line.plain[1];
    const std::string& installer = line.plain[2];
    std::string error;
    const auto now = nowFrom(line, error);
    if (!now) return failed(error);
    const std::string product = line.product.value_or(veltrup::kProductName);
    const auto refused = [](const char* category, const std::string& why) {
        std::printf("refused: %s: %s\n", category, why.c_str());
        return 1;
    };
    // First what Veltrup checks as the version file arrives.
    const veltrup::StatementResult statement =
        veltrup::checkVersionFile(versionFile, links, {product, *now, "Veltrup"});
    if (!statement.ok()) return refused(veltrup::verdictName(statement.verdict), statement.reason);
    // Veltrup saves and starts the installer under the version file's Shell, whatever the
    // maker's own copy is called, and refuses such a name, or a version it cannot compare,
    // before it downloads anything, signed or not.
    const std::string shell = veltrup::ReadProfileString("MAIN", "Shell", "Erro", versionFile);
    if (!veltrup::maker::isUpdateName(shell))
        return refused("name",
                       "Shell \"" + shell + "\" is not a name the updater saves and starts");
    if (const std::string why = veltrup::maker::whyNotAVersion(statement.release.version);
        !why.empty())
        return refused("version", why);
    // Then what it checks once the installer has arrived.
    const auto result = veltrup::verifyUpdate(versionFile, links, installer, shell);
    if (!result.ok) return refused("installer", result.reason);
    std::string expiry;
    if (statement.release.expires)
        expiry = "; the statement expires at " +
                 veltrup::release::formatUtcTime(*statement.release.expires);
    std::printf("accepted: %s%s\n", result.reason.c_str(), expiry.c_str());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
        std::string help = kHelp;
        for (std::size_t at; (at = help.find("{product}")) != std::string::npos;)
            help.replace(at, 9, veltrup::kProductName);
        std::fputs(kUsage, stdout);
        std::fputs(help.c_str(), stdout);
        return 0;
    }
    if (args.size() == 1 && args[0] == "--version") {
        std::puts("veltrup-sign (Carvo) " CARVO_VERSION);
        return 0;
    }
    if (args.empty()) return usage();
    const std::string_view command = args[0];
    const CommandLine line = parse(args);
    if (command == "keygen" && args.size() == 2) return keygen(args[1]);
    if (!line.ok) return usage();
    if (command == "sign" && (line.plain.size() == 3 || line.plain.size() == 4)) return sign(line);
    if (command == "verify" && line.plain.size() == 3 && !line.expires && !line.withOldSignature)
        return verify(line);
    return usage();
}
