#pragma once
// The check that stands between a downloaded installer and its start: never run an installer
// that is not the one the maker published, under the name and as the version the maker
// published it; and, since the version check, never believe a version file the maker did not
// sign, a stale one, or one made for another product.
//
// The version file (Update.ini, from the server) may carry, in section MAIN:
//   Size=<bytes, decimal>  SHA256=<64 hex digits>  StatementSignature=<base64 of 64 bytes>
//   Product=<name>  Expires=<YYYY-MM-DDTHH:MM:SSZ>  StatementSignature2=<base64 of 64 bytes>
// and links.ini (beside the program, installed with it, so trusted) may carry, in MAIN:
//   PublicKey=<base64 of the maker's 32-byte Ed25519 public key>
//   PublicKey2= ... PublicKey9=  further keys, any of which may sign (key rotation)
//   RequireExpiry=1              only a statement with an expiry is accepted
// Each signature is plain Ed25519 over a statement of what Veltrup acts on, in one fixed form
// built from the lines (see statement() and statement2()); an old installer signed for
// version 3 therefore cannot be offered as version 4, nor saved and started under another
// name. The maker's tool, veltrup-sign, writes these lines.
//
// Why two statement lines. Copies installed before expiries existed build the four-line
// statement from Version, Shell, Size and SHA256, check StatementSignature over it, and read
// no other line. A wider statement under the same line would fail on every such copy, and
// since they refuse what does not verify, they could never install the release that teaches
// them the new form. So the wider statement (the four lines, the Product it is for and its
// Expires, behind a first line naming the form) has a line of its own, StatementSignature2,
// which old copies never read, while the maker's tool keeps writing StatementSignature for
// them. A copy with this change checks StatementSignature2 when it is present and never falls
// back to the older line when it does not verify. A version file that carries only the older
// line (signed before expiries) is accepted unless links.ini sets RequireExpiry, the switch
// that closes the replay of such files: someone holding an old signed version file could
// otherwise strip the new lines and serve the rest for ever.
//
// Why PublicKey2..9 and not a list in PublicKey. A copy from before this change reads only
// PublicKey and decodes exactly one key from it: a list there would refuse every update. With
// numbered keys it still checks against the first, and refuses, safely, what only a newer key
// signed. A links.ini with PublicKeyN but no PublicKey is refused as malformed: a copy that
// reads only PublicKey would check nothing at all with it.
//
// Why the product comes from the caller. The statement names the product it is for, and the
// caller passes the product it updates: the name in the registry key Veltrup reads the
// installed version from (Software\<product>\Version, kProductName). That record is what the
// signed Version is compared with, two products of one maker cannot share it, and it is built
// into the program, so nothing downloaded or edited beside it can change it.
//
// The rule at the installer: with a key, the version file must carry Size, SHA256 and a
// statement signature (StatementSignature2, or StatementSignature where no expiry is required)
// that verifies under one of the keys, and the Shell the caller acts on must be the version
// file's; whatever the key, a Size or SHA256 that is present must match the file; a value that
// does not parse (base64, hex, number, time) is a refusal, never a crash. A Signature line
// (the oldest form, Ed25519ph over the installer's bytes alone) must parse but counts for
// nothing: a version file signed only that way is refused under a key. With none of the keys
// and no PublicKey the installer passes unread, as it always did. A key present with an empty
// value counts as absent. Expiry and product are the version check's business (checkVersionFile
// below): the installer check runs later on the same file, and a statement that expired while
// the window stood open still names the bytes the user chose to install.
//
// Free of Qt in its interface: the window calls it, the maker's tool and the tests call it too.

#include <array>
#include <chrono>
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

// ---- The version check ----------------------------------------------------------------

// How far a clock may run ahead before a statement counts as expired early. Machines that
// synchronise their clock are within seconds; a laptop that does not drifts by seconds a day;
// the usual gross error is a clock that keeps local time as if it were UTC, an hour ahead for
// users in Portugal in summer. A clock days off fails HTTPS too and must be fixed by its user.
// The price is that a statement can be replayed an hour past its expiry, small beside
// expiries of days that the maker renews every day (docs/publishing.md).
inline constexpr std::chrono::seconds kClockSkewAllowance{3600};
// PublicKey, PublicKey2, ..., PublicKey9.
inline constexpr int kMaxPublicKeys = 9;

// What the version check found; the window has a text of its own for each refusal.
enum class StatementVerdict {
    Accepted,        // verified under a key of links.ini, or links.ini holds no key
    NoStatement,     // links.ini holds a key; the version file has no statement signature
    BadSignature,    // no key of links.ini verifies the statement
    Expired,         // its Expires, plus kClockSkewAllowance, is past
    WrongProduct,    // made for another product
    ExpiryRequired,  // links.ini sets RequireExpiry; the statement has no expiry
    Mismatch,        // the signed Version or Shell is not one Veltrup acts on: a version it
                     // cannot compare (versionFromText), a name it would not save under
                     // (isSafeUpdateName)
    Malformed,       // a value in either file does not parse (key, signature, Size, SHA256,
                     // Expires, RequireExpiry), or Size and SHA256 are missing
};
// A short English name of the category, for logs and the maker's tool ("expired", ...).
const char* verdictName(StatementVerdict verdict);

// What the version file says, as read; signed when StatementResult::verified.
struct SignedRelease {
    std::string version, shell;         // as the window reads them (first line wins)
    std::optional<std::uint64_t> size;  // the installer's, when given
    std::optional<std::array<unsigned char, 32>> sha256;
    std::string product;  // "" in a statement of the older form
    std::optional<std::chrono::sys_seconds> expires;
};

struct StatementResult {
    StatementVerdict verdict = StatementVerdict::Malformed;
    std::string reason;     // for logs and tests; never shown to the user
    bool verified = false;  // a key of links.ini verified the statement
    SignedRelease release;
    bool ok() const { return verdict == StatementVerdict::Accepted; }
};

struct Expectation {
    std::string_view product;  // the product this copy updates (kProductName)
    std::chrono::system_clock::time_point now;
    std::string_view ownProgram;  // the name Veltrup runs under (ownProgramName())
};

// The check as soon as the version file has arrived, before anything is said or offered.
// Without a key in links.ini it accepts unread (verified false), as the version check always
// did. With one, it accepts only a statement that one of the keys verifies, made for
// expected.product (when of the newer form), not expired at expected.now, with an expiry when
// links.ini requires one, and whose Version and Shell Veltrup can act on. The window acts on
// result.release.version and .shell, the signed values. Never throws; reads nothing but the
// two files.
StatementResult checkVersionFile(const std::filesystem::path& versionFile,
                                 const std::filesystem::path& linksFile,
                                 const Expectation& expected);

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

// The wider statement, under StatementSignature2: a first line naming the form, the four lines
// above, then the product and the expiry ("" for none), each "Key=value" and a line feed:
//   Statement=2\nVersion=..\nShell=..\nSize=..\nSHA256=..\nProduct=..\nExpires=..\n
// It never equals a statement of the older form, whose first line is Version.
std::string statement2(std::string_view version, std::string_view shell, std::uint64_t size,
                       const Sha256& sha, std::string_view product, std::string_view expires);

// A time in UTC, exactly YYYY-MM-DDTHH:MM:SSZ (a real date, years 1970 to 9999, seconds up to
// 59); the one form Expires takes, so that one time has one text and its signature.
std::optional<std::chrono::sys_seconds> parseUtcTime(std::string_view text);
std::string formatUtcTime(std::chrono::sys_seconds time);

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
