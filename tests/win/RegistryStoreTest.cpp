#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "TempDir.h"
#include "win/RegistryStore.h"
#include "win/TextCodec.h"

using namespace carvo;
using carvo::test::readAll;
using carvo::test::TempDir;

namespace {

constexpr std::string_view kKey = "HKEY_LOCAL_MACHINE\\Software\\Parvix 2002\\Version";

std::string text(const RegValue& v) { return std::string(v.data.begin(), v.data.end()); }

}  // namespace

TEST(RegistryData, EveryValueTypeAndTrickyTextSurviveTheFile) {
    RegistryData d;
    const std::vector<std::pair<std::string, RegValue>> values = {
        {"", RegValue::sz("the default")},
        {"Version", RegValue::sz("2.0")},
        {"Quote \"and\" back\\slash", RegValue::sz("C:\\Programs\\\"Parvix\" \\")},
        {"Accents", RegValue::sz("Atualização — Não há página… 🇧🇷")},
        {"Empty", RegValue::sz("")},
        {"Lines", RegValue::sz("one\r\ntwo\nthree")},
        {"NoNul", RegValue{RegType::Sz, {'a', 'b'}}},
        {"Inner NUL", RegValue{RegType::Sz, {'a', 0, 'b', 0}}},
        {"Minus one", RegValue::dword(0xFFFFFFFFu)},
        {"Answer", RegValue::dword(42)},
        {"Odd dword", RegValue{RegType::Dword, {1, 2}}},
        {"Path", RegValue::expandSz("%SystemRoot%\\çà")},
        {"List", RegValue::multiSz({"um", "dois", "três"})},
        {"Blob", RegValue::binary(std::vector<std::uint8_t>(200, 0xAB))},
        {"Nothing", RegValue{RegType::Binary, {}}},
        {"QWord", RegValue{static_cast<RegType>(0xb), {1, 2, 3, 4, 5, 6, 7, 8}}},
    };
    for (const auto& [name, value] : values) d.setValue(kKey, name, value);

    std::string file = d.serialize();
    EXPECT_TRUE(file.starts_with("Windows Registry Editor Version 5.00\n\n"));
    EXPECT_NE(file.find("\n\"Version\"=\"2.0\"\n"), std::string::npos);
    EXPECT_NE(file.find("\n@=\"the default\"\n"), std::string::npos);
    EXPECT_NE(file.find("\"Minus one\"=dword:ffffffff\n"), std::string::npos);
    EXPECT_NE(file.find("\"Answer\"=dword:0000002a\n"), std::string::npos);
    EXPECT_NE(file.find("\"Quote \\\"and\\\" back\\\\slash\"="), std::string::npos);
    // Expandable text keeps the exports' UTF-16LE bytes.
    EXPECT_NE(file.find("\"Path\"=hex(2):25,00,53,00"), std::string::npos);
    // Long hex values wrap with a backslash and never leave a line over 80 columns.
    EXPECT_NE(file.find(",\\\n  ab,"), std::string::npos);
    for (std::size_t start = 0, nl; (nl = file.find('\n', start)) != std::string::npos;
         start = nl + 1)
        EXPECT_LE(nl - start, 80u);

    RegistryData back = RegistryData::parse(file);
    for (const auto& [name, value] : values) {
        const RegValue* got = back.find(kKey, name);
        ASSERT_NE(got, nullptr) << name;
        EXPECT_EQ(*got, value) << name;
    }
    EXPECT_EQ(back.serialize(), file);
}

