#include "UpdateVerifier.h"

#include <fcntl.h>
#include <sodium.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <system_error>

#include "UpdateRules.h"
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

std::string statement2(std::string_view version, std::string_view shell, std::uint64_t size,
                       const Sha256& sha, std::string_view product, std::string_view expires) {
    std::string text = "Statement=2\n" + statement(version, shell, size, sha);
    text.append("Product=").append(product).append("\n");
    text.append("Expires=").append(expires).append("\n");
    return text;
}

std::optional<std::chrono::sys_seconds> parseUtcTime(std::string_view text) {
    if (text.size() != 20 || text[4] != '-' || text[7] != '-' || text[10] != 'T' ||
        text[13] != ':' || text[16] != ':' || text[19] != 'Z')
        return std::nullopt;
    const auto number = [&](std::size_t at, std::size_t length) {
        int value = 0;
        for (std::size_t i = at; i < at + length; ++i) {
            if (text[i] < '0' || text[i] > '9') return -1;
            value = value * 10 + (text[i] - '0');
        }
        return value;
    };
    const int year = number(0, 4), month = number(5, 2), day = number(8, 2);
    const int hour = number(11, 2), minute = number(14, 2), second = number(17, 2);
    if (year < 1970 || month < 0 || day < 0 || hour < 0 || hour > 23 || minute < 0 || minute > 59 ||
        second < 0 || second > 59)
        return std::nullopt;
    const std::chrono::year_month_day date{std::chrono::year(year),
                                           std::chrono::month(static_cast<unsigned>(month)),
                                           std::chrono::day(static_cast<unsigned>(day))};
    if (!date.ok()) return std::nullopt;
    return std::chrono::sys_days(date) + std::chrono::hours(hour) + std::chrono::minutes(minute) +
           std::chrono::seconds(second);
}

std::string formatUtcTime(std::chrono::sys_seconds time) {
    const auto day = std::chrono::floor<std::chrono::days>(time);
    const std::chrono::year_month_day date(day);
    const std::chrono::hh_mm_ss clock(time - day);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02dZ",
                  static_cast<int>(date.year()), static_cast<unsigned>(date.month()),
                  static_cast<unsigned>(date.day()), static_cast<int>(clock.hours().count()),
                  static_cast<int>(clock.minutes().count()),
                  static_cast<int>(clock.seconds().count()));
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

std::string publicKeyName(int n) { return n == 1 ? "PublicKey" : "PublicKey" + std::to_string(n); }

bool linksHoldAKey(const std::filesystem::path& linksFile) {
    for (int n = 1; n <= kMaxPublicKeys; ++n)
        if (!mainValue(linksFile, publicKeyName(n).c_str()).empty()) return true;
    return false;
}

// What both checks share: links.ini's keys and switch, the version file's lines with every
// value present parsed, and the statement's signature when there is a key. The verdict is
// Accepted or one of NoStatement, BadSignature, ExpiryRequired and Malformed; the product, the
// time and what is acted on are left to the caller.
struct Examined {
    StatementResult result;
    bool anything = false;   // a key, or one of the lines the check reads
    bool newerForm = false;  // StatementSignature2 decided
};

