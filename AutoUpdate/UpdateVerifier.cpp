#include "UpdateVerifier.h"

#include <fcntl.h>
#include <sodium.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <system_error>

#include "mdlRegistry.h"
#include "win/ProfileFile.h"
#include "win/UniqueFd.h"

namespace veltrup {

namespace {

// Valid UTF-8 (shortest forms, no surrogates, nothing above U+10FFFF) without a control
// character (C0, DEL or C1). A name or a version with a byte that does not decode would be
// shown, compared and opened as different texts by different parts of the program.
bool isCleanText(std::string_view text) {
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        if (lead < 0x80) {
            if (lead < 0x20 || lead == 0x7F) return false;
            ++i;
            continue;
        }
        std::size_t length = 0;
        char32_t cp = 0;
        char32_t smallest = 0;
        if ((lead & 0xE0) == 0xC0) {
            length = 2, cp = lead & 0x1F, smallest = 0x80;
        } else if ((lead & 0xF0) == 0xE0) {
            length = 3, cp = lead & 0x0F, smallest = 0x800;
        } else if ((lead & 0xF8) == 0xF0) {
            length = 4, cp = lead & 0x07, smallest = 0x10000;
        } else {
            return false;
        }
        if (text.size() - i < length) return false;
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (next & 0x3F);
        }
        if (cp < smallest || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF) ||
            (cp >= 0x80 && cp <= 0x9F))
            return false;
        i += length;
    }
    return true;
}

}  // namespace

bool isPlainFileName(std::string_view name) {
    if (name.empty() || name == "." || name == "..") return false;
    return name.find_first_of(std::string_view("/\\:\0", 4)) == std::string_view::npos &&
           isCleanText(name);
}

namespace release {

namespace {

constexpr std::size_t kPieceBytes = 64 * 1024;

}  // namespace

bool cryptoReady() { return sodium_init() >= 0; }

std::optional<std::vector<unsigned char>> decodeBase64(std::string_view text, std::size_t size) {
    if (text.empty() || text.size() != sodium_base64_encoded_len(size, sodium_base64_VARIANT_ORIGINAL) - 1)
        return std::nullopt;
    // libsodium 1.0.18's decoder takes many characters outside the alphabet (control
    // characters, most punctuation, every byte from 0x80 up) as if they were letters of it, so
    // the alphabet is checked here first. Where the padding may stand is left to libsodium.
    for (const char c : text) {
        const bool inAlphabet = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                                c == '+' || c == '/' || c == '=';
        if (!inAlphabet) return std::nullopt;
    }
    std::vector<unsigned char> out(size);
    std::size_t length = 0;
    const char* end = nullptr;
    // No characters to ignore: a space or a line break inside the value is malformed, and the
    // whole text must be consumed.
    if (sodium_base642bin(out.data(), out.size(), text.data(), text.size(), nullptr, &length, &end,
                          sodium_base64_VARIANT_ORIGINAL) != 0 ||
        length != size || end != text.data() + text.size())
        return std::nullopt;
    return out;
}

std::string encodeBase64(std::span<const unsigned char> bytes) {
    const std::size_t withNul = sodium_base64_encoded_len(bytes.size(), sodium_base64_VARIANT_ORIGINAL);
    std::string out(withNul, '\0');
    sodium_bin2base64(out.data(), out.size(), bytes.data(), bytes.size(), sodium_base64_VARIANT_ORIGINAL);
    out.resize(withNul - 1);
    return out;
}

std::optional<Sha256> decodeSha256Hex(std::string_view text) {
    if (text.size() != 2 * kSha256Bytes) return std::nullopt;
    Sha256 out{};
    std::size_t length = 0;
    const char* end = nullptr;
    if (sodium_hex2bin(out.data(), out.size(), text.data(), text.size(), nullptr, &length, &end) != 0 ||
        length != out.size() || end != text.data() + text.size())
        return std::nullopt;
    return out;
}

std::string encodeHex(std::span<const unsigned char> bytes) {
    std::string out(bytes.size() * 2 + 1, '\0');
    sodium_bin2hex(out.data(), out.size(), bytes.data(), bytes.size());
    out.pop_back();
    return out;
}

std::optional<std::uint64_t> parseSize(std::string_view text) {
    if (text.empty()) return std::nullopt;
    for (char c : text)
        if (c < '0' || c > '9') return std::nullopt;
    std::uint64_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

std::string statement(std::string_view version, std::string_view shell, std::uint64_t size,
                      const Sha256& sha) {
    std::string text;
    text.append("Version=").append(version).append("\n");
    text.append("Shell=").append(shell).append("\n");
    text.append("Size=").append(std::to_string(size)).append("\n");
    text.append("SHA256=").append(encodeHex(sha)).append("\n");
    return text;
}

bool readsBackUnchanged(std::string_view value) {
    if (!isCleanText(value)) return false;
    const std::string line = "[MAIN]\nValue=" + std::string(value) + "\n";
    // A default no value can equal, so that a value the reader drops shows as a change.
    return carvo::profileStringFromText(line, "MAIN", "Value", "\n") == value;
}

bool forEachPiece(const std::filesystem::path& file,
                  const std::function<void(std::span<const unsigned char>)>& consume,
                  std::string& error, bool followLinks) {
    // O_NONBLOCK so that a FIFO in the file's place cannot hold the window forever; the
    // regular-file test then refuses it (and devices that never end).
    carvo::UniqueFd fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK |
                                                (followLinks ? 0 : O_NOFOLLOW)));
    if (fd.get() < 0) {
        error = "cannot open " + file.string() + ": " + std::strerror(errno);
        return false;
    }
    return forEachPiece(fd.get(), file.string(), consume, error);
}

