#include <gtest/gtest.h>
#include <sys/stat.h>

#include <map>

#include "ScriptedHost.h"
#include "TempDir.h"
#include "mdlRegistry.h"

using namespace veltrup;
using carvo::RegistryStore;
using carvo::RegValue;
using carvo::Variant;
using carvo::test::TempDir;

namespace {

constexpr std::string_view kSub = "Software\\Parvix 2002\\Version";
const std::string kKey = "HKEY_LOCAL_MACHINE\\Software\\Parvix 2002\\Version";

class RegistryValues : public ::testing::Test {
protected:
    void SetUp() override {
        store_.update([](carvo::RegistryData& d) {
            d.setValue(kKey, "Version", RegValue::sz("2.0"));
            d.setValue(kKey, "Minus", RegValue::dword(0xFFFFFFFFu));
            d.setValue(kKey, "Build", RegValue::dword(31));
            d.setValue(kKey, "Short", RegValue{carvo::RegType::Dword, {0x34, 0x12}});
            d.setValue(kKey, "Long", RegValue{carvo::RegType::Dword, {1, 2, 3, 4, 5}});
            d.setValue(kKey, "Path", RegValue::expandSz("%ProgramFiles%"));
            d.setValue(kKey, "Blob", RegValue::binary({1, 2}));
            d.setValue(kKey, "List", RegValue::multiSz({"a"}));
            d.setValue(kKey, "Raw", RegValue{carvo::RegType::Sz, {'2', '.', '0'}});
        });
    }
    Variant read(std::string_view name, std::string_view sub = kSub) {
        return ReadRegValue(HKEY_LOCAL_MACHINE, sub, name, store_.file());
    }

    TempDir dir_;
    RegistryStore store_{dir_ / "registry.reg"};
};

class FakeWindows : public carvo::WindowList {
public:
    std::vector<carvo::WindowHandle> order;  // top first
    std::map<carvo::WindowHandle, std::string> titles;
    std::vector<carvo::WindowHandle> asked;
    std::vector<carvo::WindowHandle> topLevelWindows() override { return order; }
    std::string title(carvo::WindowHandle w) override {
        asked.push_back(w);
        auto it = titles.find(w);
        return it == titles.end() ? "" : it->second;
    }
};

}  // namespace

TEST_F(RegistryValues, TextKeepsItsNulAndNumbersAreSigned) {
    EXPECT_EQ(read("Version"), Variant(std::string("2.0\0", 4)));
    EXPECT_EQ(RegValueText(read("Version")), "2.0");
    EXPECT_EQ(read("version"), Variant(std::string("2.0\0", 4)));
    EXPECT_EQ(read("Raw"), Variant(std::string("2.0")));
    EXPECT_EQ(read("Minus"), Variant(std::int32_t{-1}));
    EXPECT_EQ(read("Build"), Variant(std::int32_t{31}));
    EXPECT_EQ(read("Short"), Variant(std::int32_t{0x1234}));
    EXPECT_EQ(RegValueText(read("Minus")), "-1");
}

TEST_F(RegistryValues, EverythingElseIsEmpty) {
    for (const char* name : {"Path", "Blob", "List", "Long", "Missing"})
        EXPECT_TRUE(read(name).isEmpty()) << name;
    EXPECT_TRUE(read("Version", "Software\\Parvix 2003\\Version").isEmpty());
    EXPECT_TRUE(ReadRegValue(0x80000009, kSub, "Version", store_.file()).isEmpty());
    EXPECT_TRUE(ReadRegValue(HKEY_LOCAL_MACHINE, kSub, "Version", dir_ / "none.reg").isEmpty());
    EXPECT_EQ(RegValueText(Variant()), "");
}

TEST_F(RegistryValues, QueryStatuses) {
    carvo::RegKey key = store_.openKey(kKey);
    Variant v("untouched");
    EXPECT_EQ(QueryRegValue(key, "Missing", v), 2);
    EXPECT_EQ(QueryRegValue(key, "Path", v), -1);
    EXPECT_EQ(QueryRegValue(key, "Blob", v), -1);
    EXPECT_EQ(QueryRegValue(key, "Long", v), 234);
    EXPECT_EQ(QueryRegValue(carvo::RegKey(), "Version", v), 6);
    EXPECT_EQ(v, Variant("untouched"));
    EXPECT_EQ(QueryRegValue(key, "Version", v), 0);
    EXPECT_EQ(v, Variant(std::string("2.0\0", 4)));
}