Examined examine(const std::filesystem::path& versionFile, const std::filesystem::path& linksFile) {
    using namespace release;
    Examined e;
    StatementResult& r = e.result;
    const auto fail = [&](StatementVerdict verdict, std::string why) {
        r.verdict = verdict;
        r.reason = std::move(why);
        return e;
    };
    SignedRelease& offer = r.release;
    offer.version = mainValue(versionFile, "Version");
    offer.shell = mainValue(versionFile, "Shell");
    const std::string sizeText = mainValue(versionFile, "Size");
    const std::string shaText = mainValue(versionFile, "SHA256");
    const std::string productText = mainValue(versionFile, "Product");
    const std::string expiresText = mainValue(versionFile, "Expires");
    const std::string signatureText = mainValue(versionFile, "StatementSignature");
    const std::string signature2Text = mainValue(versionFile, "StatementSignature2");
    // The oldest form, Ed25519ph over the installer's bytes alone, which copies installed
    // before the statement existed still check. It must parse, as always, but proves nothing.
    const std::string oldSignatureText = mainValue(versionFile, "Signature");
    std::vector<std::string> keyTexts;
    for (int n = 1; n <= kMaxPublicKeys; ++n)
        keyTexts.push_back(mainValue(linksFile, publicKeyName(n).c_str()));
    const std::string requireText = mainValue(linksFile, "RequireExpiry");

    const bool anyKey =
        std::ranges::any_of(keyTexts, [](const std::string& k) { return !k.empty(); });
    e.anything = anyKey || !sizeText.empty() || !shaText.empty() || !signatureText.empty() ||
                 !signature2Text.empty() || !oldSignatureText.empty() || !expiresText.empty();
    if (!e.anything) return fail(StatementVerdict::Accepted, "nothing to check");
    if (!cryptoReady())
        return fail(StatementVerdict::BadSignature, "the cryptography library cannot start");

    // Every value present must parse, whether or not it will be needed: a file that carries
    // garbage is not one the maker's tool wrote.
    std::vector<std::vector<unsigned char>> keys;
    for (int n = 1; n <= kMaxPublicKeys; ++n) {
        const std::string& text = keyTexts[static_cast<std::size_t>(n - 1)];
        if (text.empty()) continue;
        if (keyTexts.front().empty())
            return fail(StatementVerdict::Malformed,
                        publicKeyName(n) +
                            " stands in the links file without PublicKey, which copies that read "
                            "only PublicKey would take for no key at all");
        auto key = decodeBase64(text, kPublicKeyBytes);
        if (!key)
            return fail(StatementVerdict::Malformed,
                        publicKeyName(n) + " in the links file is not base64 of 32 bytes");
        keys.push_back(std::move(*key));
    }
    if (!requireText.empty() && requireText != "0" && requireText != "1")
        return fail(StatementVerdict::Malformed,
                    "RequireExpiry in the links file is neither 0 nor 1");
    const bool requireExpiry = requireText == "1";

    std::optional<std::vector<unsigned char>> signature;
    std::optional<std::vector<unsigned char>> signature2;
    if (!sizeText.empty() && !(offer.size = parseSize(sizeText)))
        return fail(StatementVerdict::Malformed,
                    "Size in the version file is not a whole number of bytes");
    if (!shaText.empty() && !(offer.sha256 = decodeSha256Hex(shaText)))
        return fail(StatementVerdict::Malformed, "SHA256 in the version file is not 64 hex digits");
    if (!expiresText.empty() && !(offer.expires = parseUtcTime(expiresText)))
        return fail(StatementVerdict::Malformed,
                    "Expires in the version file is not a time as YYYY-MM-DDTHH:MM:SSZ");
    if (!signatureText.empty() && !(signature = decodeBase64(signatureText, kSignatureBytes)))
        return fail(StatementVerdict::Malformed,
                    "StatementSignature in the version file is not base64 of 64 bytes");
    if (!signature2Text.empty() && !(signature2 = decodeBase64(signature2Text, kSignatureBytes)))
        return fail(StatementVerdict::Malformed,
                    "StatementSignature2 in the version file is not base64 of 64 bytes");
    if (!oldSignatureText.empty() && !decodeBase64(oldSignatureText, kSignatureBytes))
        return fail(StatementVerdict::Malformed,
                    "Signature in the version file is not base64 of 64 bytes");

    e.newerForm = signature2.has_value();
    // Unsigned, the product and the expiry say nothing; the older statement covers neither.
    if (keys.empty() || !e.newerForm) {
        offer.product.clear();
        offer.expires.reset();
    } else {
        offer.product = productText;
    }
    if (keys.empty()) return fail(StatementVerdict::Accepted, "no key in the links file");
    if (!signature && !signature2)
        return fail(StatementVerdict::NoStatement,
                    "the links file holds a key but the version file has no StatementSignature "
                    "(a Signature alone is the old form, over the installer's bytes only)");
    if (!offer.size || !offer.sha256)
        return fail(
            StatementVerdict::Malformed,
            "the version file has a statement signature but not the Size and SHA256 it covers");
    // The newer line decides when it is there: falling back to the older one when it does not
    // verify would only help someone who changed the file.
    const std::string signedText =
        e.newerForm ? statement2(offer.version, offer.shell, *offer.size, *offer.sha256,
                                 productText, expiresText)
                    : statement(offer.version, offer.shell, *offer.size, *offer.sha256);
    const std::vector<unsigned char>& used = e.newerForm ? *signature2 : *signature;
    const bool verifies = std::ranges::any_of(keys, [&](const std::vector<unsigned char>& key) {
        return crypto_sign_verify_detached(
                   used.data(), reinterpret_cast<const unsigned char*>(signedText.data()),
                   signedText.size(), key.data()) == 0;
    });
    if (!verifies)
        return fail(StatementVerdict::BadSignature,
                    std::string(e.newerForm ? "StatementSignature2" : "StatementSignature") +
                        " does not verify under any key of the links file for this Version, Shell, "
                        "Size and SHA256" +
                        (e.newerForm ? ", Product and Expires" : ""));
    r.verified = true;
    if (requireExpiry && !offer.expires)
        return fail(StatementVerdict::ExpiryRequired,
                    e.newerForm
                        ? "the links file requires an expiry and the statement has none"
                        : "the links file requires an expiry and the version file is signed in the "
                          "older form, without one (StatementSignature2 is missing)");
    return fail(StatementVerdict::Accepted, "signed by a key of the links file");
}

