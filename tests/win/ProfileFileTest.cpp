#include <gtest/gtest.h>
#include <sys/stat.h>

#include "TempDir.h"
#include "win/ProfileFile.h"
#include "win/TextCodec.h"

using carvo::profileStringFromText;
using carvo::readProfileString;
using carvo::test::TempDir;

namespace {

std::string get(std::string_view text, std::string_view section, std::string_view key,
                std::string_view def = "<default>") {
    return profileStringFromText(text, section, key, def);
}

std::size_t chars(std::string_view s) {
    std::size_t n = 0;
    for (unsigned char c : s) n += (c & 0xC0) != 0x80;
    return n;
}

}  // namespace

TEST(ProfileFile, NamesIgnoreCaseAndValuesLoseBlanksAndOnePairOfQuotes) {
    const std::string ini =
        "; links of the product\n"
        "[Other]\n"
        "UpdateFile=http://wrong/\n"
        "  [ main ]  \n"
        "  updatefile  =   http://127.0.0.1/Update.ini   \n"
        "Quoted=\"  padded  \"\n"
        "Single='x'\n"
        "Mixed=\"x'\n"
        "Twice=\"\"a\"\"\n"
        "Lone=\"\n"
        "; OfficialMail=commented@out\n"
        "Empty=\n"
        "Blank=    \n"
        "NoEquals\n"
        "Semi=a;b\n"
        "Dup=first\n"
        "Dup=second\n"
        "Seção=ação\n"
        "[MAIN]\n"
        "Late=in a second section of the same name\n";
    EXPECT_EQ(get(ini, "MAIN", "UpdateFile"), "http://127.0.0.1/Update.ini");
    EXPECT_EQ(get(ini, "Main", "UPDATEFILE"), "http://127.0.0.1/Update.ini");
    EXPECT_EQ(get(ini, "other", "updatefile"), "http://wrong/");
    EXPECT_EQ(get(ini, "MAIN", "Quoted"), "  padded  ");
    EXPECT_EQ(get(ini, "MAIN", "Single"), "x");
    EXPECT_EQ(get(ini, "MAIN", "Mixed"), "\"x'");
    EXPECT_EQ(get(ini, "MAIN", "Twice"), "\"a\"");
    EXPECT_EQ(get(ini, "MAIN", "Lone"), "\"");
    EXPECT_EQ(get(ini, "MAIN", "OfficialMail"), "<default>");
    // Present but empty is "", not the default.
    EXPECT_EQ(get(ini, "MAIN", "Empty"), "");
    EXPECT_EQ(get(ini, "MAIN", "Blank"), "");
    EXPECT_EQ(get(ini, "MAIN", "NoEquals"), "<default>");
    EXPECT_EQ(get(ini, "MAIN", "Semi"), "a;b");
    EXPECT_EQ(get(ini, "MAIN", "Dup"), "first");
    EXPECT_EQ(get(ini, "MAIN", "SEÇÃO"), "ação");
    EXPECT_EQ(get(ini, "MAIN", "Late"), "<default>");
    EXPECT_EQ(get(ini, "Missing", "UpdateFile"), "<default>");
    // Keys before any section belong to none.
    EXPECT_EQ(get("Key=v\n[S]\n", "", "Key"), "<default>");
}

TEST(ProfileFile, CutsAt127CharactersNeverInsideOne) {
    std::string accented;
    for (int i = 0; i < 100; ++i) accented += "çã";  // 200 characters, 400 bytes
    std::string ascii(200, 'a');
    std::string ini = "[MAIN]\nA=" + accented + "\nB=" + ascii + "\nC=\"" + ascii + "\"\n";

    std::string a = get(ini, "MAIN", "A");
    EXPECT_EQ(chars(a), 127u);
    EXPECT_EQ(a, accented.substr(0, 254));
    EXPECT_EQ(get(ini, "MAIN", "B"), ascii.substr(0, 127));
    // Quotes go first, then the cut.
    EXPECT_EQ(get(ini, "MAIN", "C"), ascii.substr(0, 127));
    // A four-byte character at the edge is kept whole or left out whole.
    std::string emoji = std::string(126, 'x') + "\xF0\x9F\x87\xA7\xF0\x9F\x87\xB7";
    EXPECT_EQ(get("[M]\nK=" + emoji + "\n", "M", "K"), emoji.substr(0, 130));
    // The default obeys the same limit.
    EXPECT_EQ(get("", "M", "K", accented), accented.substr(0, 254));
    // Bytes that are not UTF-8 count one each and are never dropped in the middle.
    std::string bad(130, '\xE9');
    EXPECT_EQ(get("[M]\nK=" + bad + "\n", "M", "K"), bad.substr(0, 127));
}

