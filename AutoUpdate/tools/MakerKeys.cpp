#include "MakerKeys.h"

#include <fcntl.h>
#include <sodium.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string_view>
#include <utility>

namespace veltrup::maker {

namespace {

// Anything bigger is not a key file; reading it whole would only waste memory.
constexpr std::size_t kMaxKeyFileBytes = 4096;

std::string describe(const std::filesystem::path& file, const char* what) {
    return std::string(what) + " " + file.string() + ": " + std::strerror(errno);
}

// Creates file with mode from the start (never widened afterwards), refusing one that exists
// or a link in its place, and writes content through to the disk. On failure nothing is left.
bool writeNewFile(const std::filesystem::path& file, std::string_view content, mode_t mode,
                  std::string& error) {
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
    if (fd < 0) {
        error = errno == EEXIST ? file.string() + " already exists; refusing to overwrite it"
                                : describe(file, "cannot create");
        return false;
    }
    auto fail = [&](const char* what) {
        error = describe(file, what);
        ::close(fd);
        ::unlink(file.c_str());
        return false;
    };
    while (!content.empty()) {
        const ssize_t n = ::write(fd, content.data(), content.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return fail("cannot write");
        }
        content.remove_prefix(static_cast<std::size_t>(n));
    }
    if (::fsync(fd) != 0) return fail("cannot write");
    if (::close(fd) != 0) {
        error = describe(file, "cannot write");
        ::unlink(file.c_str());
        return false;
    }
    return true;
}

bool nameTaken(const std::filesystem::path& file) {
    struct stat st {};
    return ::lstat(file.c_str(), &st) == 0 || errno != ENOENT;
}

void wipe(std::string& s) {
    sodium_memzero(s.data(), s.size());
    s.clear();
}

}  // namespace

SecretKey::~SecretKey() { sodium_memzero(bytes_.data(), bytes_.size()); }

SecretKey::SecretKey(SecretKey&& other) noexcept : bytes_(other.bytes_) {
    sodium_memzero(other.bytes_.data(), other.bytes_.size());
}

SecretKey& SecretKey::operator=(SecretKey&& other) noexcept {
    if (this != &other) {
        bytes_ = other.bytes_;
        sodium_memzero(other.bytes_.data(), other.bytes_.size());
    }
    return *this;
}

std::optional<KeyFiles> generateKeys(const std::filesystem::path& dir, std::string& error) {
    if (!release::cryptoReady()) {
        error = "the cryptography library cannot start";
        return std::nullopt;
    }
    struct stat st {};
    if (::stat(dir.c_str(), &st) != 0) {
        if (errno != ENOENT || ::mkdir(dir.c_str(), 0700) != 0) {
            error = describe(dir, "cannot make the folder");
            return std::nullopt;
        }
    } else if (!S_ISDIR(st.st_mode)) {
        error = dir.string() + " is not a folder";
        return std::nullopt;
    }

    KeyFiles files{dir / kSecretKeyFile, dir / kPublicKeyFile, {}};
    // Both are looked at before either is written, so that a half-present pair stays untouched.
    for (const auto& file : {files.secretFile, files.publicFile}) {
        if (nameTaken(file)) {
            error = file.string() + " already exists; refusing to overwrite a key";
            return std::nullopt;
        }
    }

    SecretKey key;
    std::array<unsigned char, release::kPublicKeyBytes> publicKey{};
    if (crypto_sign_keypair(publicKey.data(), key.bytes().data()) != 0) {
        error = "cannot make a key pair";
        return std::nullopt;
    }
    std::string secretText = release::encodeBase64(key.bytes());
    secretText.push_back('\n');
    const bool wroteSecret = writeNewFile(files.secretFile, secretText, 0600, error);
    wipe(secretText);
    if (!wroteSecret) return std::nullopt;

    files.publicKey = release::encodeBase64(publicKey);
    if (!writeNewFile(files.publicFile, files.publicKey + "\n", 0644, error)) {
        // A secret key without its public half would be a key nobody can check against.
        ::unlink(files.secretFile.c_str());
        return std::nullopt;
    }
    return files;
}

std::optional<SecretKey> loadSecretKey(const std::filesystem::path& file, std::string& error) {
    if (!release::cryptoReady()) {
        error = "the cryptography library cannot start";
        return std::nullopt;
    }
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        error = describe(file, "cannot open");
        return std::nullopt;
    }
    std::string text(kMaxKeyFileBytes + 1, '\0');
    std::size_t filled = 0;
    struct stat st {};
    bool readFailed = ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode);
    while (!readFailed && filled < text.size()) {
        const ssize_t n = ::read(fd, text.data() + filled, text.size() - filled);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) readFailed = true;
        if (n <= 0) break;
        filled += static_cast<std::size_t>(n);
    }
    ::close(fd);
    if (readFailed || filled > kMaxKeyFileBytes) {
        wipe(text);
        error = file.string() + " is not a key file";
        return std::nullopt;
    }
    std::string_view line(text.data(), filled);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r' || line.back() == ' ' || line.back() == '\t'))
        line.remove_suffix(1);
    auto decoded = release::decodeBase64(line, release::kSecretKeyBytes);
    wipe(text);
    if (!decoded) {
        error = file.string() + " does not hold a secret key (one line of base64 of 64 bytes)";
        return std::nullopt;
    }
    SecretKey key;
    std::memcpy(key.bytes().data(), decoded->data(), decoded->size());
    sodium_memzero(decoded->data(), decoded->size());

    // A signature made with the key must verify under its own public half.
    static constexpr unsigned char probe[] = "veltrup key check";
    std::array<unsigned char, release::kSignatureBytes> signature{};
    if (crypto_sign_detached(signature.data(), nullptr, probe, sizeof probe, key.bytes().data()) != 0 ||
        crypto_sign_verify_detached(signature.data(), probe, sizeof probe, key.publicKey().data()) != 0) {
        error = file.string() + " is damaged: its two halves do not belong together";
        return std::nullopt;
    }
    return key;
}

