// The installer check: what it accepts, every tampered or malformed variant it must refuse,
// and that a refused installer is gone afterwards.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <functional>
#include <vector>

#include "Release.h"

namespace veltrup::test {
namespace {

TEST(InstallerCheck, AcceptsTheSignedInstallerWithAnySubsetOfTheLines) {
    Release r;
    EXPECT_TRUE(r.verify().ok) << r.verify().reason;
    // Without a key, matching Size and SHA256 (in capitals too) pass; an unverifiable
    // signature is no reason to refuse.
    r.writeLinks("");
    std::string upper = r.lines.sha256;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    r.writeVersion("Size=" + r.lines.size + "\nSHA256=" + upper + "\nStatementSignature=" + r.lines.signature + "\n");
    EXPECT_TRUE(r.verify().ok) << r.verify().reason;
    EXPECT_TRUE(verifyOrDelete(r.versionFile(), r.linksFile(), r.installer(), "setup.bin").ok);
    EXPECT_EQ(loadBytes(r.installer()), r.bytes);
}

TEST(InstallerCheck, WithoutAnyOfTheKeysNothingChanges) {
    Release r;
    r.writeVersion("");
    r.writeLinks("");
    EXPECT_TRUE(r.verify().ok);
    // The file is not even read, as before: a missing installer is the installer step's business.
    fs::remove(r.installer());
    EXPECT_TRUE(r.verify().ok);
    // Empty values count as absent; missing files give no keys at all.
    r.writeLinks("PublicKey=\n");
    r.writeVersion("Size=\nSHA256=\nStatementSignature=\nSignature=\n");
    EXPECT_TRUE(r.verify().ok);
    EXPECT_TRUE(verifyUpdate(r.dir / "none.ini", r.dir / "none2.ini", r.installer(), "setup.bin").ok);
}

// Each case changes a fresh release; the check must refuse it and the installer must be gone.
TEST(InstallerCheck, RefusesAndDeletesEveryTamperedVariant) {
    const Release other(150'000);  // another maker's key and another installer
    const std::string otherKey = other.keys.publicKey;
    struct Case {
        const char* name;
        std::function<void(Release&)> change;
        const char* shell = "setup.bin";  // the name the update is handled under
    };
    const auto flipByte = [](Release& r, std::size_t at) {
        r.bytes[at] = static_cast<char>(r.bytes[at] ^ 0x01);
        storeBytes(r.installer(), r.bytes);
    };
    const std::vector<Case> cases = {
        {"one changed byte", [&](Release& r) { flipByte(r, 100'000); }},
        {"changed last byte", [&](Release& r) { flipByte(r, r.bytes.size() - 1); }},
        {"one byte appended", [&](Release& r) { storeBytes(r.installer(), r.bytes + "x"); }},
        {"signature without the size and digest it covers",
         [&](Release& r) { r.writeVersion("StatementSignature=" + r.lines.signature + "\n"); }},
        {"changed byte, digest only, no key",
         [&](Release& r) {
             r.writeLinks("");
             r.writeVersion("SHA256=" + r.lines.sha256 + "\n");
             flipByte(r, 0);
         }},
        {"cut short, size only, no key",
         [&](Release& r) {
             r.writeLinks("");
             r.writeVersion("Size=" + r.lines.size + "\n");
             storeBytes(r.installer(), r.bytes.substr(1));
         }},
        {"another maker's key", [&](Release& r) { r.writeLinks("PublicKey=" + otherKey + "\n"); }},
        {"all-zero key",
         [&](Release& r) { r.writeLinks("PublicKey=" + std::string(43, 'A') + "=\n"); }},
        {"signature of another installer",
         [&](Release& r) {
             r.writeVersion("Size=" + r.lines.size + "\nSHA256=" + r.lines.sha256 +
                            "\nStatementSignature=" + r.sign(other.installer()).signature + "\n");
         }},
        // What the signature covers besides the bytes: an older release served again as a newer
        // version, or under another name (which the download would replace).
        {"an older release replayed as a newer version",
         [&](Release& r) { r.writeVersion(r.sign(r.installer(), "2").text(), "3"); }},
        {"the release under another Shell",
         [&](Release& r) { r.writeVersion(r.lines.text(), "3", "Veltrup"); }, "Veltrup"},
        {"handled under another name than the version file's Shell", [](Release&) {}, "outro.bin"},
        {"signed the old way (Ed25519ph over the installer's bytes)",
         [&](Release& r) {
             r.writeVersion("Size=" + r.lines.size + "\nSHA256=" + r.lines.sha256 + "\nSignature=" +
                            r.sign(r.installer(), "3", "setup.bin", true).oldSignature + "\n");
         }},
        {"another maker's signature over this installer",
         [&](Release& r) { r.writeVersion(other.sign(r.installer()).text()); }},
        {"no signature under a key",
         [&](Release& r) {
             r.writeVersion("Size=" + r.lines.size + "\nSHA256=" + r.lines.sha256 + "\n");
         }},
        {"wrong size",
         [&](Release& r) {
             r.writeVersion("Size=" + std::to_string(r.bytes.size() + 1) + "\nSHA256=" + r.lines.sha256 +
                            "\nStatementSignature=" + r.lines.signature + "\n");
         }},
        {"wrong digest",
         [&](Release& r) {
             r.writeVersion("Size=" + r.lines.size + "\nSHA256=" + other.lines.sha256 +
                            "\nStatementSignature=" + r.lines.signature + "\n");
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Release r;
        c.change(r);
        const VerifyResult result = verifyOrDelete(r.versionFile(), r.linksFile(), r.installer(), c.shell);
        EXPECT_FALSE(result.ok);
        EXPECT_FALSE(result.reason.empty());
        EXPECT_FALSE(fs::exists(r.installer()));
    }
}

TEST(InstallerCheck, RefusesMalformedValuesWithAndWithoutAKey) {
    Release r;
    const std::string& sig = r.lines.signature;
    const std::string hex = r.lines.sha256;
    // Appends, since GCC 12 at -O3 warns falsely (-Wrestrict) about "literal" + std::string&&.
    const auto cat = [](std::string a, const std::string& b) { return a += b; };
    // Size and SHA256 are checked whatever the key; Signature and PublicKey must parse too.
    const std::vector<std::pair<const char*, std::string>> bad = {
        {"Size", "-1"}, {"Size", "+200000"}, {"Size", "2e5"}, {"Size", "0x30d40"}, {"Size", "200 000"},
        {"Size", "18446744073709551616"}, {"Size", "\xd9\xa2\xd9\xa0"},
        {"SHA256", hex.substr(1)}, {"SHA256", hex + "0"}, {"SHA256", cat("g", hex.substr(1))},
        {"SHA256", hex.substr(0, 30) + " " + hex.substr(31)}, {"SHA256", r.keys.publicKey},
        {"Signature", "!!!!"}, {"Signature", sig.substr(0, 86)}, {"Signature", cat("-", sig.substr(1))},
        {"Signature", std::string(87, 'A') + "="}, {"Signature", std::string(200, 'A')},
        {"Signature", cat("\xff\xfe", sig.substr(2))}, {"Signature", cat("[-", sig.substr(2))},
        {"Signature", sig.substr(0, 40) + "\x01" + sig.substr(41)}, {"Signature", hex + hex},
        {"StatementSignature", "!!!!"}, {"StatementSignature", sig.substr(0, 86)},
        {"PublicKey", "abc"}, {"PublicKey", r.keys.publicKey.substr(0, 40) + "===="},
        {"PublicKey", hex}, {"PublicKey", r.keys.publicKey + "AAAA"},
    };
    for (bool withKey : {true, false}) {
        for (const auto& [key, value] : bad) {
            if (!withKey && std::string(key) == "PublicKey") continue;
            SCOPED_TRACE(std::string(withKey ? "with key, " : "no key, ") + key + "=" + value);
            const std::string keyLine = withKey ? "PublicKey=" + r.keys.publicKey + "\n" : "";
            if (std::string(key) == "PublicKey") {
                r.writeLinks("PublicKey=" + value + "\n");
                r.writeVersion(r.lines.text());
            } else {
                r.writeLinks(keyLine);
                r.writeVersion((std::string(key).ends_with("Signature") ? "" : "StatementSignature=" + sig + "\n") + key + "=" + value + "\n");
            }
            EXPECT_FALSE(r.verify().ok);
        }
    }
}

TEST(InstallerCheck, ReadsOnlyARegularFileAndDeletesNothingElse) {
    Release r;
    fs::remove(r.installer());
    EXPECT_FALSE(verifyOrDelete(r.versionFile(), r.linksFile(), r.installer(), "setup.bin").ok);  // missing
    fs::create_directory(r.installer());
    EXPECT_FALSE(verifyOrDelete(r.versionFile(), r.linksFile(), r.installer(), "setup.bin").ok);
    EXPECT_TRUE(fs::is_directory(r.installer()));
    fs::remove(r.installer());
    // A pipe nobody writes to would block a plain read for ever.
    ASSERT_EQ(::mkfifo(r.installer().c_str(), 0600), 0);
    EXPECT_FALSE(r.verify().ok);
}

TEST(MakerKeyFile, RefusesDamagedOrForeignKeyFiles) {
    Release r;
    std::string error;
    std::string text = loadBytes(r.keys.secretFile);
    // Windows line ends from a copied file are fine.
    storeBytes(r.dir / "crlf.key", text.substr(0, text.size() - 1) + "\r\n");
    EXPECT_TRUE(maker::loadSecretKey(r.dir / "crlf.key", error)) << error;

    text[10] = text[10] == 'A' ? 'B' : 'A';  // inside the secret half
    storeBytes(r.dir / "damaged.key", text);
    EXPECT_FALSE(maker::loadSecretKey(r.dir / "damaged.key", error));
    EXPECT_NE(error.find("damaged"), std::string::npos) << error;
    EXPECT_FALSE(maker::loadSecretKey(r.keys.publicFile, error));
    storeBytes(r.dir / "huge.key", std::string(1 << 20, 'A'));
    EXPECT_FALSE(maker::loadSecretKey(r.dir / "huge.key", error));
    EXPECT_FALSE(maker::loadSecretKey(r.dir / "none.key", error));
    EXPECT_FALSE(maker::loadSecretKey(r.dir.path(), error));
}

}  // namespace
}  // namespace veltrup::test
