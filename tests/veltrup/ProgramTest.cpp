// The program as processes: a second copy of the built Veltrup is refused while the first runs
// on untouched, the lock lives only in a folder of the user's own, and the installer that was
// checked is really started, detached, before the program ends.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QProcess>
#include <fstream>
#include <sstream>

#include "InstallerCopy.h"
#include "MakerKeys.h"
#include "Program.h"
#include "SingleInstanceLock.h"
#include "WizardHarness.h"
#include "win/UniqueFd.h"

using namespace veltrup;
using namespace veltrup::test;
namespace fs = std::filesystem;

namespace {

// True when the process holds a whole-file lock on the file (as the system lists them).
bool holdsFlock(qint64 pid, const fs::path& file) {
    struct stat st {};
    if (::stat(file.c_str(), &st) != 0) return false;
    std::ifstream locks("/proc/locks");
    std::string line;
    // Appended in steps: GCC 12 at -O3 warns falsely (-Wrestrict) on ":" + text.
    std::string inode(":");
    inode.append(std::to_string(st.st_ino)).append(" ");
    while (std::getline(locks, line)) {
        std::istringstream fields(line);
        std::string index, kind, mode, access, owner;
        fields >> index >> kind >> mode >> access >> owner;
        if (kind == "->") continue;  // a waiter, not a holder
        if (kind == "FLOCK" && owner == std::to_string(pid) && line.find(inode) != std::string::npos)
            return true;
    }
    return false;
}

}  // namespace

TEST(VeltrupSecondCopy, TheBuiltProgramHoldsItsLockAndASecondCopyIsRefusedAndEnds) {
    const fs::path veltrup = VELTRUP_EXE;
    const fs::path lockFile = SingleInstanceLock::lockFileFor(veltrup);

    QProcess first;
    first.setProgram(QString::fromStdString(veltrup.string()));
    first.start();
    ASSERT_TRUE(first.waitForStarted(10000));
    const qint64 pid = first.processId();
    ASSERT_TRUE(waitFor([&] { return holdsFlock(pid, lockFile); }, 30000))
        << "the first copy never took its lock";

    // The second copy runs Veltrup's own start for the same program file; its host answers the
    // box at once and prints it, since nobody is there to press OK.
    const auto second = carvo::test::runProcess({SECOND_COPY_EXE, veltrup.string()},
                                                {.timeout = std::chrono::milliseconds(30000)});
    EXPECT_EQ(second.exitStatus, 0) << second.err;
    EXPECT_EQ(second.out,
              "box 16 Parvix 2002 :: Auto Atualização\n"
              "Erro: Você já está com outra instância deste programa aberta\r\n"
              "Clique em OK para fechar\n");

    // The first copy is untouched: still running, still holding the lock.
    EXPECT_FALSE(first.waitForFinished(0));
    EXPECT_EQ(first.state(), QProcess::Running);
    EXPECT_TRUE(holdsFlock(pid, lockFile));
    first.kill();
    first.waitForFinished(10000);
}

TEST(VeltrupSecondCopy, TheLockBelongsToOneProgramFileAndGoesWithItsHolder) {
    carvo::test::ScratchFolder folder("veltrup-lock");
    const fs::path one = folder / "one" / "Veltrup";
    const fs::path two = folder / "two" / "Veltrup";
    EXPECT_NE(SingleInstanceLock::lockFileFor(one), SingleInstanceLock::lockFileFor(two));
    {
        const SingleInstanceLock a(one);
        const SingleInstanceLock otherProgram(two);
        const SingleInstanceLock sameProgram(one);
        EXPECT_TRUE(a.acquired());
        EXPECT_TRUE(otherProgram.acquired());
        EXPECT_FALSE(sameProgram.acquired());
    }
    const SingleInstanceLock again(one);
    EXPECT_TRUE(again.acquired());
}

