// Form files and the property sheet's behaviour without a screen: blocks of bags that
// round-trip any text, refusal of malformed files, controls brought to life and saved back,
// the pages a selection gets, and Apply's enabling and failure.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "DownLoad.h"
#include "DownLoad_Properties.h"
#include "Library.h"
#include "NginxServer.h"
#include "TypeLib.h"
#include "tools/FormFile.h"
#include "tools/PropertySheet.h"

namespace carvo::test {
namespace {

const char* kForm =
    "# a form with three controls\n"
    "Begin Carvo.DownLoad dl1\n"
    "    _ExtentX = Long 847\n"
    "    _ExtentY = Long 847\n"
    "    URL = String \"http://127.0.0.1/a b\\\"c\\n.zip\"\n"
    "    CHUNK = Long 4096\n"
    "End\n"
    "\n"
    "Begin Carvo.DownLoad dl2\n"
    "    SaveLocation = String \"C:\\\\Programa\\\\Atualização.exe\"\n"
    "    KeepType = Boolean -1\n"
    "End\n"
    "Begin Carvo.DownLoad dl3\n"
    "End\n";

std::shared_ptr<Dispatch> createByName(std::string_view progId) {
    if (progId != "Carvo.DownLoad") throw ComError(hr::ClassNotRegistered, std::string(progId));
    return createObject(clsidDownLoad());
}

// A saved entry, Empty when the bag lacks it.
Variant entry(const TextPropertyBag& bag, std::string_view key) {
    for (const auto& [k, v] : bag.entries())
        if (k == key) return v;
    return {};
}

std::shared_ptr<Dispatch> createPage(const Guid& clsid) { return createObject(clsid); }

TEST(FormFile, BlocksOfBagsRoundTripAnyText) {
    const FormFile form = FormFile::parse(kForm);
    ASSERT_EQ(form.controls.size(), 3u);
    EXPECT_EQ(form.controls[0].progId, "Carvo.DownLoad");
    EXPECT_EQ(form.controls[0].name, "dl1");
    EXPECT_EQ(entry(form.controls[0].bag, "URL").toString(), "http://127.0.0.1/a b\"c\n.zip");
    EXPECT_EQ(entry(form.controls[1].bag, "SaveLocation").toString(),
              "C:\\Programa\\Atualização.exe");
    EXPECT_TRUE(form.controls[2].bag.entries().empty());

    const std::string text = form.serialize();
    const FormFile again = FormFile::parse(text);
    EXPECT_EQ(again.serialize(), text);
    ASSERT_EQ(again.controls.size(), 3u);
    EXPECT_EQ(again.controls[0].bag.entries(), form.controls[0].bag.entries());
    EXPECT_EQ(again.controls[1].bag.entries(), form.controls[1].bag.entries());
    EXPECT_EQ(FormFile::parse("").controls.size(), 0u);

    // Keys and numbers a bag alone could not have brought back, inside a block.
    FormFile odd;
    odd.controls.push_back({"Carvo.DownLoad", "dl9", {}});
    odd.controls[0].bag.set("#x", 1e-40f);
    odd.controls[0].bag.set("End", 5e-324);
    odd.controls[0].bag.set(" k =", "v");
    EXPECT_EQ(FormFile::parse(odd.serialize()).controls.at(0).bag.entries(),
              odd.controls[0].bag.entries());
    // Names a file could not bring back are refused when saved, not lost on the next load.
    for (const FormControl& bad : {FormControl{"Carvo.DownLoad", "dl 2", {}},
                                   FormControl{"Carvo.DownLoad", "dl9", {}}}) {
        FormFile refused = odd;
        refused.controls.push_back(bad);
        EXPECT_THROW((void)refused.serialize(), FormFileError) << bad.name;
    }
}

TEST(FormFile, MalformedFilesAreRefusedWithTheirLine) {
    auto errorOf = [](std::string_view text) -> std::string {
        try {
            FormFile::parse(text);
        } catch (const FormFileError& e) {
            return e.what();
        }
        return "accepted";
    };
    EXPECT_EQ(errorOf("Begin Carvo.DownLoad dl1\n  URL = String \"x\"\n"),
              "line 1: Begin without End");
    EXPECT_EQ(errorOf("End\n"), "line 1: End without Begin");
    EXPECT_EQ(errorOf("\nBegin Carvo.DownLoad\nEnd\n"), "line 2: Begin needs a class and a name");
    EXPECT_EQ(errorOf("Begin Carvo.DownLoad dl1\nEnd\nBegin Carvo.DownLoad dl1\nEnd\n"),
              "line 3: the name dl1 is used twice");
    EXPECT_EQ(errorOf("URL = String \"x\"\n"), "line 1: expected a Begin line");
    EXPECT_THROW(FormFile::load("/nonexistent/form.frm"), FormFileError);
}

TEST(DesignForm, LoadsEachControlFromItsBagAndSavesItBack) {
    DesignForm form(FormFile::parse(kForm), createByName);
    ASSERT_EQ(form.controls().size(), 3u);
    Dispatch& dl1 = *form.controls()[0].object;
    Dispatch& dl2 = *form.controls()[1].object;
    EXPECT_EQ(getProperty(dl1, "CHUNK").toLong(), 4096);
    EXPECT_EQ(getProperty(dl1, "Url").toString(), "http://127.0.0.1/a b\"c\n.zip");
    EXPECT_EQ(getProperty(dl2, "KeepType").toBool(), VTrue);
    EXPECT_EQ(getProperty(*form.controls()[2].object, "CHUNK").toLong(), 1024);
    EXPECT_FALSE(form.modified());

    putProperty(dl2, "CHUNK", Variant(std::int32_t{512}));
    EXPECT_TRUE(form.modified());
    EXPECT_EQ(form.notifications(), std::vector<std::string>{"dl2.CHUNK"});

    const FormFile saved = form.toFormFile();
    ASSERT_EQ(saved.controls.size(), 3u);
    EXPECT_EQ(entry(saved.controls[1].bag, "CHUNK").toLong(), 512);
    EXPECT_EQ(entry(saved.controls[1].bag, "_ExtentX").toLong(), 847);
    // Defaults are left out; only the container's extent stays for a default control.
    EXPECT_EQ(saved.controls[2].bag.entries().size(), 2u);
    form.markSaved();
    EXPECT_FALSE(form.modified());

    // A class that cannot be created, or a value that cannot be loaded, refuses the form.
    EXPECT_THROW(DesignForm(FormFile::parse("Begin Outra.Coisa x\nEnd\n"), createByName), ComError);
    EXPECT_THROW(
        DesignForm(FormFile::parse("Begin Carvo.DownLoad x\n CHUNK = String \"muito\"\nEnd\n"),
                   createByName),
        ComError);
    EXPECT_EQ(liveObjectCount(), 3);  // the refused forms let their controls go
}

TEST(PropertySheetLogic, TheSelectionGetsItsTwoPagesAndApplyFollowsTheirMarks) {
    DesignForm form(FormFile::parse(kForm), createByName);
    std::vector<std::shared_ptr<Dispatch>> selection{form.controls()[1].object,
                                                     form.controls()[0].object};
    int statusCalls = 0;
    PropertySheet sheet(selection, createPage);
    sheet.setStatusListener([&] { ++statusCalls; });
    ASSERT_EQ(sheet.pages().size(), 2u);
    EXPECT_EQ(sheet.pages()[0].page->pageInfo().title, "DownLoad_Properties");
    EXPECT_EQ(sheet.pages()[1].page->pageInfo().title, "About");
    EXPECT_FALSE(sheet.applyEnabled());
    EXPECT_EQ(sheet.apply(), std::nullopt);  // nothing changed, nothing written
    EXPECT_FALSE(form.modified());

    // A page with a window: the load changes its fields and enables Apply.
    auto page = std::dynamic_pointer_cast<DownLoad_Properties>(sheet.pages()[0].object);
    ASSERT_TRUE(page);
    struct Text : ComboField {
        std::string t;
        std::string text() const override { return t; }
        void setText(const std::string& s) override {
            if (s != t) {
                t = s;
                changed();
            }
        }
        void addItem(const std::string&) override {}
        std::vector<std::string> items() const override { return {}; }
    } url, save, chunk;
    struct Check : CheckField {
        int v = 0;
        int value() const override { return v; }
        void setValue(int n) override {
            if (n != v) {
                v = n;
                changed();
            }
        }
    } keep, online, prompt;
    page->activate({url, save, chunk, keep, online, prompt});
    EXPECT_TRUE(sheet.applyEnabled());
    EXPECT_EQ(statusCalls, 1);
    EXPECT_EQ(save.t, "C:\\Programa\\Atualização.exe");  // dl2, the first selected

    chunk.setText("muitos");
    auto failure = sheet.apply();
    ASSERT_TRUE(failure);
    EXPECT_EQ(*failure, "Type mismatch");
    EXPECT_TRUE(sheet.applyEnabled());
    EXPECT_EQ(form.notifications(), std::vector<std::string>{"dl2.SaveLocation"});

    chunk.setText("8192");
    EXPECT_EQ(sheet.apply(), std::nullopt);
    EXPECT_FALSE(sheet.applyEnabled());
    EXPECT_EQ(getProperty(*form.controls()[1].object, "CHUNK").toLong(), 8192);
    EXPECT_EQ(getProperty(*form.controls()[0].object, "CHUNK").toLong(), 4096);
    EXPECT_EQ(statusCalls, 2);
    page->deactivate();

    // No selection, no pages.
    PropertySheet none({}, createPage);
    EXPECT_TRUE(none.pages().empty());
}

TEST(FormFile, SavingReplacesTheFileWhole) {
    ScratchFolder dir;
    const auto path = dir / "form.frm";
    storeBytes(path, "velho");
    FormFile form = FormFile::parse(kForm);
    form.save(path);
    EXPECT_EQ(loadBytes(path), form.serialize());
    EXPECT_EQ(FormFile::load(path).serialize(), form.serialize());
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}),
              1);  // no leftovers
    // A FIFO in a form's or a bag's place is refused at once, never waited on.
    ASSERT_EQ(::mkfifo((dir / "fifo.frm").c_str(), 0600), 0);
    EXPECT_THROW(FormFile::load(dir / "fifo.frm"), FormFileError);
    EXPECT_THROW(TextPropertyBag::loadFile(dir / "fifo.frm"), std::system_error);
}

}  // namespace
}  // namespace carvo::test