TEST(RegistryData, ReadsAHandWrittenExportAndSkipsWhatItDoesNotKnow) {
    const std::string file =
        "\xEF\xBB\xBFWindows Registry Editor Version 5.00\r\n"
        "\r\n"
        "\"Orphan\"=\"before any key\"\r\n"
        "; a comment\r\n"
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Parvix 2002\\Version]\r\n"
        "\"Version\"=\"2.0\"\r\n"
        "\"Broken\"=\"no closing quote\r\n"
        "\"BadDword\"=dword:xyz\r\n"
        "\"LongDword\"=dword:123456789\r\n"
        "\"BadHex\"=hex:01,zz\r\n"
        "\"Deleted\"=-\r\n"
        "garbage line\r\n"
        "\"Spaced\" = dword:0000000A \r\n"
        "\"Wrapped\"=hex(2):41,00,42,00,\\\r\n"
        "  43,00,00,00\r\n"
        "\"Version\"=\"2.1\"\r\n"
        "[-HKEY_LOCAL_MACHINE\\Software\\Gone]\r\n"
        "[\\-HKEY_LOCAL_MACHINE\\Software\\Gone]\r\n"
        "\"Lost\"=\"belongs to a deleted key\"\r\n"
        "[HKEY_LOCAL_MACHINE\\Software\\Half\r\n"
        "\"Also lost\"=\"after a broken key line\"\r\n";
    RegistryData d = RegistryData::parse(file);

    // Case, doubled backslashes and the short root name all reach the same key.
    const RegValue* v = d.find("hklm\\\\software\\PARVIX 2002\\version\\", "VERSION");
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(text(*v), std::string("2.1\0", 4));  // the later line wins
    EXPECT_EQ(d.find(kKey, "Spaced")->data, RegValue::dword(10).data);
    EXPECT_EQ(*d.find(kKey, "Wrapped"), RegValue::expandSz("ABC"));
    for (const char* name : {"Orphan", "Broken", "BadDword", "LongDword", "BadHex", "Deleted"})
        EXPECT_EQ(d.find(kKey, name), nullptr) << name;
    EXPECT_FALSE(d.keyExists("HKEY_LOCAL_MACHINE\\Software\\Gone"));
    EXPECT_FALSE(d.keyExists("HKEY_LOCAL_MACHINE\\Software\\Half"));
    // Parents of a listed key exist.
    EXPECT_TRUE(d.keyExists("HKEY_LOCAL_MACHINE\\Software"));
    EXPECT_FALSE(d.keyExists("HKEY_LOCAL_MACHINE\\Soft"));
    EXPECT_FALSE(d.keyExists(""));

    // The store's readers, which decode one key only, read it the same way.
    TempDir dir;
    RegistryStore store(dir.write("registry.reg", file));
    for (const char* name : {"Version", "Spaced", "Wrapped", "Orphan", "BadHex", "Deleted"}) {
        const RegValue* want = d.find(kKey, name);
        EXPECT_EQ(store.read(kKey, name), want ? std::optional(*want) : std::nullopt) << name;
    }
    EXPECT_FALSE(store.keyExists("HKEY_LOCAL_MACHINE\\Software\\Gone"));
    EXPECT_TRUE(store.keyExists("HKEY_LOCAL_MACHINE\\Software"));
}

TEST(RegistryData, AcceptsAUtf16File) {
    std::string utf8 = "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\A]\r\n"
                       "\"Nome\"=\"Atualização\"\r\n";
    std::string file = "\xFF\xFE";
    // ASCII-only except the two accented letters, which are below U+0100.
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(utf8[i]);
        char32_t cp = c;
        if (c == 0xC3) cp = 0xC0 + (static_cast<unsigned char>(utf8[++i]) & 0x3F);
        file += static_cast<char>(cp);
        file += '\0';
    }
    RegistryData d = RegistryData::parse(file);
    ASSERT_NE(d.find("HKEY_LOCAL_MACHINE\\A", "nome"), nullptr);
    EXPECT_EQ(*d.find("HKEY_LOCAL_MACHINE\\A", "nome"), RegValue::sz("Atualização"));
}