bool forEachPiece(int fd, const std::string& name,
                  const std::function<void(std::span<const unsigned char>)>& consume,
                  std::string& error) {
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        error = name + " is not a regular file";
        return false;
    }
    std::vector<unsigned char> piece(kPieceBytes);
    off_t offset = 0;
    for (;;) {
        const ssize_t n = ::pread(fd, piece.data(), piece.size(), offset);
        if (n < 0) {
            if (errno == EINTR) continue;
            error = "cannot read " + name + ": " + std::strerror(errno);
            return false;
        }
        if (n == 0) return true;
        offset += n;
        consume(std::span<const unsigned char>(piece.data(), static_cast<std::size_t>(n)));
    }
}

}  // namespace release

namespace {

VerifyResult refuse(std::string why) { return {false, std::move(why)}; }

std::string mainValue(const std::filesystem::path& file, const char* key) {
    return ReadProfileString("MAIN", key, "", file);
}

using Piece = std::function<void(std::span<const unsigned char>)>;
// Reads the installer from its start, handing each piece on; false with error set on failure.
using InstallerReader = std::function<bool(const Piece&, std::string&)>;

VerifyResult check(const std::filesystem::path& versionFile, const std::filesystem::path& linksFile,
                   const InstallerReader& readInstaller, std::string_view shell) {
    using namespace release;
    const std::string keyText = mainValue(linksFile, "PublicKey");
    const std::string sizeText = mainValue(versionFile, "Size");
    const std::string shaText = mainValue(versionFile, "SHA256");
    const std::string signatureText = mainValue(versionFile, "StatementSignature");
    // The old form, Ed25519ph over the installer's bytes alone, which copies installed before
    // the statement existed still check. It must parse, as always, but proves nothing here.
    const std::string oldSignatureText = mainValue(versionFile, "Signature");

    // Every value present must parse, whether or not it will be needed: a version file that
    // carries garbage is not one the maker's tool wrote.
    std::optional<std::vector<unsigned char>> publicKey;
    std::optional<std::vector<unsigned char>> signature;
    std::optional<std::uint64_t> size;
    std::optional<Sha256> sha;
    if (keyText.empty() && sizeText.empty() && shaText.empty() && signatureText.empty() &&
        oldSignatureText.empty())
        return {true, "nothing to check"};
    if (!cryptoReady()) return refuse("the cryptography library cannot start");
    if (!keyText.empty() && !(publicKey = decodeBase64(keyText, kPublicKeyBytes)))
        return refuse("PublicKey in the links file is not base64 of 32 bytes");
    if (!sizeText.empty() && !(size = parseSize(sizeText)))
        return refuse("Size in the version file is not a whole number of bytes");
    if (!shaText.empty() && !(sha = decodeSha256Hex(shaText)))
        return refuse("SHA256 in the version file is not 64 hex digits");
    if (!signatureText.empty() && !(signature = decodeBase64(signatureText, kSignatureBytes)))
        return refuse("StatementSignature in the version file is not base64 of 64 bytes");
    if (!oldSignatureText.empty() && !decodeBase64(oldSignatureText, kSignatureBytes))
        return refuse("Signature in the version file is not base64 of 64 bytes");

    if (publicKey) {
        if (!signature)
            return refuse(
                "the links file holds a PublicKey but the version file has no StatementSignature "
                "(a Signature alone is the old form, over the installer's bytes only)");
        if (!size || !sha)
            return refuse(
                "the version file has a StatementSignature but not the Size and SHA256 it covers");
        // The name the caller saves or starts the update under must be the one that was signed.
        const std::string versionText = mainValue(versionFile, "Version");
        const std::string shellText = mainValue(versionFile, "Shell");
        if (shellText != shell)
            return refuse("the update is handled under another name than the version file's Shell");
        const std::string signedText = statement(versionText, shellText, *size, *sha);
        if (crypto_sign_verify_detached(signature->data(),
                                        reinterpret_cast<const unsigned char*>(signedText.data()),
                                        signedText.size(), publicKey->data()) != 0)
            return refuse(
                "StatementSignature does not verify under the PublicKey for this Version, Shell, "
                "Size and SHA256");
    }
    // A Signature without a key has nothing to be checked against.
    if (!publicKey && !size && !sha) return {true, "nothing to check"};

    crypto_hash_sha256_state shaState;
    crypto_hash_sha256_init(&shaState);
    std::uint64_t length = 0;
    std::string error;
    const bool read = readInstaller(
        [&](std::span<const unsigned char> piece) {
            length += piece.size();
            crypto_hash_sha256_update(&shaState, piece.data(), piece.size());
        },
        error);
    if (!read) return refuse(error);

    if (size && length != *size)
        return refuse("Size says " + std::to_string(*size) + " bytes, the file has " + std::to_string(length));
    if (sha) {
        Sha256 actual{};
        crypto_hash_sha256_final(&shaState, actual.data());
        if (sodium_memcmp(actual.data(), sha->data(), actual.size()) != 0)
            return refuse("SHA256 does not match the file (it is " + encodeHex(actual) + ")");
    }
    return {true, publicKey ? "signed by the maker's key" : "size and digest match"};
}

}  // namespace

