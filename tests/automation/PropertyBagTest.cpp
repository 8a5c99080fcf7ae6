#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "automation/PropertyBag.h"

using namespace carvo;

TEST(PropertyBag, RoundTripsAwkwardTextAndEveryTypeThroughAFile) {
    const std::string awkward = "aspas \"duplas\"\\barra\nnova linha\r\ttab\x01 ação € 日本";
    TextPropertyBag bag;
    bag.write("Text", awkward, "");
    bag.write("Long", std::int32_t{-123456}, std::int16_t{0});
    bag.write("Bool", Variant::fromBool(VTrue), Variant::fromBool(VFalse));
    bag.write("Int", std::int16_t{-7}, std::int16_t{0});
    bag.write("Single", 1.25f, 0.0f);
    bag.write("Double", 0.1, 0.0);
    bag.write("Bytes", ByteArray{0, 255, 16}, ByteArray{});
    // Numbers too small to be normal, and keys that would read back as something else bare.
    bag.write("Tiny", 1e-40f, 0.0f);
    bag.write("Tinier", 5e-324, 0.0);
    for (const char* key : {"#hash", "a =", "a = b", " padded ", "", "\"q\"", "x\ny"})
        bag.write(key, std::int32_t{1}, std::int32_t{0});
    auto path = std::filesystem::temp_directory_path() / ("bag-" + std::to_string(::getpid()));
    bag.saveFile(path);
    auto again = TextPropertyBag::loadFile(path);
    std::filesystem::remove(path);
    EXPECT_EQ(again.entries(), bag.entries());
    EXPECT_EQ(again.read("Text", "").str(), awkward);
    EXPECT_EQ(again.read("Missing", "dflt").str(), "dflt");
}

TEST(PropertyBag, ValuesEqualToTheirDefaultAreLeftOut) {
    TextPropertyBag bag;
    bag.write("CHUNK", std::int32_t{1024}, std::int16_t{1024});  // Long vs Integer default
    bag.write("Flag", Variant::fromBool(VFalse), Variant::fromBool(VFalse));
    bag.write("Url", "x", "x");
    EXPECT_TRUE(bag.entries().empty());
    bag.write("CHUNK", std::int32_t{2048}, std::int16_t{1024});
    EXPECT_TRUE(bag.contains("CHUNK"));
    bag.write("CHUNK", std::int32_t{1024}, std::int16_t{1024});  // back to default: dropped
    EXPECT_FALSE(bag.contains("CHUNK"));
}

TEST(PropertyBag, MalformedLinesAreSkipped) {
    auto bag = TextPropertyBag::parse(
        "# comment\nGood = Long 5\nnonsense\nBad = Long x\nWorse = String \"open\nLater = String \"ok\"\r\n");
    ASSERT_EQ(bag.entries().size(), 2u);
    EXPECT_EQ(bag.read("Good", 0).toLong(), 5);
    EXPECT_EQ(bag.read("Later", "").str(), "ok");
}

TEST(PropertyBag, MissingFileIsAnError) {
    EXPECT_THROW(TextPropertyBag::loadFile("/nonexistent/dir/bag"), std::runtime_error);
}

TEST(AtomicWrite, NeverWritesThroughALinkAtTheOldTemporaryName) {
    auto dir =
        std::filesystem::temp_directory_path() / ("atomic-link-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    std::filesystem::path planted = dir / "bag";
    planted += ".tmp-" + std::to_string(::getpid());
    std::filesystem::create_symlink(dir / "victim", planted);
    writeFileAtomically(dir / "bag", "a");
    EXPECT_FALSE(std::filesystem::exists(dir / "victim"));
    EXPECT_TRUE(std::filesystem::is_symlink(planted));
    std::filesystem::remove_all(dir);
}

TEST(AtomicWrite, KeepsWhoMayReadTheFileWhateverTheWritersUmask) {
    auto dir = std::filesystem::temp_directory_path() / ("atomic-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const mode_t saved = ::umask(077);
    writeFileAtomically(dir / "new", "a");
    writeFileAtomically(dir / "kept", "a");
    ::chmod((dir / "kept").c_str(), 0640);
    writeFileAtomically(dir / "kept", "b");
    ::umask(saved);
    struct stat st {};
    ::stat((dir / "new").c_str(), &st);
    EXPECT_EQ(st.st_mode & 0777, 0644u);
    ::stat((dir / "kept").c_str(), &st);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    std::filesystem::remove_all(dir);
}
