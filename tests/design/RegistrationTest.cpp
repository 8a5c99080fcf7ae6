// Self-registration: what is written (all of it from the type-library table), that removing
// it gives the store back byte for byte, creation by ProgID from another process, the entry
// points' answers, and the resources and version information embedded in the built file.

#include <gtest/gtest.h>

#include <map>

#include "ComHost.h"
#include "DownLoad.h"
#include "Library.h"
#include "NginxServer.h"  // runProcess, ScratchFolder, loadBytes
#include "Registration.h"
#include "TypeLib.h"
#include "resources/Pictures.h"
#include "resources/VersionInfo.h"
#include "tools/ElfSection.h"
#include "win/RegistryStore.h"

namespace carvo::test {
namespace {

const std::string R = std::string(kClassesRoot) + "\\";
const std::string kDownLoadKey = R + "CLSID\\{04552374-E2A4-11D5-AF92-EDBF0B71F73E}";

std::map<std::string, std::string> asMap(const std::vector<RegistrationEntry>& entries) {
    std::map<std::string, std::string> m;
    for (const auto& e : entries) m[e.key + "|" + e.name] = e.value;
    return m;
}

std::string text(const RegistryStore& store, const std::string& key, const std::string& name = "") {
    auto v = store.read(key, name);
    if (!v) return "<none>";
    std::string s(v->data.begin(), v->data.end());
    while (!s.empty() && s.back() == '\0') s.pop_back();
    return s;
}

// A store as a machine has it before we come, edited by hand: the updater's version, another
// program's class, a comment, value forms and a key line the store does not understand.
std::filesystem::path machineStore(const ScratchFolder& dir) {
    auto path = dir / "registry.reg";
    storeBytes(
        path,
        "Windows Registry Editor Version 5.00\r\n\r\n"
        "; mantido à mão\r\n"
        "[HKEY_LOCAL_MACHINE\\Software\\Parvix 2002\\Version]\r\n"
        "\"Version\"=\"3\"\r\n"
        "\"Build\"=dword:123456789\r\n"
        "\"Raw\"=hex:zz\r\n"
        "\"Plain\"=unquoted\r\n\r\n"
        "[HKEY_LOCAL_MACHINE\\Software\\Outro] ; another vendor's\r\n"
        "\"Key\"=\"value\"\r\n\r\n"
        "[HKEY_LOCAL_MACHINE\\Software\\Classes\\CLSID\\{11111111-2222-3333-4444-555555555555}"
        "\\InprocServer32]\r\n"
        "@=\"/usr/lib/outro.so\"\r\n\r\n"
        "[HKEY_LOCAL_MACHINE\\Software\\Classes\\.txt]\r\n"
        "@=\"txtfile\"\r\n"
        // Nothing the store understands, but not ours to remove when it empties.
        "[HKEY_LOCAL_MACHINE\\Software\\Classes\\TypeLib]\r\n"
        "\"Other\"=hex(0):zz\r\n");
    return path;
}

TEST(Registration, WritesTheLibraryItsClassesAndTheControlFromTheTable) {
    const auto m = asMap(registrationEntries("/opt/carvo/lib/libcarvo.so.1"));
    auto at = [&m](const std::string& key, const std::string& name = "") {
        auto it = m.find(key + "|" + name);
        return it == m.end() ? std::string("<none>") : it->second;
    };
    // The ProgID both ways.
    EXPECT_EQ(at(R + "Carvo.DownLoad\\CLSID"), "{04552374-E2A4-11D5-AF92-EDBF0B71F73E}");
    EXPECT_EQ(at(kDownLoadKey + "\\ProgID"), "Carvo.DownLoad");
    // The control.
    EXPECT_EQ(at(kDownLoadKey, "DefaultInterface"), "{04552373-E2A4-11D5-AF92-EDBF0B71F73E}");
    EXPECT_EQ(at(kDownLoadKey, "SourceInterface"), "{04552375-E2A4-11D5-AF92-EDBF0B71F73E}");
    EXPECT_EQ(at(kDownLoadKey + "\\Control"), "");
    EXPECT_EQ(at(kDownLoadKey + "\\MiscStatus\\1"), "132497");
    EXPECT_EQ(at(kDownLoadKey + "\\ToolboxBitmap32"), "/opt/carvo/lib/libcarvo.so.1, 30000");
    EXPECT_EQ(at(kDownLoadKey + "\\TypeLib"), "{04552372-E2A4-11D5-AF92-EDBF0B71F73E}");
    // The pages: their own CLSIDs and interfaces; no ProgID, not controls, no events.
    const std::string about = R + "CLSID\\{04552377-E2A4-11D5-AF92-EDBF0B71F73E}";
    const std::string props = R + "CLSID\\{04552379-E2A4-11D5-AF92-EDBF0B71F73E}";
    EXPECT_EQ(at(about, "DefaultInterface"), "{04552376-E2A4-11D5-AF92-EDBF0B71F73E}");
    EXPECT_EQ(at(props, "DefaultInterface"), "{04552378-E2A4-11D5-AF92-EDBF0B71F73E}");
    for (const auto& key : {about, props}) {
        EXPECT_EQ(at(key + "\\ProgID"), "<none>");
        EXPECT_EQ(at(key + "\\Control"), "<none>");
        EXPECT_EQ(at(key, "SourceInterface"), "<none>");
    }
    // Every class of the table is served by this file, every interface is described.
    for (const auto& cls : carvoTypeLib().classes) {
        const std::string key = R + "CLSID\\" + cls.clsid.toString();
        EXPECT_EQ(at(key), cls.name);
        EXPECT_EQ(at(key + "\\InprocServer32"), "/opt/carvo/lib/libcarvo.so.1");
    }
    for (const auto* itf : carvoTypeLib().interfaces)
        EXPECT_EQ(at(R + "Interface\\" + itf->iid.toString()), itf->name);
    const std::string lib = R + "TypeLib\\{04552372-E2A4-11D5-AF92-EDBF0B71F73E}\\1.0";
    EXPECT_EQ(at(lib + "\\FLAGS"), "2");
    EXPECT_EQ(at(lib + "\\409\\linux64"), "/opt/carvo/lib/libcarvo.so.1");
}

TEST(Registration, UnregisteringGivesTheStoreBackByteForByte) {
    ScratchFolder dir;
    const auto store = machineStore(dir);
    const std::string before = loadBytes(store);

    registerServer(store, thisLibraryFile());
    const std::string registered = loadBytes(store);
    EXPECT_NE(registered, before);
    EXPECT_TRUE(registered.starts_with(before));  // every line kept, in place
    EXPECT_EQ(text(RegistryStore(store), kDownLoadKey + "\\InprocServer32"),
              thisLibraryFile().string());
    registerServer(store, thisLibraryFile());  // again: nothing new
    EXPECT_EQ(loadBytes(store), registered);

    unregisterServer(store);
    EXPECT_EQ(loadBytes(store), before);
    unregisterServer(store);  // nothing left to remove, nothing else touched
    EXPECT_EQ(loadBytes(store), before);

    // From an empty store, back to an empty store.
    const auto empty = dir / "empty.reg";
    registerServer(empty, thisLibraryFile());
    unregisterServer(empty);
    EXPECT_EQ(loadBytes(empty), RegistryData().serialize());
}

TEST(Registration, UnregisteringLeavesWhatOthersPutInOurKeys) {
    ScratchFolder dir;
    const auto store = machineStore(dir);
    registerServer(store, thisLibraryFile());
    RegistryStore s(store);
    const std::string category =
        kDownLoadKey + "\\Implemented Categories\\{0DE86A52-2BAA-11CF-A229-00AA003D7352}";
    s.setValue(category, "", RegValue::sz(""));
    s.setValue(R + "Carvo.DownLoad", "EditFlags", RegValue::dword(0));

    unregisterServer(store);
    EXPECT_TRUE(s.keyExists(category));
    EXPECT_TRUE(s.read(R + "Carvo.DownLoad", "EditFlags").has_value());
    EXPECT_FALSE(s.read(kDownLoadKey + "\\InprocServer32", "").has_value());
    EXPECT_FALSE(s.read(kDownLoadKey, "").has_value());
    EXPECT_FALSE(s.keyExists(R + "Carvo.DownLoad\\CLSID"));
    EXPECT_FALSE(s.keyExists(R + "Interface"));
    EXPECT_EQ(text(s, R + "CLSID\\{11111111-2222-3333-4444-555555555555}\\InprocServer32"),
              "/usr/lib/outro.so");
}

TEST(Registration, AnotherProcessCreatesTheControlByProgIdThroughTheStore) {
    ScratchFolder dir;
    const auto store = machineStore(dir);
    const std::string before = loadBytes(store);

    auto reg = runProcess({CARVO_REGSVR, "--store", store.string(), CARVO_LIBRARY_FILE});
    ASSERT_EQ(reg.exitStatus, 0) << reg.err;
    EXPECT_EQ(text(RegistryStore(store), kDownLoadKey + "\\InprocServer32"), CARVO_LIBRARY_FILE);

    auto probe = runProcess({DESIGN_HOST_PROBE, store.string(), "Carvo.DownLoad"});
    ASSERT_EQ(probe.exitStatus, 0) << probe.err;
    EXPECT_EQ(probe.out,
              "CLSID={04552374-E2A4-11D5-AF92-EDBF0B71F73E}\n"
              "Url=" +
                  std::string(kDefaultUrl) +
                  "\n"
                  "CHUNK=1024\n"
                  "SaveLocation=C:\\Arquivo.tmp\n"
                  "KeepType=False\nOnlineCheck=False\nPromptOverwrite=False\n"
                  "CanUnloadWhileAlive=1\n"
                  "CanUnloadAfter=0\n");

    auto unreg = runProcess({CARVO_REGSVR, "-u", "--store", store.string(), CARVO_LIBRARY_FILE});
    ASSERT_EQ(unreg.exitStatus, 0) << unreg.err;
    EXPECT_EQ(loadBytes(store), before);

    // Gone from the store, the class can no longer be created.
    auto again = runProcess({DESIGN_HOST_PROBE, store.string(), "Carvo.DownLoad"});
    EXPECT_EQ(again.exitStatus, 3);
    EXPECT_NE(again.err.find("0x800401F3"), std::string::npos) << again.err;
}

TEST(Registration, TheToolRefusesWhatIsNoServerAndTheEntryPointsNeverThrow) {
    ScratchFolder dir;
    auto missing =
        runProcess({CARVO_REGSVR, "--store", (dir / "r.reg").string(), (dir / "nada.so").string()});
    EXPECT_EQ(missing.exitStatus, 1);
    EXPECT_NE(missing.err.find("0x800401F8"), std::string::npos);
    auto usage = runProcess({CARVO_REGSVR});
    EXPECT_EQ(usage.exitStatus, 2);

    EXPECT_EQ(CarvoRegisterServerIn(nullptr), CARVO_E_INVALIDARG);
    EXPECT_EQ(CarvoUnregisterServerIn(""), CARVO_E_INVALIDARG);
    // A store that cannot be written: a status, not an exception.
    const auto blocked = dir / "file" / "registry.reg";
    storeBytes(dir / "file", "not a folder");
    EXPECT_LT(CarvoRegisterServerIn(blocked.c_str()), 0);
    EXPECT_LT(CarvoUnregisterServerIn(blocked.c_str()), 0);
}

TEST(EntryPoints, GetClassObjectHandsOutTheThreeFactoriesAndNothingElse) {
    for (const auto& cls : carvoTypeLib().classes) {
        std::shared_ptr<ClassFactory> factory;
        const carvo_guid clsid = toCGuid(cls.clsid);
        ASSERT_EQ(DllGetClassObject(&clsid, &factory), CARVO_S_OK) << cls.name;
        ASSERT_TRUE(factory);
        auto object = factory->createInstance();
        EXPECT_EQ(&object->typeInfo(), cls.defaultInterface) << cls.name;
    }
    std::shared_ptr<ClassFactory> factory = getClassObject(clsidDownLoad());
    const carvo_guid other = toCGuid(downLoadInterface().iid);  // an interface is no class
    EXPECT_EQ(DllGetClassObject(&other, &factory), CARVO_CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_FALSE(factory);  // reset, never left holding the earlier one
    EXPECT_EQ(DllGetClassObject(nullptr, &factory), CARVO_E_INVALIDARG);
    EXPECT_EQ(DllGetClassObject(&other, nullptr), CARVO_E_INVALIDARG);
    EXPECT_EQ(getClassObject(Guid{}), nullptr);
}

TEST(EntryPoints, CanUnloadNowFollowsLiveObjectsAndLocks) {
    ASSERT_EQ(DllCanUnloadNow(), CARVO_S_OK);
    {
        auto control = createObject(clsidDownLoad());
        EXPECT_EQ(DllCanUnloadNow(), CARVO_S_FALSE);  // an object alive
    }
    EXPECT_EQ(DllCanUnloadNow(), CARVO_S_OK);

    auto factory = getClassObject(clsidAbout());
    EXPECT_EQ(DllCanUnloadNow(), CARVO_S_FALSE);  // a factory is an object too
    factory->lockServer(true);
    factory->lockServer(true);
    factory.reset();
    EXPECT_EQ(DllCanUnloadNow(), CARVO_S_FALSE);  // two locks held, no object
    lockServer(false);
    EXPECT_EQ(DllCanUnloadNow(), CARVO_S_FALSE);
    lockServer(false);
    EXPECT_EQ(DllCanUnloadNow(), CARVO_S_OK);  // neither
    lockServer(false);                         // one unlock too many changes nothing
    EXPECT_EQ(serverLockCount(), 0);
    EXPECT_EQ(DllCanUnloadNow(), CARVO_S_OK);
}

TEST(ComHostInProcess, CreatesByProgIdOrClsidAndKeepsTheLibraryWhileObjectsLive) {
    ScratchFolder dir;
    const auto store = machineStore(dir);
    // The built library, loaded as a host loads it; this program carries its own copy of the
    // control's code, whose counts are not the loaded library's.
    registerServer(store, CARVO_LIBRARY_FILE);
    const auto library = InprocServer::load(CARVO_LIBRARY_FILE);
    ComHost host(store);

    EXPECT_EQ(host.classIdOf("carvo.download"), clsidDownLoad());  // names ignore case
    EXPECT_EQ(host.classIdOf("{04552377-E2A4-11D5-AF92-EDBF0B71F73E}"), clsidAbout());
    EXPECT_EQ(host.classIdOf("Nada.Disso"), std::nullopt);
    EXPECT_EQ(host.classIdOf(""), std::nullopt);
    {
        auto control = host.createInstance("Carvo.DownLoad");
        ASSERT_TRUE(std::dynamic_pointer_cast<OleControl>(control));
        auto page = host.createInstance(clsidDownLoadProperties());
        EXPECT_EQ(page->typeInfo().name, "_DownLoad_Properties");
        EXPECT_EQ(library->canUnloadNow(), CARVO_S_FALSE);
    }
    EXPECT_EQ(library->canUnloadNow(), CARVO_S_OK);

    auto errorOf = [&](auto f) {
        try {
            f();
        } catch (const ComError& e) {
            return e.code();
        }
        return hr::Ok;
    };
    EXPECT_EQ(errorOf([&] { host.createInstance("Nada.Disso"); }), hr::InvalidClassString);
    EXPECT_EQ(errorOf([&] {
                  host.createInstance(Guid::fromString("{00000000-0000-0000-0000-000000000001}"));
              }),
              hr::ClassNotRegistered);
    RegistryStore(store).setValue(R + "CLSID\\" + clsidAbout().toString() + "\\InprocServer32", "",
                                  RegValue::sz((dir / "sumiu.so").string()));
    EXPECT_EQ(errorOf([&] { host.createInstance(clsidAbout()); }), hr::DllNotFound);

    // The toolbox bitmap is found through its registry entry, in the registered library.
    EXPECT_EQ(host.toolboxBitmap(clsidDownLoad()), bitmapResource(30000));
    EXPECT_TRUE(host.toolboxBitmap(clsidDownLoadProperties()).empty());
    unregisterServer(store);
}

// ---- resources --------------------------------------------------------------------------

std::uint32_t le32(const std::vector<std::uint8_t>& b, std::size_t at) {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) |
           (static_cast<std::uint32_t>(b[at + 3]) << 24);
}

TEST(LibraryResources, TheBitmapsAreWholeBmpFilesOfTheirSizeAndDepth) {
    const auto toolbox = bitmapResource(30000);
    ASSERT_GE(toolbox.size(), 54u);
    EXPECT_EQ(toolbox[0], 'B');
    EXPECT_EQ(toolbox[1], 'M');
    EXPECT_EQ(le32(toolbox, 2), toolbox.size());
    EXPECT_EQ(le32(toolbox, 18), 16u);
    EXPECT_EQ(le32(toolbox, 22), 15u);
    EXPECT_EQ(toolbox[28], 24);
    EXPECT_EQ(toolbox.size(), 54u + 48u * 15u);
    // The globe: its middle is sea or land, its corner the toolbox's face.
    const Image globe = toolboxImage();
    EXPECT_EQ(globe.pixel(0, 0), 0xFFC0C0C0u);
    EXPECT_NE(globe.pixel(7, 7), 0xFFC0C0C0u);

    const auto picture = bitmapResource(kDesignPictureResource);
    EXPECT_EQ(le32(picture, 18), 32u);
    EXPECT_EQ(le32(picture, 22), 32u);
    EXPECT_EQ(picture[28], 8);
    EXPECT_EQ(picture.size(), 54u + 256u * 4u + 32u * 32u);
    EXPECT_TRUE(bitmapResource(1).empty());

    // Through the exported call: size first, then the bytes.
    std::size_t size = 0;
    EXPECT_EQ(CarvoLoadBitmap(30000, nullptr, &size), CARVO_S_FALSE);
    EXPECT_EQ(size, toolbox.size());
    std::vector<std::uint8_t> buffer(size - 1);
    size = buffer.size();  // the capacity goes in, the size comes out
    EXPECT_EQ(CarvoLoadBitmap(30000, buffer.data(), &size), CARVO_S_FALSE);  // too small
    EXPECT_EQ(size, toolbox.size());
    buffer.resize(size);
    EXPECT_EQ(CarvoLoadBitmap(30000, buffer.data(), &size), CARVO_S_OK);
    EXPECT_EQ(buffer, toolbox);
    EXPECT_EQ(CarvoLoadBitmap(4, buffer.data(), &size), CARVO_E_INVALIDARG);
    EXPECT_EQ(CarvoLoadBitmap(30000, buffer.data(), nullptr), CARVO_E_INVALIDARG);
}

TEST(LibraryResources, TheHandCursorPointsWithItsFingertipAtTheHotSpot) {
    const Image hand = handCursorImage();
    ASSERT_EQ(hand.width, 32);
    ASSERT_EQ(hand.height, 32);
    EXPECT_EQ(kHandCursorHotSpot.x, 12);
    EXPECT_EQ(kHandCursorHotSpot.y, 1);
    EXPECT_EQ(hand.pixel(12, 1), 0xFF000000u);  // the fingertip's outline
    EXPECT_EQ(hand.pixel(12, 0) >> 24, 0u);     // nothing above it
    for (int y = 0; y < 9; ++y) {
        for (int x = 0; x < 11; ++x) {
            EXPECT_EQ(hand.pixel(x, y) >> 24, 0u) << x << "," << y;  // left of the finger
        }
    }
    std::vector<std::uint32_t> colours;
    for (auto c : hand.argb)
        if (std::find(colours.begin(), colours.end(), c) == colours.end()) colours.push_back(c);
    EXPECT_LE(colours.size(), 16u);
}

// ---- version information ------------------------------------------------------------------

TEST(LibraryVersion, TheBuiltFileCarriesItsVersionInformationForTheTool) {
    const auto section = readElfSection(CARVO_LIBRARY_FILE, kVersionSection);
    ASSERT_TRUE(section);
    const auto info = parseVersionInfo(*section);
    EXPECT_EQ(info, versionInfo());
    std::map<std::string, std::string> m(info.begin(), info.end());
    EXPECT_EQ(m["FILEVERSION"], "1.0.0.0");
    EXPECT_EQ(m["PRODUCTVERSION"], "1.0.0.0");
    EXPECT_EQ(m["FileVersion"], "1.00");
    EXPECT_EQ(m["ProductVersion"], "1.00");
    EXPECT_EQ(m["Translation"], "0x0409 1200");
    EXPECT_EQ(m["Comments"], "OCX Para Fazer Download de Arquivos Via Internet.");
    EXPECT_EQ(m["InternalName"], "Carvo");
    EXPECT_EQ(m["ProductName"], "Carvo");
    EXPECT_EQ(m["OriginalFilename"], "Carvo.ocx");
    EXPECT_EQ(m["FileDescription"], "carvo.ocx");
    ASSERT_TRUE(m.count("OLESelfRegister"));
    EXPECT_EQ(m["OLESelfRegister"], "");
    EXPECT_NE(m["CompanyName"].find("Carvo Software"), std::string::npos);
    EXPECT_NE(m["LegalCopyright"].find("Carvo Software"), std::string::npos);
    // The shared library's own version numbers say the same.
    EXPECT_TRUE(std::string(CARVO_LIBRARY_FILE).ends_with("libcarvo.so.1.0.0"));

    auto tool = runProcess({CARVO_VERSION_TOOL, CARVO_LIBRARY_FILE});
    ASSERT_EQ(tool.exitStatus, 0) << tool.err;
    std::string printed = *section;
    while (!printed.empty() && printed.back() == '\0') printed.pop_back();  // the C string's end
    EXPECT_EQ(tool.out, printed);
}

TEST(LibraryVersion, TheReaderRejectsWhatIsNotAWellFormedElfFile) {
    ScratchFolder dir;
    storeBytes(dir / "texto.txt", "FILEVERSION=1.0.0.0\n");
    EXPECT_THROW(readElfSection(dir / "texto.txt", kVersionSection), std::runtime_error);
    EXPECT_THROW(readElfSection(dir / "nada", kVersionSection), std::runtime_error);
    const std::string lib = loadBytes(CARVO_LIBRARY_FILE);
    storeBytes(dir / "cortado.so", lib.substr(0, 4096));  // headers point past its end
    EXPECT_THROW(readElfSection(dir / "cortado.so", kVersionSection), std::runtime_error);
    // A well-formed file without the section: no version information.
    EXPECT_EQ(readElfSection(CARVO_REGSVR, kVersionSection), std::nullopt);
    auto tool = runProcess({CARVO_VERSION_TOOL, (dir / "texto.txt").string()});
    EXPECT_EQ(tool.exitStatus, 1);
}

}  // namespace
}  // namespace carvo::test