TEST(ProfileFile, ReadsFilesWithCrlfAndByteOrderMark) {
    TempDir dir;
    auto file = dir.write("links.ini",
                          "\xEF\xBB\xBF[MAIN]\r\nOfficialPage=http://127.0.0.1/\r\n"
                          "OfficialMail=\"suporte@parvix.example\"\r\nEmpty=\r\n");
    EXPECT_EQ(readProfileString("MAIN", "OfficialPage", "x", file), "http://127.0.0.1/");
    EXPECT_EQ(readProfileString("main", "officialmail", "x", file), "suporte@parvix.example");
    EXPECT_EQ(readProfileString("MAIN", "Empty", "x", file), "");
    EXPECT_EQ(readProfileString("MAIN", "Missing", "Não há email...", file), "Não há email...");
    // No file, a folder in its place: the default, unchanged.
    EXPECT_EQ(readProfileString("MAIN", "OfficialPage", "Não há página...", dir / "none.ini"),
              "Não há página...");
    EXPECT_EQ(readProfileString("MAIN", "OfficialPage", "d", dir.path()), "d");
    ASSERT_EQ(::mkfifo((dir / "fifo.ini").c_str(), 0600), 0);  // read as missing, never waited on
    EXPECT_EQ(readProfileString("MAIN", "OfficialPage", "d", dir / "fifo.ini"), "d");

    // Saved as UTF-16 with a byte-order mark, either way round.
    for (const bool bigEndian : {false, true}) {
        std::string wide = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
        const auto le = carvo::utf8ToUtf16le("[MAIN]\r\nVersion=2.1 ção\r\n");
        for (std::size_t i = 0; i < le.size(); i += 2) {
            wide += static_cast<char>(le[i + (bigEndian ? 1 : 0)]);
            wide += static_cast<char>(le[i + (bigEndian ? 0 : 1)]);
        }
        EXPECT_EQ(readProfileString("MAIN", "Version", "x", dir.write("Update.ini", wide)),
                  "2.1 ção")
            << bigEndian;
    }
}

TEST(TextCodec, Utf16RoundTripAndRepairs) {
    using carvo::utf16leToUtf8;
    using carvo::utf8ToUtf16le;
    const std::string text = "Atualização 🇧🇷 \x7f";
    EXPECT_EQ(utf16leToUtf8(utf8ToUtf16le(text)), text);
    EXPECT_EQ(utf8ToUtf16le("é"), (std::vector<std::uint8_t>{0xE9, 0x00}));
    // Broken input becomes U+FFFD, never a crash or a dropped neighbour.
    EXPECT_EQ(utf16leToUtf8({0x41, 0x00, 0x00, 0xD8, 0x42, 0x00}), "A\xEF\xBF\xBD" "B");
    EXPECT_EQ(utf16leToUtf8({0x41, 0x00, 0x42}), "A\xEF\xBF\xBD");
    EXPECT_EQ(utf16leToUtf8(utf8ToUtf16le("a\xC3(\xED\xA0\x80")),
              "a\xEF\xBF\xBD(\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");
    EXPECT_EQ(carvo::foldCase("ÀÉÎÕÜ×ÇABC"), "àéîõü×çabc");
    // A lone lead byte takes nothing with it: the letter after it is folded too.
    EXPECT_EQ(carvo::foldCase("\xC3\x45\xC3"), "\xC3\x65\xC3");  // "E" and "e" after it
}
