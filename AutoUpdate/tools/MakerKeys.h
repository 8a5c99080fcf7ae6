#pragma once
// The maker's side of the installer check: the key pair and the signing of a release.
//
// Files, one base64 line each (standard alphabet, padded):
//   maker.key  the 64-byte Ed25519 secret key as libsodium holds it; created owner-only (0600)
//   maker.pub  the 32-byte public key; its text is what links.ini carries as PublicKey
// A release is signed with plain Ed25519 over its statements (release::statement: the version,
// the installer's name, size and SHA-256; release::statement2: the same, the product and the
// expiry), the forms the updater checks.

#include <array>
#include <chrono>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "UpdateRules.h"
#include "UpdateVerifier.h"

namespace veltrup::maker {

inline constexpr const char* kSecretKeyFile = "maker.key";
inline constexpr const char* kPublicKeyFile = "maker.pub";

// A secret key in memory; wiped when it goes.
class SecretKey {
public:
    SecretKey() = default;
    ~SecretKey();
    SecretKey(const SecretKey&) = delete;
    SecretKey& operator=(const SecretKey&) = delete;
    SecretKey(SecretKey&& other) noexcept;
    SecretKey& operator=(SecretKey&& other) noexcept;

    std::span<unsigned char, release::kSecretKeyBytes> bytes() { return bytes_; }
    std::span<const unsigned char, release::kSecretKeyBytes> bytes() const { return bytes_; }
    // libsodium keeps the public key in the second half of the secret one.
    std::span<const unsigned char, release::kPublicKeyBytes> publicKey() const {
        return std::span<const unsigned char, release::kSecretKeyBytes>(bytes_).last<release::kPublicKeyBytes>();
    }

private:
    std::array<unsigned char, release::kSecretKeyBytes> bytes_{};
};

struct KeyFiles {
    std::filesystem::path secretFile, publicFile;
    std::string publicKey;  // base64, as links.ini carries it
};

// Makes a key pair in dir (created owner-only when missing; its parent must exist). Refuses,
// leaving everything as it was, when either file already exists: a key that signed releases
// must never be lost to a second run.
std::optional<KeyFiles> generateKeys(const std::filesystem::path& dir, std::string& error);

// Reads maker.key; refuses a file that is not one line of base64 of 64 bytes, or whose two
// halves do not belong together (a damaged copy would sign releases nobody can check).
std::optional<SecretKey> loadSecretKey(const std::filesystem::path& file, std::string& error);

// The lines for section MAIN of the version file.
struct ReleaseLines {
    std::string version, shell, size, sha256;
    std::string product;  // the product the statement is for
    std::string expires;  // "" when it does not expire
    // StatementSignature, over the older four-line statement, for copies installed before
    // expiries; StatementSignature2, over the wider one (statement2).
    std::string signature, signature2;
    // The oldest form, Ed25519ph over the installer's bytes, for copies installed before the
    // statement existed; empty unless asked for.
    std::string oldSignature;
    // "Version=...\nShell=...\nSize=...\nSHA256=...\nProduct=...\n", "Expires=...\n" when it
    // expires, "StatementSignature=...\nStatementSignature2=...\n", and "Signature=...\n" when
    // there is an old signature.
    std::string text() const;
};

// A name the updater saves and starts an update under: one Veltrup's own rule accepts
// (isSafeUpdateName, which folds case through Unicode, against Veltrup's installed name) and
// that reads back from the version file unchanged.
bool isUpdateName(std::string_view shell);
// A version Veltrup compares (versionFromText) that reads back from the version file unchanged.
// "" when it is, otherwise why not.
std::string whyNotAVersion(std::string_view version);

struct SignOptions {
    std::string product = kProductName;
    std::optional<std::chrono::sys_seconds> expires;  // none: the statement never expires
    bool withOldSignature = false;
};

// Reads the installer once, in pieces, and signs the statements of this release: version as
// the version file will give it, shell the name the update is saved and started under.
// Refuses a version Veltrup cannot compare, a version, name or product that the updater would
// read back differently from the version file (spaces or quotes around it, more than 127
// characters, bytes that are not UTF-8, control characters), and a name it would refuse to
// save and start.
std::optional<ReleaseLines> signRelease(const SecretKey& key,
                                        const std::filesystem::path& installer,
                                        std::string_view version, std::string_view shell,
                                        const SignOptions& options, std::string& error);
// The same for this product, without an expiry.
std::optional<ReleaseLines> signInstaller(const SecretKey& key,
                                          const std::filesystem::path& installer,
                                          std::string_view version, std::string_view shell,
                                          std::string& error, bool withOldSignature = false);

// The expiry of --expires: "30d" or "12h" from now (a whole number of days or hours, at least
// one), or a time as YYYY-MM-DDTHH:MM:SSZ. Refuses one that is not after now.
std::optional<std::chrono::sys_seconds> parseExpiry(std::string_view text,
                                                    std::chrono::sys_seconds now,
                                                    std::string& error);

}  // namespace veltrup::maker