TEST(VeltrupSecondCopy, TheLockFolderIsTheUsersOwnAndNeverOneSomebodyElseMade) {
    // The place depends on nothing the environment says.
    const fs::path lockFile = SingleInstanceLock::lockFileFor(VELTRUP_EXE);
    ::setenv("XDG_RUNTIME_DIR", "/", 1);
    EXPECT_EQ(SingleInstanceLock::lockFileFor(VELTRUP_EXE), lockFile);
    ::unsetenv("XDG_RUNTIME_DIR");

    const uid_t me = ::getuid();
    carvo::test::ScratchFolder root("veltrup-places");
    const UserFolderPlaces places{root / "run", root / "tmp", root / "home"};  // no home yet
    const fs::path runtime = places.runtimeRoot / std::to_string(me);
    const fs::path fallback = places.tempRoot / ("veltrup-" + std::to_string(me));
    fs::create_directories(places.tempRoot);
    const auto opened = [&] {
        fs::path folder;
        const carvo::UniqueFd fd(openUserFolder(me, folder, places));
        return fd.get() < 0 ? fs::path() : folder;
    };
    EXPECT_EQ(opened(), fallback);  // made, and closed to others
    EXPECT_EQ(fs::status(fallback).permissions(), fs::perms::owner_all);
    fs::create_directories(runtime);
    fs::permissions(runtime, fs::perms::owner_all);
    EXPECT_EQ(opened(), runtime);
    const fs::path mine = root / "mine";  // ours and closed, but reached below through a link
    fs::rename(runtime, mine);

    // Made first by somebody else, a link, or open to others: never trusted and never changed;
    // with no home to fall back on, the program then runs without the lock rather than never.
    const std::function<void()> plants[] = {
        [&] { EXPECT_EQ(::chown(fallback.c_str(), me + 4242, me + 4242), 0); },
        [&] { fs::remove(fallback), fs::create_directory_symlink(mine, fallback); },
        [&] { fs::permissions(fallback, fs::perms::all); },
    };
    for (const auto& plant : plants) {
        fs::remove(fallback);
        fs::create_directory(fallback);
        fs::permissions(fallback, fs::perms::owner_all);
        plant();
        struct stat before{}, after{};
        ::lstat(fallback.c_str(), &before);
        EXPECT_EQ(opened(), fs::path());
        EXPECT_TRUE(SingleInstanceLock(VELTRUP_EXE, places).acquired());
        ::lstat(fallback.c_str(), &after);
        EXPECT_EQ(after.st_uid, before.st_uid);
        EXPECT_EQ(after.st_mode, before.st_mode);
        EXPECT_TRUE(fs::is_empty(fallback));
    }
    // Taken by somebody else, with a home to fall back on: the lock is there, and it holds.
    EXPECT_EQ(::chown(fallback.c_str(), me + 4242, me + 4242), 0);
    fs::create_directory(*places.homeRoot);
    const SingleInstanceLock held(VELTRUP_EXE, places);
    EXPECT_EQ(opened(), *places.homeRoot / ".veltrup");
    EXPECT_FALSE(SingleInstanceLock(VELTRUP_EXE, places).acquired());
}

namespace {

// An installer that shows it ran: it writes a marker into its working folder.
void writeInstaller(const fs::path& path, const std::string& who = "installer") {
    carvo::test::storeBytes(path, "#!/bin/sh\necho \"" + who + " ran in $(pwd)\" > installed.txt\n");
    fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write);  // as downloaded
}

}  // namespace

TEST(VeltrupInstaller, StartsDetachedWithItsExecutePermissionSetFirst) {
    carvo::test::ScratchFolder folder("veltrup-installer");
    const fs::path installer = folder / "setup.sh";
    // A descriptor a library left without close-on-exec (as the transfers' sockets are): the
    // installer must not get it.
    const carvo::UniqueFd stray(::fcntl(STDIN_FILENO, F_DUPFD, 200));
    writeInstaller(installer, "$([ -e /proc/$$/fd/" + std::to_string(stray.get()) +
                                  " ] && echo leaked || echo installer)");
    EXPECT_EQ(startInstaller(installer.string(), folder.path().string()), "");
    EXPECT_NE(fs::status(installer).permissions() & fs::perms::owner_exec, fs::perms::none);
    ASSERT_TRUE(waitFor([&] { return fs::exists(folder / "installed.txt") &&
                                     fs::file_size(folder / "installed.txt") > 0; }));
    EXPECT_EQ(carvo::test::loadBytes(folder / "installed.txt"),
              "installer ran in " + folder.path().string() + "\n");
}