TEST_F(RegistryValues, AStoreTheUserCannotWriteStillReads) {
    ::chmod(store_.file().c_str(), 0444);
    ::chmod(dir_.path().c_str(), 0555);
    EXPECT_EQ(RegValueText(read("Version")), "2.0");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_.path()), {}), 2)
        << "the store and the lock file its writer left, nothing new";
}

TEST(ReadProfileString, TakesTheDefaultAsText) {
    TempDir dir;
    auto file = dir.write("Update.ini", "[MAIN]\nVersion=\"2.1\"\n");
    EXPECT_EQ(ReadProfileString("main", "version", Variant(""), file), "2.1");
    EXPECT_EQ(ReadProfileString("MAIN", "File", Variant(std::int32_t{7}), file), "7");
    EXPECT_EQ(ReadProfileString("MAIN", "File", Variant(), file), "");
    EXPECT_EQ(ReadProfileString("MAIN", "File", Variant("Não há..."), dir / "x.ini"),
              "Não há...");
}

TEST(FindWindowByTitle, ExaminesEveryWindowAboveAndBelowTheUpdater) {
    FakeWindows windows;
    windows.titles = {{10, "Terminal"},
                      {20, "Parvix 2002 :: Auto Atualização"},
                      {30, "PARVIX 2002 V3.1 - Cadastro"},
                      {40, "Editor"}};
    carvo::test::ScriptedHost host;

    // The product below the updater's own window.
    windows.order = {10, 20, 30, 40};
    EXPECT_EQ(FindWindowByTitle(windows, host, "Parvix 2002 v", false), 30u);
    EXPECT_EQ(host.yieldCount(), 3);

    // The product above it: still found.
    windows.order = {30, 20, 10, 40};
    EXPECT_EQ(FindWindowByTitle(windows, host, "Parvix 2002 v", false), 30u);

    // Case matters only when asked to.
    EXPECT_EQ(FindWindowByTitle(windows, host, "Parvix 2002 v", true), 0u);
    EXPECT_EQ(FindWindowByTitle(windows, host, "PARVIX 2002 V", true), 30u);

    // Only the updater runs: its own title never matches.
    windows.order = {10, 20, 40};
    windows.asked.clear();
    int before = host.yieldCount();
    EXPECT_EQ(FindWindowByTitle(windows, host, "Parvix 2002 v", false), 0u);
    EXPECT_EQ(windows.asked, (std::vector<carvo::WindowHandle>{10, 20, 40}));
    EXPECT_EQ(host.yieldCount() - before, 3);

    windows.order = {};
    EXPECT_EQ(FindWindowByTitle(windows, host, "Parvix 2002 v", false), 0u);
}

TEST(FindWindowByTitle, LowersAccentedLettersAndSurvivesWindowsThatGo) {
    FakeWindows windows;
    windows.order = {1, 2, 3};
    windows.titles = {{2, "ATUALIZAÇÃO DO PRODUTO"}};  // 1 and 3 have gone: ""
    carvo::test::ScriptedHost host;
    EXPECT_EQ(FindWindowByTitle(windows, host, "atualização", false), 2u);
    EXPECT_EQ(FindWindowByTitle(windows, host, "Atualização", true), 0u);
    // A window closed from inside a yield reads as untitled and the search goes on.
    carvo::test::ScriptedHost closing;
    closing.onYield(1, [&] { windows.titles.erase(2); });
    windows.titles[3] = "Parvix 2002 v3";
    EXPECT_EQ(FindWindowByTitle(windows, closing, "atualização", false), 0u);
    EXPECT_EQ(FindWindowByTitle(windows, closing, "parvix 2002 v", false), 3u);
    EXPECT_EQ(GetWindowTitle(windows, 0), "");
    EXPECT_EQ(GetWindowTitle(windows, 3), "Parvix 2002 v3");
}