VerifyResult verifyUpdate(const std::filesystem::path& versionFile,
                          const std::filesystem::path& linksFile,
                          const std::filesystem::path& installer, std::string_view shell) {
    return check(
        versionFile, linksFile,
        [&](const Piece& consume, std::string& error) {
            return release::forEachPiece(installer, consume, error);
        },
        shell);
}

VerifyResult verifyUpdate(const std::filesystem::path& versionFile,
                          const std::filesystem::path& linksFile, int installerFd,
                          std::string_view shell) {
    return check(
        versionFile, linksFile,
        [&](const Piece& consume, std::string& error) {
            return release::forEachPiece(installerFd, "the installer", consume, error);
        },
        shell);
}

VerifyResult verifyOrDelete(const std::filesystem::path& versionFile,
                            const std::filesystem::path& linksFile,
                            const std::filesystem::path& installer, std::string_view shell) {
    VerifyResult result = verifyUpdate(versionFile, linksFile, installer, shell);
    if (result.ok) return result;
    if (const std::string failed = deleteRefusedInstaller(installer); !failed.empty())
        result.reason += "; and it could not be deleted: " + failed;
    return result;
}

std::string deleteRefusedInstaller(const std::filesystem::path& installer) {
    std::error_code ec;
    // The link itself, never what it points to; a folder is not ours to remove.
    const auto status = std::filesystem::symlink_status(installer, ec);
    if (ec || status.type() == std::filesystem::file_type::not_found ||
        status.type() == std::filesystem::file_type::directory)
        return {};
    std::filesystem::remove(installer, ec);
    return ec ? ec.message() : std::string();
}

}  // namespace veltrup
