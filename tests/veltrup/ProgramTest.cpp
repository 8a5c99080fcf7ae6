// The program as processes: a second copy of the built Veltrup is refused while the first runs
// on untouched, and the installer is really started, detached, before the program ends.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QProcess>
#include <fstream>
#include <sstream>

#include "WizardHarness.h"

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

namespace {

// An installer that shows it ran: it writes a marker beside itself.
void writeInstaller(const fs::path& path) {
    carvo::test::storeBytes(path,
                            "#!/bin/sh\n"
                            "echo \"installer ran in $(pwd)\" > \"$(dirname \"$0\")/installed.txt\"\n");
    fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write);  // as downloaded
}

}  // namespace

TEST(VeltrupInstaller, StartsDetachedWithItsExecutePermissionSetFirst) {
    carvo::test::ScratchFolder folder("veltrup-installer");
    const fs::path installer = folder / "setup.sh";
    writeInstaller(installer);
    EXPECT_EQ(startInstaller(installer.string(), folder.path().string()), "");
    EXPECT_NE(fs::status(installer).permissions() & fs::perms::owner_exec, fs::perms::none);
    ASSERT_TRUE(waitFor([&] { return fs::exists(folder / "installed.txt") &&
                                     fs::file_size(folder / "installed.txt") > 0; }));
    EXPECT_EQ(carvo::test::loadBytes(folder / "installed.txt"),
              "installer ran in " + folder.path().string() + "\n");
}

TEST(VeltrupInstaller, AMissingOrUnrunnableFileIsAFailureNotACrash) {
    carvo::test::ScratchFolder folder("veltrup-installer");
    EXPECT_NE(startInstaller((folder / "absent.sh").string(), folder.path().string()), "");
    carvo::test::storeBytes(folder / "garbage.bin", std::string("\x7f" "ELF\x01\x02", 6));
    EXPECT_NE(startInstaller((folder / "garbage.bin").string(), folder.path().string()), "");
    fs::create_directory(folder / "adir");
    EXPECT_NE(startInstaller((folder / "adir").string(), folder.path().string()), "");
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