std::string ReleaseLines::text() const {
    return "Version=" + version + "\nShell=" + shell + "\nSize=" + size + "\nSHA256=" + sha256 +
           "\nProduct=" + product + "\n" + (expires.empty() ? "" : "Expires=" + expires + "\n") +
           "StatementSignature=" + signature + "\nStatementSignature2=" + signature2 + "\n" +
           (oldSignature.empty() ? "" : "Signature=" + oldSignature + "\n");
}

bool isUpdateName(std::string_view shell) {
    // Veltrup is installed under this name; links.ini and Update.ini are in the rule itself.
    return isSafeUpdateName(shell, "Veltrup") && release::readsBackUnchanged(shell);
}

std::string whyNotAVersion(std::string_view version) {
    if (version.empty() || !release::readsBackUnchanged(version))
        return "the version \"" + std::string(version) +
               "\" cannot stand in a version file as it is (empty, spaces or quotes around it, "
               "over "
               "127 characters, not UTF-8, or a control character)";
    try {
        versionFromText(version);
    } catch (const std::exception&) {
        return "the version \"" + std::string(version) +
               "\" is not one Veltrup can compare (a number with \".\" as its decimal point, "
               "within "
               "32 bits)";
    }
    return {};
}

std::optional<ReleaseLines> signRelease(const SecretKey& key,
                                        const std::filesystem::path& installer,
                                        std::string_view version, std::string_view shell,
                                        const SignOptions& options, std::string& error) {
    if (!release::cryptoReady()) {
        error = "the cryptography library cannot start";
        return std::nullopt;
    }
    // What is signed must be what the updater reads back from the version file, byte for byte,
    // and what it can act on.
    if (error = whyNotAVersion(version); !error.empty()) return std::nullopt;
    if (!isUpdateName(shell)) {
        error = "the name \"" + std::string(shell) +
                "\" is not one the updater saves and starts (a plain file name, UTF-8, without "
                "spaces or quotes around it, at most 127 characters, none of links.ini, "
                "Update.ini and Veltrup in any case)";
        return std::nullopt;
    }
    if (options.product.empty() || !release::readsBackUnchanged(options.product)) {
        error = "the product \"" + options.product + "\" cannot stand in a version file as it is";
        return std::nullopt;
    }
    const std::string expires = options.expires ? release::formatUtcTime(*options.expires) : "";
    if (options.expires && release::parseUtcTime(expires) != options.expires) {
        error = "the expiry lies outside the years 1970 to 9999";
        return std::nullopt;
    }
    crypto_hash_sha256_state shaState;
    crypto_sign_state oldState;
    crypto_hash_sha256_init(&shaState);
    crypto_sign_init(&oldState);
    std::uint64_t length = 0;
    const bool read = release::forEachPiece(
        installer,
        [&](std::span<const unsigned char> piece) {
            length += piece.size();
            crypto_hash_sha256_update(&shaState, piece.data(), piece.size());
            if (options.withOldSignature) crypto_sign_update(&oldState, piece.data(), piece.size());
        },
        error, true);
    if (!read) return std::nullopt;
    std::array<unsigned char, release::kSignatureBytes> oldSignature{};
    if (options.withOldSignature && crypto_sign_final_create(&oldState, oldSignature.data(),
                                                             nullptr, key.bytes().data()) != 0) {
        error = "cannot sign " + installer.string();
        return std::nullopt;
    }

    release::Sha256 sha{};
    crypto_hash_sha256_final(&shaState, sha.data());
    const auto signText = [&](const std::string& text) -> std::optional<std::string> {
        std::array<unsigned char, release::kSignatureBytes> signature{};
        if (crypto_sign_detached(signature.data(), nullptr,
                                 reinterpret_cast<const unsigned char*>(text.data()), text.size(),
                                 key.bytes().data()) != 0)
            return std::nullopt;
        return release::encodeBase64(signature);
    };
    const auto signature = signText(release::statement(version, shell, length, sha));
    const auto signature2 =
        signText(release::statement2(version, shell, length, sha, options.product, expires));
    if (!signature || !signature2) {
        error = "cannot sign " + installer.string();
        return std::nullopt;
    }
    return ReleaseLines{
        std::string(version),
        std::string(shell),
        std::to_string(length),
        release::encodeHex(sha),
        options.product,
        expires,
        *signature,
        *signature2,
        options.withOldSignature ? release::encodeBase64(oldSignature) : std::string()};
}