using Piece = std::function<void(std::span<const unsigned char>)>;
// Reads the installer from its start, handing each piece on; false with error set on failure.
using InstallerReader = std::function<bool(const Piece&, std::string&)>;

VerifyResult check(const std::filesystem::path& versionFile, const std::filesystem::path& linksFile,
                   const InstallerReader& readInstaller, std::string_view shell) {
    using namespace release;
    const Examined e = examine(versionFile, linksFile);
    if (!e.anything) return {true, "nothing to check"};
    if (!e.result.ok()) return refuse(e.result.reason);
    const SignedRelease& offer = e.result.release;
    // The name the caller saves or starts the update under must be the one that was signed.
    if (e.result.verified && offer.shell != shell)
        return refuse("the update is handled under another name than the version file's Shell");
    // A Signature without a key has nothing to be checked against.
    if (!e.result.verified && !offer.size && !offer.sha256) return {true, "nothing to check"};

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

    if (offer.size && length != *offer.size)
        return refuse("Size says " + std::to_string(*offer.size) + " bytes, the file has " +
                      std::to_string(length));
    if (offer.sha256) {
        Sha256 actual{};
        crypto_hash_sha256_final(&shaState, actual.data());
        if (sodium_memcmp(actual.data(), offer.sha256->data(), actual.size()) != 0)
            return refuse("SHA256 does not match the file (it is " + encodeHex(actual) + ")");
    }
    return {true, e.result.verified ? "signed by the maker's key" : "size and digest match"};
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

const char* verdictName(StatementVerdict verdict) {
    switch (verdict) {
        case StatementVerdict::Accepted:
            return "accepted";
        case StatementVerdict::NoStatement:
            return "no statement";
        case StatementVerdict::BadSignature:
            return "bad signature";
        case StatementVerdict::Expired:
            return "expired";
        case StatementVerdict::WrongProduct:
            return "wrong product";
        case StatementVerdict::ExpiryRequired:
            return "expiry required";
        case StatementVerdict::Mismatch:
            return "version or name Veltrup cannot act on";
        case StatementVerdict::Malformed:
            return "malformed";
    }
    return "malformed";
}

StatementResult checkVersionFile(const std::filesystem::path& versionFile,
                                 const std::filesystem::path& linksFile,
                                 const Expectation& expected) {
    // Without a key the version check reads nothing more than it always did.
    if (!linksHoldAKey(linksFile)) {
        StatementResult unsigned_{
            StatementVerdict::Accepted, "no key in the links file", false, {}};
        unsigned_.release.version = mainValue(versionFile, "Version");
        unsigned_.release.shell = mainValue(versionFile, "Shell");
        return unsigned_;
    }
    const Examined e = examine(versionFile, linksFile);
    StatementResult r = e.result;
    if (!r.ok()) return r;
    const auto refuseAs = [&](StatementVerdict verdict, std::string why) {
        r.verdict = verdict;
        r.reason = std::move(why);
        return r;
    };
    const SignedRelease& offer = r.release;
    // An older statement names no product; it is believed unless links.ini requires the newer
    // form, which examine() has already applied.
    if (e.newerForm && offer.product != expected.product)
        return refuseAs(StatementVerdict::WrongProduct, "the statement is for \"" +
                                                            offer.product + "\", not for \"" +
                                                            std::string(expected.product) + "\"");
    if (offer.expires && expected.now > *offer.expires + kClockSkewAllowance)
        return refuseAs(StatementVerdict::Expired,
                        "the statement expired at " + release::formatUtcTime(*offer.expires));
    try {
        versionFromText(offer.version);
    } catch (const std::exception&) {
        return refuseAs(StatementVerdict::Mismatch, "the signed Version \"" + offer.version +
                                                        "\" is not one Veltrup can compare");
    }
    if (!isSafeUpdateName(offer.shell, expected.ownProgram))
        return refuseAs(StatementVerdict::Mismatch,
                        "the signed Shell \"" + offer.shell +
                            "\" is not a name Veltrup saves an update under");
    return r;
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
