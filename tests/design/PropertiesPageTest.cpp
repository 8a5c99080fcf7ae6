// DownLoad_Properties without a screen: the list it fills, what it reads from the first
// selected control and in which order (nested clicks included), what it writes back and in
// which order, and where it stops when a value does not convert.

#include <gtest/gtest.h>

#include "DownLoad_Properties.h"
#include "PageFakes.h"

namespace carvo::test {
namespace {

using Strings = std::vector<std::string>;

struct PropertiesPage : ::testing::Test {
    Log log;
    PropertiesFields f{log};
    RecordingFrame frame{log};
    std::shared_ptr<DownLoad_Properties> page = std::make_shared<DownLoad_Properties>();
    std::vector<std::unique_ptr<NamedSite>> sites;

    void SetUp() override {
        page->setPageSite(&frame);
        page->activate(f.fields());
    }
    void TearDown() override { page->deactivate(); }

    // A control with the new-instance defaults whose notifications go to the log as
    // "<prefix>changed Name".
    std::shared_ptr<DownLoad> control(const std::string& prefix = "") {
        auto c = createDownLoad();
        c->initNew();
        sites.push_back(std::make_unique<NamedSite>(log, prefix));
        c->setClientSite(sites.back().get());
        return c;
    }
    // Log lines starting with a prefix.
    Strings only(std::string_view prefix) const {
        Strings out;
        for (const auto& l : log)
            if (l.rfind(prefix, 0) == 0) out.push_back(l);
        return out;
    }
};

TEST_F(PropertiesPage, ItsWindowStartsWithTheFourSizesAndTheInitialText) {
    EXPECT_EQ(f.ChunkCombo.items(), (Strings{"256", "512", "1024", "2048"}));
    EXPECT_EQ(f.ChunkCombo.text(), "Select Chunk Size*");
    EXPECT_TRUE(log.empty());
    EXPECT_FALSE(page->changed());
    EXPECT_EQ(page->keepTypeFlag(), VFalse);
    EXPECT_EQ(page->onlineCheckFlag(), VFalse);
    EXPECT_EQ(page->promptOverwriteFlag(), VFalse);

    // The page is an object of the library with no members of its own.
    EXPECT_EQ(page->typeInfo().name, "_DownLoad_Properties");
    EXPECT_EQ(page->pageInfo().title, "DownLoad_Properties");
    EXPECT_EQ(page->pageInfo().widthTwips, 5790);
    EXPECT_EQ(page->pageInfo().heightTwips, 3255);
    try {
        getProperty(*page, dispid::Url);
        FAIL() << "a page has no properties";
    } catch (const ComError& e) {
        EXPECT_EQ(e.code(), hr::MemberNotFound);
    }
}

TEST_F(PropertiesPage, LoadsInItsOrderWithTheClickHandlersNestedInside) {
    auto c = control();
    c->setSaveLocation("C:\\Temp\\setup.exe");
    c->setCHUNK(4096);
    c->setUrl("http://127.0.0.1/pub/setup.exe");
    c->setKeepType(VTrue);
    c->setPromptOverwrite(VTrue);
    log.clear();
    auto spy = std::make_shared<SpyDispatch>(log, c);

    page->setObjects({spy});

    EXPECT_EQ(log, (Strings{"get SaveLocation", "txtSaveLocation=C:\\Temp\\setup.exe", "status",
                            "get CHUNK", "ChunkCombo=4096", "get Url",
                            "txtUrl=http://127.0.0.1/pub/setup.exe", "get KeepType",
                            "Chkpreserve click 1", "get OnlineCheck", "get PromptOverwrite",
                            "ChkPC click 1"}));
    EXPECT_EQ(page->keepTypeFlag(), VTrue);
    EXPECT_EQ(page->onlineCheckFlag(), VFalse);
    EXPECT_EQ(page->promptOverwriteFlag(), VTrue);
    // A load that changed fields counts as a change.
    EXPECT_TRUE(page->changed());
    EXPECT_TRUE(page->isPageDirty());
}

TEST_F(PropertiesPage, AppliesInItsOrderAndTheControlNotifiesEachProperty) {
    auto c = control();
    page->setObjects({c});
    f.txtUrl.type("http://127.0.0.1/novo.zip");
    f.ChunkCombo.type("3000");
    f.txtSaveLocation.type("/tmp/novo.zip");
    f.ChkOC.setValue(CheckField::Checked);
    log.clear();

    page->apply();

    EXPECT_EQ(only("changed"),
              (Strings{"changed SaveLocation", "changed CHUNK", "changed Url", "changed KeepType",
                       "changed OnlineCheck", "changed PromptOverwrite"}));
    EXPECT_EQ(c->SaveLocation(), "/tmp/novo.zip");
    EXPECT_EQ(c->CHUNK(), 3000);  // the list does not limit the value
    EXPECT_EQ(c->Url(), "http://127.0.0.1/novo.zip");
    EXPECT_EQ(c->KeepType(), VFalse);
    EXPECT_EQ(c->OnlineCheck(), VTrue);
    EXPECT_EQ(c->PromptOverwrite(), VFalse);
    // Applying clears the mark, and the frame hears about it.
    EXPECT_FALSE(page->changed());
    EXPECT_EQ(log.back(), "status");
}

TEST_F(PropertiesPage, AChunkOutsideTheListIsShownAsTextAndAppliedBackUnchanged) {
    auto c = control();
    c->setCHUNK(4096);
    page->setObjects({c});
    EXPECT_EQ(f.ChunkCombo.text(), "4096");
    page->apply();
    EXPECT_EQ(c->CHUNK(), 4096);
    EXPECT_EQ(getProperty(*c, "CHUNK").type(), VarType::Long);

    // Texts go through no trimming of our own: the conversion's rules decide.
    f.ChunkCombo.type("2048");
    page->apply();
    EXPECT_EQ(c->CHUNK(), 2048);
    f.txtUrl.type("");
    page->apply();
    EXPECT_EQ(c->Url(), "");  // an empty field sets an empty Url
}

TEST_F(PropertiesPage, WithThreeSelectedOnlyTheFirstIsReadAndWritten) {
    auto a = control("a:"), b = control("b:"), c = control("c:");
    a->setUrl("http://127.0.0.1/a");
    b->setUrl("http://127.0.0.1/b");
    c->setUrl("http://127.0.0.1/c");
    log.clear();
    auto spyA = std::make_shared<SpyDispatch>(log, a);
    auto spyB = std::make_shared<SpyDispatch>(log, b);
    auto spyC = std::make_shared<SpyDispatch>(log, c);

    page->setObjects({spyA, spyB, spyC});
    EXPECT_EQ(f.txtUrl.text(), "http://127.0.0.1/a");
    EXPECT_EQ(only("get").size(), 6u);  // six reads, all of them of a (b and c are never asked)
    EXPECT_EQ(page->selectedControls().size(), 3u);

    log.clear();
    f.ChunkCombo.type("512");
    page->apply();
    EXPECT_EQ(only("a:changed").size(), 6u);
    EXPECT_TRUE(only("b:").empty());
    EXPECT_TRUE(only("c:").empty());
    EXPECT_EQ(a->CHUNK(), 512);
    EXPECT_EQ(b->CHUNK(), 1024);
    EXPECT_EQ(c->CHUNK(), 1024);
}

TEST_F(PropertiesPage, ANonNumericChunkStopsTheApplyAfterSaveLocation) {
    auto c = control();
    page->setObjects({c});
    f.txtSaveLocation.type("/tmp/escrito.bin");
    f.txtUrl.type("http://127.0.0.1/nunca");
    f.ChunkCombo.type("Select Chunk Size*");
    log.clear();

    try {
        page->apply();
        FAIL() << "the apply must fail";
    } catch (const ComError& e) {
        EXPECT_EQ(e.code(), hr::TypeMismatch);
    }
    EXPECT_EQ(only("changed"), (Strings{"changed SaveLocation"}));
    EXPECT_EQ(c->SaveLocation(), "/tmp/escrito.bin");
    EXPECT_EQ(c->CHUNK(), 1024);
    EXPECT_EQ(c->Url(), kDefaultUrl);
    EXPECT_TRUE(page->changed());  // nothing was applied as a whole, the mark stays
}

TEST_F(PropertiesPage, BoxesShowOnlyTrueAsCheckedAndTheFlagsComeFromTheClicks) {
    auto c = control();
    c->setKeepType(VTrue);
    putProperty(*c, "OnlineCheck", Variant(std::int16_t{1}));  // stored as 1, not True
    page->setObjects({c});
    EXPECT_EQ(f.Chkpreserve.value(), CheckField::Checked);
    EXPECT_EQ(f.ChkOC.value(), CheckField::Unchecked);
    EXPECT_EQ(page->keepTypeFlag(), VTrue);
    EXPECT_EQ(page->onlineCheckFlag(), VFalse);

    // A greyed box counts as not checked.
    f.ChkPC.setValue(CheckField::Greyed);
    EXPECT_EQ(page->promptOverwriteFlag(), VFalse);

    // Untouched, KeepType goes back True; the 1 that showed unchecked goes back False.
    page->apply();
    EXPECT_EQ(c->KeepType(), VTrue);
    EXPECT_EQ(c->OnlineCheck(), VFalse);
    EXPECT_EQ(c->PromptOverwrite(), VFalse);

    // The flags follow the boxes, not the other way round: a box set while the page is not
    // listening leaves the flag alone.
    page->deactivate();
    f.Chkpreserve.setValue(CheckField::Unchecked);
    EXPECT_EQ(page->keepTypeFlag(), VTrue);
}

TEST_F(PropertiesPage, AReadFailureEndsTheLoadWhereItHappened) {
    auto c = control();
    c->setSaveLocation("/tmp/a.bin");
    c->setCHUNK(256);
    log.clear();
    auto spy = std::make_shared<SpyDispatch>(log, c);
    spy->failGet = "Url";
    EXPECT_THROW(page->setObjects({spy}), ComError);
    EXPECT_EQ(f.txtSaveLocation.text(), "/tmp/a.bin");
    EXPECT_EQ(f.ChunkCombo.text(), "256");
    EXPECT_EQ(f.txtUrl.text(), "");
    EXPECT_TRUE(only("Chkpreserve").empty());
}

TEST_F(PropertiesPage, OnlyRealChangesMarkThePage) {
    auto c = control();
    page->setObjects({c});
    page->apply();
    ASSERT_FALSE(page->changed());

    // The same control again: every field already shows its value, nothing runs.
    log.clear();
    page->setObjects({c});
    EXPECT_FALSE(page->changed());
    EXPECT_TRUE(log.empty());

    // An empty selection loads and applies nothing.
    page->setObjects({});
    page->apply();
    EXPECT_FALSE(page->changed());
}

TEST(PropertiesPageLife, ASelectionGivenBeforeTheWindowIsLoadedWhenTheWindowComes) {
    Log log;
    PropertiesFields f(log);
    auto c = createDownLoad();
    c->initNew();
    const long before = liveObjectCount();
    {
        DownLoad_Properties page;
        EXPECT_EQ(liveObjectCount(), before + 1);
        page.setObjects({c});
        EXPECT_TRUE(log.empty());
        page.activate(f.fields());
        EXPECT_EQ(f.ChunkCombo.text(), "1024");
        EXPECT_EQ(f.txtSaveLocation.text(), "C:\\Arquivo.tmp");
        EXPECT_TRUE(page.changed());
    }  // destroyed while active: it lets go of the fields
    EXPECT_EQ(liveObjectCount(), before);
    f.txtUrl.type("depois");  // no handler left to call into the gone page
    EXPECT_EQ(f.txtUrl.text(), "depois");
}

}  // namespace
}  // namespace carvo::test
