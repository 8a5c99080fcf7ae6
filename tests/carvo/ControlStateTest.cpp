// The control as a host sees it before any network work: identity, dispatch table, defaults,
// property lets and their notifications, persistence and size.

#include <gtest/gtest.h>

#include <filesystem>

#include "ErrorOf.h"
#include "Harness.h"
#include "Library.h"

using namespace carvo;
using namespace carvo::test;


TEST(ControlInterface, MembersAreInSlotOrderWithTheirDispatchIdentifiers) {
    struct Row {
        const char* name;
        MemberKind kind;
        DispId id;
    };
    using K = MemberKind;
    const Row expected[] = {
        {"FileName", K::PropertyGet, 0x6803000F}, {"InDL", K::PropertyGet, 0x6803000E},
        {"AResume", K::PropertyGet, 0x6803000D}, {"CPause", K::PropertyGet, 0x6803000C},
        {"ccancel", K::PropertyGet, 0x6803000B}, {"ROLLBACK", K::PropertyGet, 0x6803000A},
        {"ROLLBACK", K::PropertyPut, 0x6803000A}, {"ResumeSupported", K::PropertyGet, 0x68030009},
        {"Connected", K::PropertyGet, 0x68030008}, {"PromptOverwrite", K::PropertyGet, 0x68030007},
        {"PromptOverwrite", K::PropertyPut, 0x68030007}, {"OnlineCheck", K::PropertyGet, 0x68030006},
        {"OnlineCheck", K::PropertyPut, 0x68030006}, {"KeepType", K::PropertyGet, 0x68030005},
        {"KeepType", K::PropertyPut, 0x68030005}, {"FileExists", K::PropertyGet, 0x68030004},
        {"FileSize", K::PropertyGet, 0x68030003}, {"Url", K::PropertyGet, 0x68030002},
        {"CHUNK", K::PropertyGet, 0x68030001}, {"SaveLocation", K::PropertyGet, 0x68030000},
        {"SaveLocation", K::PropertyPut, 0x68030000}, {"CHUNK", K::PropertyPut, 0x68030001},
        {"Url", K::PropertyPut, 0x68030002}, {"DownLoad", K::Method, 0x60030014},
        {"GetFileInformation", K::Method, 0x60030015}, {"Cancel", K::Method, 0x60030016},
        {"DLResume", K::Method, 0x6003001B}, {"Pause", K::Method, 0x6003001C},
        {"GFN", K::Method, 0x6003001D},
    };
    const auto& members = downLoadInterface().members;
    ASSERT_EQ(members.size(), std::size(expected));
    for (std::size_t i = 0; i < members.size(); ++i) {
        EXPECT_EQ(members[i].slot, static_cast<int>(i + 1));
        EXPECT_EQ(members[i].name, expected[i].name) << i;
        EXPECT_EQ(members[i].kind, expected[i].kind) << i;
        EXPECT_EQ(members[i].dispid, expected[i].id) << expected[i].name;
    }
    const char* events[] = {"DLComplete", "DLError", "DLECode", "RecievedBytes", "Percent",
                            "StatusChange", "Rate", "TimeLeft", "ConnectionState"};
    const auto& ev = downLoadEventInterface().members;
    ASSERT_EQ(ev.size(), 9u);
    for (int i = 0; i < 9; ++i) {
        EXPECT_EQ(ev[i].name, events[i]);
        EXPECT_EQ(ev[i].dispid, i + 1);
        EXPECT_EQ(ev[i].params.size(), i == 0 ? 0u : 1u);
    }
    const auto& lib = carvoTypeLib();
    EXPECT_EQ(lib.libid.toString(), "{04552372-E2A4-11D5-AF92-EDBF0B71F73E}");
    EXPECT_EQ(lib.findClass("Carvo.DownLoad")->clsid.toString(), "{04552374-E2A4-11D5-AF92-EDBF0B71F73E}");
    EXPECT_EQ(downLoadInterface().iid.toString(), "{04552373-E2A4-11D5-AF92-EDBF0B71F73E}");
    EXPECT_EQ(downLoadEventInterface().iid.toString(), "{04552375-E2A4-11D5-AF92-EDBF0B71F73E}");
    EXPECT_EQ(clsidAbout().toString(), "{04552377-E2A4-11D5-AF92-EDBF0B71F73E}");
    EXPECT_EQ(clsidDownLoadProperties().toString(), "{04552379-E2A4-11D5-AF92-EDBF0B71F73E}");
}