TEST(RegistryData, EditsKeysAndValues) {
    RegistryData d;
    d.setValue("HKEY_CLASSES_ROOT\\Carvo.DownLoad\\CLSID", "", RegValue::sz("{1}"));
    d.setValue("HKEY_CLASSES_ROOT\\Carvo.DownLoad", "", RegValue::sz("DownLoad"));
    d.setValue("HKEY_CLASSES_ROOT\\Carvo.DownLoadX", "", RegValue::sz("other"));
    d.setValue("HKEY_CLASSES_ROOT\\carvo.download", "", RegValue::sz("renamed"));
    EXPECT_EQ(text(*d.find("HKEY_CLASSES_ROOT\\Carvo.DownLoad", "")), std::string("renamed\0", 8));
    // Keys come out parents first, in the case they were first written.
    auto keys = d.keys();
    ASSERT_EQ(keys.size(), 4u);
    EXPECT_EQ(keys[0]->path, "HKEY_CLASSES_ROOT");
    EXPECT_EQ(keys[1]->path, "HKEY_CLASSES_ROOT\\Carvo.DownLoad");
    EXPECT_EQ(keys[2]->path, "HKEY_CLASSES_ROOT\\Carvo.DownLoad\\CLSID");

    EXPECT_TRUE(d.deleteValue("HKEY_CLASSES_ROOT\\Carvo.DownLoad\\CLSID", ""));
    EXPECT_FALSE(d.deleteValue("HKEY_CLASSES_ROOT\\Carvo.DownLoad\\CLSID", ""));
    EXPECT_TRUE(d.keyExists("HKEY_CLASSES_ROOT\\Carvo.DownLoad\\CLSID"));
    // Deleting a key takes its sub-keys but not a sibling that shares its prefix.
    EXPECT_TRUE(d.deleteKey("HKEY_CLASSES_ROOT\\CARVO.DOWNLOAD"));
    EXPECT_FALSE(d.keyExists("HKEY_CLASSES_ROOT\\Carvo.DownLoad\\CLSID"));
    EXPECT_TRUE(d.keyExists("HKEY_CLASSES_ROOT\\Carvo.DownLoadX"));
    EXPECT_FALSE(d.deleteKey("HKEY_CLASSES_ROOT\\Carvo.DownLoad"));

    // Names that would break the file are refused before anything is stored.
    EXPECT_THROW(d.setValue("HKEY_CLASSES_ROOT\\A\nB", "x", RegValue::dword(1)),
                 std::invalid_argument);
    EXPECT_THROW(d.setValue("HKEY_CLASSES_ROOT\\A", "x\ny", RegValue::dword(1)),
                 std::invalid_argument);
    EXPECT_THROW(d.setValue("\\\\", "x", RegValue::dword(1)), std::invalid_argument);
    EXPECT_THROW(
        d.setValue("\\-HKEY_CLASSES_ROOT\\A", "x", RegValue::dword(1)),  // "[-...]" deletes
        std::invalid_argument);
    EXPECT_FALSE(d.keyExists("HKEY_CLASSES_ROOT\\A"));
}

TEST(RegistryData, EditsTouchOnlyTheirOwnLines) {
    const std::string before =
        "Windows Registry Editor Version 5.00\r\n\r\n"
        "[HKEY_LOCAL_MACHINE\\A]\r\n"
        "\"Keep\" = dword:0000000A \r\n"
        "\"Change\"=\"old\"\r\n"
        "\"Gone\"=\"x\"\r\n"
        "\"Nine\"=dword:123456789\r\n"
        "; about B\r\n\r\n"
        "[HKEY_LOCAL_MACHINE\\B]\r\n"
        "\"Unquoted\"=text\r\n"
        "; inside B\r\n\r\n"
        "[HKEY_LOCAL_MACHINE\\C] ; not a key line this reader knows\r\n"
        "\"Blob\"=hex:zz";
    RegistryData d = RegistryData::parse(before);
    EXPECT_EQ(d.serialize(), before);
    d.setValue("HKEY_LOCAL_MACHINE\\A", "Keep", RegValue::dword(10));
    d.setValue("HKEY_LOCAL_MACHINE\\A", "Change", RegValue::sz("new"));
    d.setValue("HKEY_LOCAL_MACHINE\\A", "Added", RegValue::dword(1));
    d.deleteValue("HKEY_LOCAL_MACHINE\\A", "Gone");
    d.deleteKey("HKEY_LOCAL_MACHINE\\B");
    d.setValue("HKEY_LOCAL_MACHINE\\D", "", RegValue::sz("d"));
    EXPECT_FALSE(d.deleteEmptyKey("HKEY_LOCAL_MACHINE\\A"));
    EXPECT_EQ(d.serialize(),
              "Windows Registry Editor Version 5.00\r\n\r\n"
              "[HKEY_LOCAL_MACHINE\\A]\r\n"
              "\"Keep\" = dword:0000000A \r\n"
              "\"Change\"=\"new\"\r\n"
              "\"Nine\"=dword:123456789\r\n"
              "\"Added\"=dword:00000001\r\n"
              "; about B\r\n\r\n"
              "; inside B\r\n"
              "[HKEY_LOCAL_MACHINE\\C] ; not a key line this reader knows\r\n"
              "\"Blob\"=hex:zz\r\n"
              "[HKEY_LOCAL_MACHINE\\D]\r\n@=\"d\"\r\n\r\n");
}

