#include "Program.h"

#include <QApplication>
#include <QCoreApplication>
#include <QLibraryInfo>
#include <cstdio>
#include <cstdlib>
#include <system_error>

#include "InstallerCopy.h"
#include "Library.h"
#include "SingleInstanceLock.h"
#include "TypeLib.h"
#include "UpdateVerifier.h"
#include "frmAbout.h"
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

std::unique_ptr<QTranslator> portugueseQtTexts() {
    auto texts = std::make_unique<QTranslator>();
    if (!texts->load(QStringLiteral("qtbase_pt_BR"),
                     QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        return nullptr;
    QCoreApplication::installTranslator(texts.get());
    return texts;
}

// ---- the program --------------------------------------------------------------------------

MainEnvironment programEnvironment(const std::string& programFolder, carvo::HostServices& host,
                                   carvo::WindowList* windows) {
    MainEnvironment env;
    env.programFolder = programFolder;
    env.registryStore = carvo::defaultRegistryPath();
    env.host = &host;
    env.windows = windows;
    // The bytes that run are the bytes checked: the installer is taken once into a private
    // copy, the copy is checked against the version file, and the copy is started.
    env.launchInstaller = [programFolder](const std::string& path) {
        const std::string shell = fs::path(path).filename().string();
        return startInstaller(path, programFolder, [programFolder, shell](int fd) {
            return verifyUpdate(programFolder + "/Update.ini", programFolder + "/links.ini", fd,
                                shell);
        });
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
    MainEnvironment env =
        programEnvironment(folderOf(executable), host ? *host : qtHost, windows.get());
    env.anotherCopyRunning = [&lock] { return !lock.acquired(); };

    frmMain form(std::move(env));
    qtHost.setParentWindow(&form);
    if (!form.Form_Load()) return 0;
    form.show();
    return QApplication::exec();
}

}  // namespace veltrup