TEST(ControlInterface, LateBoundCallsReportUnknownMembersCountsAndTypes) {
    Harness h;
    for (DispId id = 0x60030017; id <= 0x6003001A; ++id)
        EXPECT_EQ(errorOf([&] { callMethod(*h.dl, id); }), hr::MemberNotFound) << std::hex << id;
    EXPECT_EQ(errorOf([&] { putProperty(*h.dl, dispid::FileSize, 5); }), hr::MemberNotFound);
    EXPECT_EQ(errorOf([&] { putProperty(*h.dl, dispid::CHUNK, "lots"); }), hr::TypeMismatch);
    EXPECT_EQ(errorOf([&] { callMethod(*h.dl, dispid::Pause); }), hr::BadParamCount);
    EXPECT_EQ(errorOf([&] { h.dl->idOfName("Nothing"); }), hr::UnknownName);
    EXPECT_EQ(h.dl->idOfName("savelocation"), dispid::SaveLocation);
    Variant arg[1] = {"http://h/dir/setup.exe?x=1"};
    EXPECT_EQ(callMethod(*h.dl, dispid::GFN, arg).toString(), "setup.exe?x=1");
}

TEST(ControlState, AFreshControlHasItsDefaultsAndNoFlagsSet) {
    auto obj = createObject(clsidDownLoad());
    auto control = std::dynamic_pointer_cast<OleControl>(obj);
    ASSERT_TRUE(control);
    control->initNew();
    EXPECT_EQ(getProperty(*obj, dispid::CHUNK).toLong(), 1024);
    EXPECT_EQ(getProperty(*obj, dispid::SaveLocation).toString(), "C:\\Arquivo.tmp");
    EXPECT_EQ(getProperty(*obj, dispid::Url).toString().rfind("http://", 0), 0u);
    for (DispId id : {dispid::KeepType, dispid::OnlineCheck, dispid::PromptOverwrite, dispid::InDL,
                      dispid::AResume, dispid::CPause, dispid::ccancel, dispid::ResumeSupported,
                      dispid::Connected, dispid::FileExists}) {
        Variant v = getProperty(*obj, id);
        EXPECT_EQ(v.type(), VarType::Boolean);
        EXPECT_EQ(v.toBool(), VFalse);
    }
    EXPECT_EQ(getProperty(*obj, dispid::ROLLBACK).toLong(), 0);
    EXPECT_EQ(getProperty(*obj, dispid::FileSize).toLong(), 0);
    EXPECT_FALSE(control->visibleAtRunTime());
    EXPECT_EQ(control->miscStatus(), 0x20591u);
    EXPECT_EQ(control->propertyPages(), (std::vector<Guid>{clsidDownLoadProperties(), clsidAbout()}));
    EXPECT_EQ(createObject(clsidDownLoad()) == obj, false);
    EXPECT_EQ(errorOf([] { createObject(Guid{}); }), hr::ClassNotAvailable);
}

TEST(ControlState, LetsStoreAnyValueAndNotifyByTheirNames) {
    Harness h;
    putProperty(*h.dl, dispid::Url, "http://example.test/a/b.zip");
    putProperty(*h.dl, dispid::CHUNK, -5);
    putProperty(*h.dl, dispid::CHUNK, 0);
    putProperty(*h.dl, dispid::SaveLocation, "/tmp/x");
    putProperty(*h.dl, dispid::KeepType, Variant::fromBool(VTrue));
    putProperty(*h.dl, dispid::OnlineCheck, Variant::fromBool(VTrue));
    putProperty(*h.dl, dispid::PromptOverwrite, Variant::fromBool(VTrue));
    putProperty(*h.dl, dispid::ROLLBACK, 100);
    EXPECT_EQ(h.site.changes, (std::vector<std::string>{"Url", "CHUNK", "CHUNK", "SaveLocation", "KeepType",
                                                         "OnlineCheck", "PromptOverwrite", "ROLLBACK"}));
    EXPECT_EQ(h.dl->CHUNK(), 0);
    EXPECT_EQ(h.dl->ROLLBACK(), 100);
    // FileName is computed from Url at each call.
    EXPECT_EQ(getProperty(*h.dl, dispid::FileName).toString(), "b.zip");
    h.dl->setUrl("no-slash");
    EXPECT_EQ(h.dl->FileName(), "no-slash");
    h.dl->setUrl("http://h/dir/");
    EXPECT_EQ(h.dl->FileName(), "");

    // A refused notification reaches the caller, and the value was stored before it.
    h.site.failNotify = true;
    EXPECT_EQ(errorOf([&] { putProperty(*h.dl, dispid::SaveLocation, "/tmp/y"); }), hr::Fail);
    EXPECT_EQ(h.dl->SaveLocation(), "/tmp/y");
}