TEST(RegistryStore, MissingFileKeyAndValue) {
    TempDir dir;
    RegistryStore missing(dir / "none.reg");
    EXPECT_FALSE(missing.read(kKey, "Version"));
    EXPECT_EQ(missing.openKey(kKey).openStatus(), regerr::FileNotFound);
    EXPECT_TRUE(missing.load().empty());

    RegistryStore store(dir / "registry.reg");
    store.setValue(kKey, "Version", RegValue::sz("2.0"));
    EXPECT_EQ(*store.read(kKey, "version"), RegValue::sz("2.0"));
    EXPECT_FALSE(store.read(kKey, "Other"));
    EXPECT_FALSE(store.read("HKEY_LOCAL_MACHINE\\Software\\Parvix 2003", "Version"));
    EXPECT_TRUE(store.keyExists("HKEY_LOCAL_MACHINE\\Software\\Parvix 2002"));

    RegValue v;
    EXPECT_EQ(store.openKey(kKey).queryValue("Other", v), regerr::FileNotFound);
    EXPECT_EQ(RegKey().queryValue("Version", v), regerr::InvalidHandle);

    // A store path that is a directory or a FIFO opens nothing, throws nothing, never waits.
    RegistryStore dirStore(dir.path());
    EXPECT_EQ(dirStore.openKey(kKey).openStatus(), regerr::CantRead);
    EXPECT_THROW(dirStore.load(), std::system_error);
    ASSERT_EQ(::mkfifo((dir / "fifo.reg").c_str(), 0600), 0);
    EXPECT_EQ(RegistryStore(dir / "fifo.reg").openKey(kKey).openStatus(), regerr::CantRead);
}

TEST(RegistryStore, WritesOnlyWhenSomethingChanges) {
    TempDir dir;
    RegistryStore store(dir / "sub" / "registry.reg");
    store.deleteKey(kKey);  // nothing to delete: no file appears
    EXPECT_FALSE(std::filesystem::exists(store.file()));
    store.setValue(kKey, "Version", RegValue::sz("2.0"));
    auto stamp = std::filesystem::last_write_time(store.file());
    ::chmod(store.file().c_str(), 0600);
    store.setValue(kKey, "Version", RegValue::sz("2.0"));
    EXPECT_EQ(std::filesystem::last_write_time(store.file()), stamp);
    // A change that throws leaves the file as it was.
    EXPECT_THROW(store.update([](RegistryData& d) {
        d.setValue(kKey, "Version", RegValue::sz("9.9"));
        throw std::runtime_error("changed my mind");
    }),
                 std::runtime_error);
    EXPECT_EQ(*store.read(kKey, "Version"), RegValue::sz("2.0"));
}

// A link at the lock's name is never written through. (One at the old temporary name is
// writeFileAtomically's to ignore: PropertyBagTest.)
TEST(RegistryStore, ALinkPlantedAtTheLocksNameIsNotFollowed) {
    TempDir dir;
    RegistryStore store(dir / "registry.reg");
    std::filesystem::create_symlink(dir / "victim", dir / "registry.reg.lock");
    EXPECT_THROW(store.setValue(kKey, "Version", RegValue::sz("3.0")), std::system_error);
    EXPECT_FALSE(std::filesystem::exists(dir / "victim"));
}

