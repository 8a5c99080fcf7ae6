// The check as the version file arrives: a stale, replayed, foreign or unsigned statement is
// refused under its own category before the window says "up to date" or offers anything, and
// the installer check that follows agrees on the signature.

#include <gtest/gtest.h>
#include <sodium.h>

#include <functional>
#include <vector>

#include "Release.h"

namespace veltrup::test {
namespace {

using namespace std::chrono_literals;
const std::chrono::sys_seconds kExpiry =
    std::chrono::sys_days(std::chrono::year(2027) / std::chrono::January / 31) + 12h;

// A statement of the newer form signed by hand, as an older or careless tool could have signed
// what veltrup-sign refuses.
std::string signedByHand(const Release& r, const std::string& version, const std::string& shell,
                         const std::string& product = kProductName) {
    const std::string expires = release::formatUtcTime(kExpiry);
    const std::string text = release::statement2(
        version, shell, 200'000, *release::decodeSha256Hex(r.lines.sha256), product, expires);
    std::array<unsigned char, release::kSignatureBytes> signature{};
    crypto_sign_detached(signature.data(), nullptr,
                         reinterpret_cast<const unsigned char*>(text.data()), text.size(),
                         r.secret.bytes().data());
    return "Size=200000\nSHA256=" + r.lines.sha256 + "\nProduct=" + product +
           "\nExpires=" + expires + "\nStatementSignature2=" + release::encodeBase64(signature) +
           "\n";
}

TEST(StatementCheck, EachStaleForeignOrUnsignedStatementIsRefusedUnderItsOwnCategory) {
    const Release other(1000);  // another key
    const auto expiring = [](const Release& r) { return r.sign({.expires = kExpiry}).text(); };
    const auto olderFormOnly = [](const Release& r) {
        return "Size=" + r.lines.size + "\nSHA256=" + r.lines.sha256 +
               "\nStatementSignature=" + r.lines.signature + "\n";
    };
    struct Case {
        const char* name;
        std::function<void(Release&)> change;
        std::chrono::seconds at;  // now, from the expiry
        StatementVerdict verdict;
        bool installs;  // what the installer check says of the same files
    };
    using enum StatementVerdict;
    const std::vector<Case> cases = {
        {"fresh", [&](Release& r) { r.writeVersion(expiring(r)); }, -24h, Accepted, true},
        {"last second of the clock-skew margin", [&](Release& r) { r.writeVersion(expiring(r)); },
         1h, Accepted, true},
        {"first second past it", [&](Release& r) { r.writeVersion(expiring(r)); }, 1h + 1s, Expired,
         true},
        {"expiry moved later by hand",
         [&](Release& r) {
             std::string text = expiring(r);
             text.replace(text.find("2027-01-31"), 10, "2027-12-31");
             r.writeVersion(text);
         },
         1h + 1s, BadSignature, false},
        {"older form, no expiry required", [&](Release& r) { r.writeVersion(olderFormOnly(r)); },
         0s, Accepted, true},
        {"older form replayed, expiry required",
         [&](Release& r) {
             r.writeLinks("PublicKey=" + r.keys.publicKey + "\nRequireExpiry=1\n");
             r.writeVersion(olderFormOnly(r));
         },
         0s, ExpiryRequired, false},
        {"newer form without expiry, expiry required",
         [&](Release& r) {
             r.writeLinks("PublicKey=" + r.keys.publicKey + "\nRequireExpiry=1\n");
             r.writeVersion(r.sign(maker::SignOptions{}).text());
         },
         0s, ExpiryRequired, false},
        {"rotated key",
         [&](Release& r) {
             r.writeLinks("PublicKey=" + r.keys.publicKey +
                          "\nRequireExpiry=1\nPublicKey2=" + other.keys.publicKey + "\n");
             std::string error;
             r.writeVersion(maker::signRelease(other.secret, r.installer(), "3", "setup.bin",
                                               {.expires = kExpiry}, error)
                                ->text());
         },
         0s, Accepted, true},
        {"unknown key",
         [&](Release& r) {
             std::string error;
             r.writeVersion(maker::signRelease(other.secret, r.installer(), "3", "setup.bin",
                                               {.expires = kExpiry}, error)
                                ->text());
         },
         0s, BadSignature, false},
        {"second key without the first",
         [&](Release& r) { r.writeLinks("PublicKey2=" + r.keys.publicKey + "\n"); }, 0s, Malformed,
         false},
        {"another product",
         [&](Release& r) {
             r.writeVersion(r.sign({.product = "Outro 2003", .expires = kExpiry}).text());
         },
         0s, WrongProduct, true},
        {"no statement under a key",
         [&](Release& r) { r.writeVersion("Size=" + r.lines.size + "\n"); }, 0s, NoStatement,
         false},
        {"signed version Veltrup cannot compare",
         [&](Release& r) { r.writeVersion(signedByHand(r, "5.0.1", "setup.bin"), "5.0.1"); }, 0s,
         Mismatch, true},
        {"signed name folding to links.ini",
         [&](Release& r) {
             r.writeVersion(signedByHand(r, "3", "link\u017f.ini"), "3", "link\u017f.ini");
         },
         0s, Mismatch, false},
        {"an expiry on no real day",
         [&](Release& r) {
             std::string text = expiring(r);
             text.replace(text.find("2027-01-31"), 10, "2027-02-29");
             r.writeVersion(text);
         },
         0s, Malformed, false},
        {"RequireExpiry neither 0 nor 1",
         [&](Release& r) {
             r.writeLinks("PublicKey=" + r.keys.publicKey + "\nRequireExpiry=yes\n");
         },
         0s, Malformed, false},
        {"no key: read as always, however stale",
         [&](Release& r) {
             r.writeLinks("RequireExpiry=1\n");
             r.writeVersion("Expires=2001-01-01T00:00:00Z\n");
         },
         0s, Accepted, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Release r;
        c.change(r);
        const StatementResult got = checkVersionFile(r.versionFile(), r.linksFile(),
                                                     {kProductName, kExpiry + c.at, "Veltrup"});
        EXPECT_EQ(got.verdict, c.verdict) << got.reason;
        EXPECT_FALSE(got.reason.empty());
        EXPECT_EQ(r.verify().ok, c.installs) << r.verify().reason;
    }
}

}  // namespace
}  // namespace veltrup::test