TEST(ControlState, PauseKeepsItsSixteenBitValueAndGetsAgreeWithEachOther) {
    Harness h;
    Variant one[1] = {std::int16_t{1}};
    callMethod(*h.dl, dispid::Pause, one);
    EXPECT_EQ(h.dl->CPause(), 1);  // stored, and not a pause (only -1 pauses)
    EXPECT_TRUE(h.log->events.empty());
    Variant off[1] = {Variant::fromBool(VFalse)};
    callMethod(*h.dl, dispid::Pause, off);
    EXPECT_EQ(h.log->events, (std::vector<std::string>{"StatusChange\tDespausando"}));
    EXPECT_EQ(getProperty(*h.dl, dispid::AResume), getProperty(*h.dl, dispid::ResumeSupported));
}

TEST(ControlPersistence, DefaultsSaveNothingAndValuesRoundTripThroughABagFile) {
    Harness h;
    TextPropertyBag empty;
    h.dl->save(empty);
    EXPECT_TRUE(empty.entries().empty());

    h.dl->setUrl("http://example.test/ação/\"quoted\".exe");
    h.dl->setCHUNK(65536);
    h.dl->setSaveLocation("/tmp/Arquivo.tmp");
    h.dl->setKeepType(VTrue);
    h.dl->setROLLBACK(77);
    TextPropertyBag bag;
    h.dl->save(bag);
    EXPECT_TRUE(bag.contains("URL"));  // the bag key is URL, the notification Url
    EXPECT_FALSE(bag.contains("Url"));
    EXPECT_FALSE(bag.contains("ROLLBACK"));
    EXPECT_FALSE(bag.contains("OnlineCheck"));
    auto path = std::filesystem::temp_directory_path() / ("ctl-" + std::to_string(::getpid()) + ".bag");
    bag.saveFile(path);

    Harness other;
    auto loaded = TextPropertyBag::loadFile(path);
    std::filesystem::remove(path);
    other.dl->load(loaded);
    EXPECT_EQ(other.dl->Url(), h.dl->Url());
    EXPECT_EQ(other.dl->CHUNK(), 65536);
    EXPECT_EQ(other.dl->SaveLocation(), "/tmp/Arquivo.tmp");
    EXPECT_EQ(other.dl->KeepType(), VTrue);
    EXPECT_EQ(other.dl->ROLLBACK(), 0);
    EXPECT_TRUE(other.site.changes.empty());  // loading notifies nothing

    TextPropertyBag none;
    Harness third;
    third.dl->setCHUNK(5);
    third.dl->load(none);
    EXPECT_EQ(third.dl->CHUNK(), 1024);
    EXPECT_EQ(third.dl->SaveLocation(), "C:\\Arquivo.tmp");
}

TEST(ControlPersistence, ABadStoredValueEndsTheLoadKeepingWhatCameBefore) {
    Harness h;
    h.dl->setSaveLocation("/before");
    TextPropertyBag bag;
    bag.set("URL", "http://loaded/");
    bag.set("CHUNK", "not a number");
    bag.set("SaveLocation", "/after");
    EXPECT_EQ(errorOf([&] { h.dl->load(bag); }), hr::TypeMismatch);
    EXPECT_EQ(h.dl->Url(), "http://loaded/");
    EXPECT_EQ(h.dl->SaveLocation(), "/before");
    bag.set("CHUNK", 3.0e12);
    EXPECT_EQ(errorOf([&] { h.dl->load(bag); }), hr::Overflow);
}

TEST(ControlSize, AnyResizeEndsAtFourHundredEightyTwips) {
    Harness h;
    h.site.control = h.dl.get();
    h.dl->resize({1000, 200});
    EXPECT_EQ(h.dl->extent(), (Extent{480, 480}));
    ASSERT_EQ(h.site.extentRequests.size(), 1u);  // the echo at the right size ends there
    h.dl->resize({480, 480});
    EXPECT_EQ(h.site.extentRequests.size(), 1u);
    EXPECT_EQ(twipsToHimetric(480), 847);
}
