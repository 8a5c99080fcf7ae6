// The running program around frmMain: where it lives, the one-copy lock, the start of the
// installer and the wiring of the real environment.

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <QApplication>
#include <QByteArray>
#include <QCryptographicHash>
#include <QProcess>
#include <QStandardPaths>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <system_error>

#include "Library.h"
#include "TypeLib.h"
#include "frmAbout.h"
#include "frmMain.h"
#include "host/QtHost.h"
#include "mdlRegistry.h"

namespace fs = std::filesystem;

namespace veltrup {

std::string folderOf(const fs::path& executable) {
    std::string folder = executable.parent_path().string();
    if (folder.empty()) return ".";
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    return folder;
}

fs::path runningExecutable() {
    std::error_code ec;
    fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    if (ec) exe = QCoreApplication::applicationFilePath().toStdString();
    return exe;
}

// ---- one copy at a time -------------------------------------------------------------------

fs::path SingleInstanceLock::lockFileFor(const fs::path& executable) {
    std::error_code ec;
    fs::path canonical = fs::weakly_canonical(executable, ec);
    if (ec) canonical = executable;
    // One lock per program file: two installations are two programs.
    const QByteArray digest =
        QCryptographicHash::hash(QByteArray::fromStdString(canonical.string()),
                                 QCryptographicHash::Sha256)
            .toHex()
            .left(24);
    // The runtime folder is the user's own (mode 0700), so nobody else can plant the file.
    fs::path folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation).toStdString();
    if (folder.empty()) {
        // No runtime folder: a private one of our own, never the current folder.
        folder = fs::temp_directory_path() / ("veltrup-" + std::to_string(::getuid()));
        fs::create_directory(folder, ec);
        fs::permissions(folder, fs::perms::owner_all, ec);
    }
    return folder / ("Veltrup-" + digest.toStdString() + ".lock");
}

SingleInstanceLock::SingleInstanceLock(const fs::path& executable) {
    const fs::path file = lockFileFor(executable);
    // Close-on-exec, so the installer started at the end never inherits the lock.
    const int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return;  // no lock to be had: nothing shows another copy, so this one runs
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
        fd_ = fd;
        return;
    }
    const int error = errno;
    ::close(fd);
    if (error == EWOULDBLOCK) heldElsewhere_ = true;
}

SingleInstanceLock::~SingleInstanceLock() {
    if (fd_ >= 0) ::close(fd_);
}

// ---- the hand-off -------------------------------------------------------------------------

std::string startInstaller(const std::string& path, const std::string& workingFolder) {
    std::error_code ec;
    if (!fs::is_regular_file(path, ec)) return "O arquivo não foi encontrado.";
    // Downloaded files carry no execute permission.
    fs::permissions(path, fs::perms::owner_exec, fs::perm_options::add, ec);
    if (ec) return "Não foi possível torná-lo executável (" + ec.message() + ").";
    if (!QProcess::startDetached(QString::fromStdString(path), {},
                                 QString::fromStdString(workingFolder))) {
        return "O sistema não conseguiu executá-lo.";
    }
    return {};
}

// ---- the program --------------------------------------------------------------------------

MainEnvironment programEnvironment(const std::string& programFolder, carvo::HostServices& host,
                                   carvo::WindowList* windows) {
    MainEnvironment env;
    env.programFolder = programFolder;
    env.registryStore = carvo::defaultRegistryPath();
    env.host = &host;
    env.windows = windows;
    env.launchInstaller = [programFolder](const std::string& path) {
        return startInstaller(path, programFolder);
    };
    env.createControl = [] { return carvo::createObject(carvo::clsidDownLoad()); };
    env.showAbout = [programFolder](QWidget* owner) {
        frmAbout about(programFolder, owner);
        about.setWindowModality(Qt::ApplicationModal);
        about.exec();
    };
    // The program ends at once, even from inside a transfer: nothing waits for a loop to
    // notice a cancel. Output is flushed; the files the controls wrote are closed by the system.
    env.endProgram = [] {
        std::fflush(nullptr);
        std::_Exit(0);
    };
    return env;
}

std::unique_ptr<carvo::WindowList> desktopWindows() {
    try {
        return carvo::makeX11WindowList();
    } catch (const std::exception&) {
        return nullptr;  // no display to list: nothing can be found running
    }
}

int runProgram(const fs::path& executable, carvo::HostServices* host) {
    SingleInstanceLock lock(executable);
    carvo::QtHost qtHost;
    const std::unique_ptr<carvo::WindowList> windows = desktopWindows();
    MainEnvironment env = programEnvironment(folderOf(executable), host ? *host : qtHost, windows.get());
    env.anotherCopyRunning = [&lock] { return !lock.acquired(); };

    frmMain form(std::move(env));
    qtHost.setParentWindow(&form);
    if (!form.Form_Load()) return 0;
    form.show();
    return QApplication::exec();
}

}  // namespace veltrup