std::optional<ReleaseLines> signInstaller(const SecretKey& key,
                                          const std::filesystem::path& installer,
                                          std::string_view version, std::string_view shell,
                                          std::string& error, bool withOldSignature) {
    SignOptions options;
    options.withOldSignature = withOldSignature;
    return signRelease(key, installer, version, shell, options, error);
}

std::optional<std::chrono::sys_seconds> parseExpiry(std::string_view text,
                                                    std::chrono::sys_seconds now,
                                                    std::string& error) {
    std::optional<std::chrono::sys_seconds> expiry = release::parseUtcTime(text);
    if (!expiry && text.size() >= 2 && (text.back() == 'd' || text.back() == 'h')) {
        const std::string_view digits = text.substr(0, text.size() - 1);
        // At most ten thousand years, so that the sum cannot overflow; a time past the year 9999
        // is refused when it is signed.
        const auto count = release::parseSize(digits);
        if (count && *count >= 1 && *count <= 3'650'000)
            expiry = now + (text.back() == 'd' ? std::chrono::seconds(std::chrono::days(*count))
                                               : std::chrono::seconds(std::chrono::hours(*count)));
    }
    if (!expiry) {
        error =
            "--expires takes a number of days or hours (30d, 12h) or a time in UTC as "
            "YYYY-MM-DDTHH:MM:SSZ, not \"" +
            std::string(text) + "\"";
        return std::nullopt;
    }
    if (*expiry <= now) {
        error = "the expiry " + release::formatUtcTime(*expiry) + " is not after now, " +
                release::formatUtcTime(now);
        return std::nullopt;
    }
    return expiry;
}

}  // namespace veltrup::maker