TEST(RegistryStore, AStoreTheUserCannotWriteStillReads) {
    TempDir dir;
    ::chmod(dir.path().c_str(), 0755);  // others may pass through, as to /var/lib
    auto sub = dir / "ro";
    std::filesystem::create_directory(sub);
    RegistryStore store(sub / "registry.reg");
    store.setValue(kKey, "Version", RegValue::sz("2.0"));
    store.setValue(kKey, "Build", RegValue::dword(7));
    ::chmod(store.file().c_str(), 0444);
    ::chmod(sub.c_str(), 0555);
    auto listing = [&] {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(sub))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    };
    const auto before = listing();
    const auto stamp = std::filesystem::last_write_time(store.file());

    EXPECT_EQ(*store.read(kKey, "Version"), RegValue::sz("2.0"));
    EXPECT_TRUE(store.keyExists(kKey));
    // Reading left no trace: no lock file, no temporary, no new time.
    EXPECT_EQ(listing(), before);
    EXPECT_EQ(std::filesystem::last_write_time(store.file()), stamp);

    // Root passes file modes; an unprivileged child process proves the point where it counts.
    if (::geteuid() == 0) {
        int fds[2];
        ASSERT_EQ(::pipe(fds), 0);
        pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            ::close(fds[0]);
            if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(3);
            // The check that the child really cannot write.
            if (::access(store.file().c_str(), W_OK) == 0) ::_exit(4);
            auto v = RegistryStore(store.file()).read(kKey, "Version");
            std::string got = v ? std::string(v->data.begin(), v->data.end()) : "<none>";
            ssize_t n = ::write(fds[1], got.data(), got.size());
            ::_exit(n == static_cast<ssize_t>(got.size()) ? 0 : 5);
        }
        ::close(fds[1]);
        std::string got;
        char buf[64];
        for (ssize_t n; (n = ::read(fds[0], buf, sizeof buf)) > 0;) got.append(buf, n);
        ::close(fds[0]);
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFEXITED(status));
        if (WEXITSTATUS(status) == 3) GTEST_SKIP() << "cannot drop privileges here";
        ASSERT_EQ(WEXITSTATUS(status), 0);
        EXPECT_EQ(got, std::string("2.0\0", 4));
    }
}

TEST(RegistryStore, AnUnreadableStoreOpensNothing) {
    if (::geteuid() == 0) GTEST_SKIP() << "root reads every file";
    TempDir dir;
    RegistryStore store(dir / "registry.reg");
    store.setValue(kKey, "Version", RegValue::sz("2.0"));
    ::chmod(store.file().c_str(), 0);
    EXPECT_EQ(store.openKey(kKey).openStatus(), regerr::AccessDenied);
    EXPECT_FALSE(store.read(kKey, "Version"));
}

// Two processes, each with two threads, count up their own values and one shared counter.
// Every increment must survive, and a reader must never see a partial file.
TEST(RegistryStore, ConcurrentWritersLoseNothing) {
    TempDir dir;
    const auto path = dir / "registry.reg";
    constexpr int kRounds = 40;
    auto work = [&](const std::string& who) {
        RegistryStore store(path);
        for (int i = 1; i <= kRounds; ++i) {
            store.update([&](RegistryData& d) {
                const RegValue* c = d.find(kKey, "Counter");
                std::uint32_t n = c ? static_cast<std::uint32_t>(c->data[0] | c->data[1] << 8) : 0;
                d.setValue(kKey, "Counter", RegValue::dword(n + 1));
                d.setValue(kKey, who, RegValue::sz(std::to_string(i)));
            });
        }
    };
    auto twoThreads = [&](const std::string& prefix) {
        std::thread a(work, prefix + "a");
        std::thread b(work, prefix + "b");
        a.join();
        b.join();
    };

    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        try {
            twoThreads("child-");
        } catch (...) {
            ::_exit(1);
        }
        ::_exit(0);
    }

    std::atomic<bool> done{false};
    std::atomic<int> torn{0};
    std::thread reader([&] {
        while (!done) {
            std::string f = readAll(path);
            if (f.empty()) continue;  // not written yet
            if (!f.starts_with("Windows Registry Editor Version 5.00\n") || !f.ends_with("\n\n"))
                ++torn;
        }
    });
    twoThreads("parent-");
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    done = true;
    reader.join();
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

    EXPECT_EQ(torn, 0);
    RegistryStore store(path);
    EXPECT_EQ(*store.read(kKey, "Counter"), RegValue::dword(4 * kRounds));
    for (const char* who : {"child-a", "child-b", "parent-a", "parent-b"})
        EXPECT_EQ(*store.read(kKey, who), RegValue::sz(std::to_string(kRounds))) << who;
}

