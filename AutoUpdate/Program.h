#pragma once
// The running Veltrup program around frmMain: where it lives, the real environment the window
// gets, Qt's Portuguese texts, and the run itself (one-copy check, load step, message loop).

#include <QTranslator>
#include <filesystem>
#include <memory>
#include <string>

#include "frmMain.h"

namespace carvo {
class HostServices;
class WindowList;
}  // namespace carvo

namespace veltrup {

// The folder of a program file: its parent, without a trailing separator except at the root.
std::string folderOf(const std::filesystem::path& executable);
// The running executable, as the system reports it.
std::filesystem::path runningExecutable();

// real controls, the real start of the installer, the About window and an immediate end. The
// one-copy check is the caller's.
MainEnvironment programEnvironment(const std::string& programFolder, carvo::HostServices& host,
                                   carvo::WindowList* windows);
// The desktop's top-level windows; nullptr when there is no way to list them.
std::unique_ptr<carvo::WindowList> desktopWindows();

// Installs Qt's own Portuguese texts (the standard buttons of message boxes, the text field's
// context menu) whatever the machine's locale: the program speaks Portuguese by design. They
// stay installed while the result lives; nullptr when they are not on the machine.
std::unique_ptr<QTranslator> portugueseQtTexts();

// Runs Veltrup: the one-copy check, the load step, the window, the message loop. host may
// replace the Qt host's dialogs (a test helper answers them); returns the exit code.
int runProgram(const std::filesystem::path& executable, carvo::HostServices* host = nullptr);

}  // namespace veltrup