// A process that can write the program folder changes the installer right after it was
// checked: in place, and by putting another file under its name. The swapped-in program never
// runs; what runs is what was checked, or nothing.
TEST(VeltrupInstaller, AnInstallerSwappedAfterItsCheckNeverRuns) {
    carvo::test::ScratchFolder folder("veltrup-installer");
    const fs::path installer = folder / "setup.sh";
    writeInstaller(installer);
    std::string why;
    const auto keys = maker::generateKeys(folder / "keys", why);
    const auto lines = maker::signInstaller(*maker::loadSecretKey(keys->secretFile, why), installer,
                                            "3", "setup.sh", why);
    ASSERT_TRUE(lines) << why;
    carvo::test::storeBytes(folder / "links.ini", "[MAIN]\nPublicKey=" + keys->publicKey + "\n");
    carvo::test::storeBytes(folder / "Update.ini", "[MAIN]\n" + lines->text());

    // Swapped right after the check that the start makes: the copy that was checked runs.
    const InstallerCopy copy(installer.string());
    ASSERT_TRUE(
        verifyUpdate(folder / "Update.ini", folder / "links.ini", copy.fd(), "setup.sh").ok);
    writeInstaller(installer, "swapped");  // in place, then another file under its name
    writeInstaller(folder / "other", "swapped");
    fs::rename(folder / "other", installer);
    EXPECT_EQ(copy.start(folder.path().string()), "");
    ASSERT_TRUE(waitFor([&] { return fs::exists(folder / "installed.txt") && fs::file_size(folder / "installed.txt") > 0; }));
    EXPECT_EQ(carvo::test::loadBytes(folder / "installed.txt"),
              "installer ran in " + folder.path().string() + "\n");

    // Swapped after an earlier check (the wizard's at "&Instalar") and before the start: the
    // program's start checks what it took, refuses it and deletes it.
    WizardHost host;
    EXPECT_EQ(programEnvironment(folder.path().string(), host, nullptr)
                  .launchInstaller(installer.string()),
              kVerifyFailureText);
    EXPECT_FALSE(fs::exists(installer));
}

TEST(VeltrupInstaller, AMissingOrUnrunnableFileIsAFailureNotACrash) {
    carvo::test::ScratchFolder folder("veltrup-installer");
    EXPECT_NE(startInstaller((folder / "absent.sh").string(), folder.path().string()), "");
    carvo::test::storeBytes(folder / "garbage.bin", std::string("\x7f" "ELF\x01\x02", 6));
    EXPECT_NE(startInstaller((folder / "garbage.bin").string(), folder.path().string()), "");
    fs::create_directory(folder / "adir");
    EXPECT_NE(startInstaller((folder / "adir").string(), folder.path().string()), "");
    // A link is not followed, even to a good installer.
    writeInstaller(folder / "setup.sh");
    fs::create_symlink(folder / "setup.sh", folder / "link.sh");
    EXPECT_EQ(startInstaller((folder / "link.sh").string(), folder.path().string()), "O arquivo não foi encontrado.");
}

TEST(VeltrupInstaller, TheWizardsLastPressStartsTheRealInstallerAndEnds) {
    Wizard w;
    writeInstaller(w.folder / "setup.sh");
    const std::string folder = w.folderPath();
    w.launcher = [folder](const std::string& path) { return startInstaller(path, folder); };
    w.open();
    w.walkTo(4);
    ASSERT_EQ(w.ended, 0);
    w.press();
    EXPECT_EQ(w.ended, 1);
    EXPECT_TRUE(waitFor([&] { return fs::exists(w.folder / "installed.txt"); }));
}

TEST(VeltrupProgramFile, CarriesItsVersionInformation) {
    const auto result = carvo::test::runProcess({CARVO_VERSION_EXE, VELTRUP_EXE});
    ASSERT_EQ(result.exitStatus, 0) << result.err;
    for (const char* entry : {"FILEVERSION=2.0.0.0\n", "PRODUCTVERSION=2.0.0.0\n", "FileVersion=2.00\n",
                              "ProductVersion=2.00\n", "Translation=0x0409 1200\n",
                              "InternalName=Veltrup\n", "OriginalFilename=Veltrup.exe\n",
                              "FileDescription=Veltrup.exe\n"})
        EXPECT_NE(result.out.find(entry), std::string::npos) << entry;
}