// A hex value whose last line keeps its backslash ends Carvo's key: a value written after it is
// its own line for every reader, and goes again without a trace (register, then unregister).
TEST(RegistryStore, AValueWrittenAfterADanglingHexLineIsItsOwn) {
    const std::string key = "HKEY_LOCAL_MACHINE\\Software\\Classes\\Carvo.DownLoad";
    const std::string head = "Windows Registry Editor Version 5.00\r\n\r\n[" + key +
                             "]\r\n\"Blob\"=hex:01,\\\r\n  02,\\\r\n";
    for (const std::string& file : {head, head + "[HKEY_LOCAL_MACHINE\\A]\r\n", head + ";\r\n"}) {
        TempDir dir;
        RegistryStore store(dir.write("registry.reg", file));
        store.setValue(key, "", RegValue::sz("DownLoad"));
        EXPECT_EQ(store.read(key, ""), RegValue::sz("DownLoad")) << file;
        EXPECT_TRUE(store.load().find(key, "") != nullptr);  // the writer's own reading
        store.deleteValue(key, "");
        EXPECT_EQ(readAll(store.file()), file);
    }
}

// With the limit shortened: a change that ends at the limit is written and reads back; one byte
// more is refused, naming the limit, and nothing is written.
TEST(RegistryStore, NeverWritesAStoreItCouldNotReadBack) {
    constexpr std::size_t kLimit = 4096, kAdded = sizeof "\"Version\"=\"2.0\"\n" - 1;
    for (const std::size_t total : {kLimit - 1, kLimit, kLimit + 1}) {
        RegistryData d;
        d.setValue(kKey, "Pad", RegValue::sz(""));
        d.setValue(kKey, "Pad",
                   RegValue::sz(std::string(total - kAdded - d.serialize().size(), 'x')));
        TempDir dir;
        RegistryStore store(dir.write("registry.reg", d.serialize()), kLimit);
        std::string error;
        try {
            store.setValue(kKey, "Version", RegValue::sz("2.0"));
        } catch (const std::system_error& e) {
            error = e.what();
        }
        EXPECT_EQ(store.read(kKey, "Version").has_value(), total <= kLimit) << total;
        EXPECT_EQ(std::filesystem::file_size(store.file()), total - (total > kLimit ? kAdded : 0));
        EXPECT_EQ(error.find("would exceed 4 KiB") != std::string::npos, total > kLimit) << error;
    }
}

// A name a UTF-16 store cannot spell would be written as U+FFFD and never found again: it is
// refused in every store, and nothing is written. UTF-8 names are found again.
TEST(RegistryStore, RefusesNamesThatAreNotUtf8) {
    const std::string utf8 = "Windows Registry Editor Version 5.00\r\n\r\n";
    const auto wide = utf8ToUtf16le(utf8);
    for (const std::string& file : {"\xFF\xFE" + std::string(wide.begin(), wide.end()), utf8}) {
        TempDir dir;
        RegistryStore store(dir.write("registry.reg", file));
        for (const std::string bad : {"\xFF", "Vers\xC3", "\xC0\xAF", "\xED\xA0\x80"}) {
            EXPECT_THROW(store.setValue(kKey, bad, RegValue::sz("2")), std::invalid_argument);
            EXPECT_THROW(store.setValue(std::string(kKey) + "\\" + bad, "V", RegValue::sz("2")),
                         std::invalid_argument);
        }
        EXPECT_EQ(readAll(store.file()), file);
        store.setValue(kKey, "Versão", RegValue::sz("2.0"));
        EXPECT_EQ(store.read(kKey, "VERSÃO"), RegValue::sz("2.0"));
    }
}
