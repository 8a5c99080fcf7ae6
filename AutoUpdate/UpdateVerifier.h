#pragma once
// The check that stands between a downloaded installer and its start: never run an installer
// that is not the one the maker published, under the name and as the version the maker
// published it.
//
// The version file (Update.ini, from the server) may carry, in section MAIN:
//   Size=<bytes, decimal>  SHA256=<64 hex digits>  StatementSignature=<base64 of 64 bytes>
// and links.ini (beside the program, installed with it, so trusted) may carry, in MAIN:
//   PublicKey=<base64 of the maker's 32-byte Ed25519 public key>
// The signature is plain Ed25519 over a statement of what Veltrup acts on: the version file's
// Version and Shell and the installer's Size and SHA256, in one fixed form (see statement()).
// An old installer signed for version 3 therefore cannot be offered as version 4, nor saved
// and started under another name. The maker's tool, veltrup-sign, writes these lines.
//
// The rule: with a PublicKey, the version file must carry Size, SHA256 and a
// StatementSignature of their statement that verifies under the key, and the Shell the caller
// acts on must be the version file's; whatever the key, a Size or SHA256 that is present must
// match the file; a value that does not parse (base64, hex, number) is a refusal, never a
// crash. A Signature line (the older form, Ed25519ph over the installer's bytes alone) must
// parse but counts for nothing: a version file signed only that way is refused under a key.
// It may stand beside the statement's signature for copies installed before it. With none of
// the keys and no PublicKey the installer passes unread, as it always did. A key present with
// an empty value counts as absent.
//
// Free of Qt: the window calls it, the maker's tool and the tests call it too.

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace veltrup {

// What panel 2 shows for a refused installer, on its four failure labels (the third, "O Que
// Fazer:", keeps its design caption). The advice is the one for a failed transfer: a retry
// downloads the file again.
inline constexpr const char* kVerifyFailureTitle = "Erro:";
inline constexpr const char* kVerifyFailureText =
    "O arquivo de atualização não passou na verificação de autenticidade e foi apagado.";
inline constexpr const char* kVerifyFailureAdvice =
    "Você pode clicar o botão 'Avançar' para tentar novamente.";

struct VerifyResult {
    bool ok = false;
    std::string reason;  // for logs and tests; never shown to the user
};

// A file name the update may be saved and started under, in the program folder: not empty,
// not "." or "..", without "/", "\", ":" or NUL, valid UTF-8 and without control characters.
// The name comes from a downloaded file, so nothing else may decide where a file is written
// and what is started, and the name that is checked is byte for byte the one that is opened.
bool isPlainFileName(std::string_view name);

// versionFile: the downloaded Update.ini; linksFile: links.ini beside the program;
// installer: the downloaded file; shell: the name under which the caller saves or starts it.
// Reads Version, Shell, Size, SHA256 and Signature from MAIN of the version file and
// PublicKey from MAIN of the links file. The installer is opened without following a link
// and read once, in pieces.
VerifyResult verifyUpdate(const std::filesystem::path& versionFile,
                          const std::filesystem::path& linksFile,
                          const std::filesystem::path& installer, std::string_view shell);
// The same check over an installer already open: it is read from its start through this
// descriptor (its offset is left alone), so the bytes checked are the bytes the caller holds.
VerifyResult verifyUpdate(const std::filesystem::path& versionFile,
                          const std::filesystem::path& linksFile, int installerFd,
                          std::string_view shell);

// verifyUpdate, and when it refuses, deletes the installer so that nothing can start it later.
// The window's whole part is: when this returns !ok, show the kVerifyFailure texts and offer a
// retry. A failed deletion is added to the reason; the result stays a refusal.
VerifyResult verifyOrDelete(const std::filesystem::path& versionFile,
                            const std::filesystem::path& linksFile,
                            const std::filesystem::path& installer, std::string_view shell);

// Deletes a refused installer: the name itself (a link, never what it points to), and never a
// folder. "" when it is gone or was never there, otherwise why it could not be deleted.
std::string deleteRefusedInstaller(const std::filesystem::path& installer);

// The forms the maker's tool writes and the check reads, kept in one place so the two agree.
namespace release {

inline constexpr std::size_t kPublicKeyBytes = 32;
inline constexpr std::size_t kSecretKeyBytes = 64;
inline constexpr std::size_t kSignatureBytes = 64;
inline constexpr std::size_t kSha256Bytes = 32;

using Sha256 = std::array<unsigned char, kSha256Bytes>;

// Base64 with the standard alphabet and padding, decoding to exactly `size` bytes; nothing
// else (no spaces, no line breaks, no other alphabet, no non-zero padding bits).
std::optional<std::vector<unsigned char>> decodeBase64(std::string_view text, std::size_t size);
std::string encodeBase64(std::span<const unsigned char> bytes);
// Exactly 64 hex digits (either case).
std::optional<Sha256> decodeSha256Hex(std::string_view text);
std::string encodeHex(std::span<const unsigned char> bytes);  // lower case
// A whole decimal number of bytes: digits only, no sign, no spaces, within 64 bits.
std::optional<std::uint64_t> parseSize(std::string_view text);

// What the maker signs and Veltrup checks: the four lines Veltrup acts on, each "Key=value"
// and a line feed, in this order, Size in decimal digits without leading zeros and SHA256 in
// lower-case hex:
//   Version=<version>\nShell=<name>\nSize=<bytes>\nSHA256=<hex>\n
std::string statement(std::string_view version, std::string_view shell, std::uint64_t size,
                      const Sha256& sha);

// True when a "Key=value" line of a profile file gives back exactly this value (it is not
// trimmed, unquoted or cut there) and the value is valid UTF-8 without control characters:
// only such a value can be signed and read back as signed.
bool readsBackUnchanged(std::string_view value);

// Reads a file from its start to its end in pieces, handing each to consume, so memory stays
// flat whatever the file's size. Only a regular file is read, and a link in its place only when
// followLinks. False, with error set, when it cannot be opened or read.
bool forEachPiece(const std::filesystem::path& file,
                  const std::function<void(std::span<const unsigned char>)>& consume,
                  std::string& error, bool followLinks = false);
// The same through an open descriptor, from offset 0 whatever its current offset.
bool forEachPiece(int fd, const std::string& name,
                  const std::function<void(std::span<const unsigned char>)>& consume,
                  std::string& error);

// libsodium's one-time set-up; false when it cannot run (then nothing can be checked).
bool cryptoReady();

}  // namespace release

}  // namespace veltrup
