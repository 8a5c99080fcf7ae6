#pragma once
// A published release in a scratch folder: the maker's keys, an installer, the version file
// that announces it and the links file beside the program, each rewritable by a test.

#include <string>

#include "MakerKeys.h"
#include "NginxServer.h"

namespace veltrup::test {

namespace fs = std::filesystem;
using carvo::test::loadBytes;
using carvo::test::ScratchFolder;
using carvo::test::storeBytes;

// Bytes that differ from piece to piece, so that a moved or repeated piece changes the file.
inline std::string installerBytes(std::size_t n) {
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 131 + i / 509) & 0xFF);
    return s;
}

struct Release {
    ScratchFolder dir{"veltrup-verify"};
    maker::KeyFiles keys;
    maker::SecretKey secret;
    std::string bytes;
    maker::ReleaseLines lines;

    explicit Release(std::size_t size = 200'000) : bytes(installerBytes(size)) {
        std::string error;
        keys = maker::generateKeys(dir / "keys", error).value();
        secret = maker::loadSecretKey(keys.secretFile, error).value();
        storeBytes(installer(), bytes);
        lines = sign(installer());
        writeVersion(lines.text());
        writeLinks("PublicKey=" + keys.publicKey + "\n");
    }

    fs::path installer() const { return dir / "setup.bin"; }
    fs::path versionFile() const { return dir / "Update.ini"; }
    fs::path linksFile() const { return dir / "links.ini"; }

    // Signed as version 3 under the name setup.bin, as the version file announces it.
    maker::ReleaseLines sign(const fs::path& file, const std::string& version = "3",
                             const std::string& shell = "setup.bin", bool withOld = false) const {
        std::string error;
        auto signedLines = maker::signInstaller(secret, file, version, shell, error, withOld);
        if (!signedLines) throw std::runtime_error(error);
        return *signedLines;
    }
    maker::ReleaseLines sign(const maker::SignOptions& options,
                             const std::string& version = "3") const {
        std::string error;
        auto signedLines =
            maker::signRelease(secret, installer(), version, "setup.bin", options, error);
        if (!signedLines) throw std::runtime_error(error);
        return *signedLines;
    }
    // The version file as the server sends it, with extra lines in MAIN (the first line of a
    // key wins, so extra lines cannot change Version or Shell).
    void writeVersion(const std::string& extra, const std::string& version = "3",
                      const std::string& shell = "setup.bin") const {
        storeBytes(versionFile(), "[MAIN]\r\nVersion=" + version + "\r\nFile=https://127.0.0.1/setup.bin\r\nShell=" +
                                      shell + "\r\n" + extra);
    }
    void writeLinks(const std::string& extra) const {
        storeBytes(linksFile(), "[MAIN]\nUpdateFile=https://127.0.0.1/Update.ini\nOfficialPage=x\n" + extra);
    }
    VerifyResult verify(const std::string& shell = "setup.bin") const {
        return verifyUpdate(versionFile(), linksFile(), installer(), shell);
    }
};

}  // namespace veltrup::test
