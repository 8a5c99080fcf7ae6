#pragma once
// frmMain: Veltrup's one window, holding the whole three-step wizard (welcome screen, three
// panels that replace one another, the row of buttons) and the two DownLoad controls it drives
// late-bound: dl1 fetches the version file, dl2 the update.
//
// Everything the window needs from outside comes in through MainEnvironment, so a test can
// run the wizard with fake controls, a scripted host, its own folders and window list.
//
// Where each part lives: construction, the controls' events and the navigation in frmMain.cpp;
// the look in frmMain.Layout.cpp; step 1 (version check, dl1) in frmMain.VersionCheck.cpp;
// step 2 (download, dl2, the resume point) in frmMain.Download.cpp; step 3 (the hand-off) in
// frmMain.HandOff.cpp. The program around the window: Program.h.

#include <QWidget>
#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "FormControls.h"
#include "automation/Dispatch.h"
#include "automation/Variant.h"

class QFrame;
class QPlainTextEdit;
class QPushButton;

namespace carvo {
class HostServices;
class WindowList;
}  // namespace carvo

namespace veltrup {

inline constexpr const char* kTitle = "Parvix 2002 :: Auto Atualização";
// Where the installed version is recorded; the key path keeps the registry's own separators.
inline constexpr const char* kVersionKey = "Software\\Parvix 2002\\Version";
inline constexpr const char* kVersionValue = "Version";

struct MainEnvironment {
    // Folder of the running program, without a trailing separator except at the root "/".
    std::string programFolder;
    // Where the version file and the installer are saved; empty means beside the program.
    std::string downloadFolder;
    // The registry store that ReadRegValue reads.
    std::filesystem::path registryStore;
    // Yield, message boxes; must outlive the window.
    carvo::HostServices* host = nullptr;
    // The top-level windows, for the check that the product is not running.
    carvo::WindowList* windows = nullptr;
    // Starts the installer at this full path, detached; returns "" when it started, otherwise
    // why it did not. The real one starts the very bytes it checked (startInstaller).
    std::function<std::string(const std::string& path)> launchInstaller;
    // True when another copy of the program already runs.
    std::function<bool()> anotherCopyRunning;
    // Creates one DownLoad control (both Dispatch and OleControl).
    std::function<std::shared_ptr<carvo::Dispatch>()> createControl;
    // Shows the About window modally.
    std::function<void(QWidget* owner)> showAbout;
    // Ends the whole program at once. The real one does not return; a test's may.
    std::function<void()> endProgram;
};

class frmMain : public QWidget {
  public:
    explicit frmMain(MainEnvironment env, QWidget* parent = nullptr);
    ~frmMain() override;
    frmMain(const frmMain&) = delete;
    frmMain& operator=(const frmMain&) = delete;

    // The load step, run before the window is first shown. False when this copy must end
    // (another copy runs); the window must then not be shown.
    bool Form_Load();

    std::int16_t intStep() const { return intStep_; }
    const std::string& programFolder() const { return env_.programFolder; }
    carvo::Dispatch& dl1() { return *dl1_; }
    carvo::Dispatch& dl2() { return *dl2_; }

    // Button handlers (frmMain.cpp; cmdDLCancel_Click and discardHiddenPartial, step 2's, in
    // frmMain.Download.cpp).
    void cmdAvancar_Click();
    void cmdSair_Click();
    void Command1_Click();
    void cmdDLCancel_Click();
    // Deletes the update's hidden partial file (a checked update arrives under one), if any.
    void discardHiddenPartial();

    // Handlers of dl1's events (frmMain.VersionCheck.cpp).
    void dl1_DLComplete();
    void dl1_DLECode(std::int32_t lErrorCode);
    void dl1_StatusChange(const std::string& lpStatus);
    // Handlers of dl2's events (frmMain.Download.cpp).
    void dl2_DLComplete();
    void dl2_DLECode(std::int32_t lErrorCode);
    void dl2_RecievedBytes(std::int32_t lnumBYTES);
    void dl2_Percent(std::int32_t lPercent);
    void dl2_StatusChange(const std::string& lpStatus);
    void dl2_Rate(const std::string& lpRate);
    void dl2_TimeLeft(const std::string& lpTime);

    // The window's controls, named as designed; each also carries its name as objectName.
    QLabel* imgBack = nullptr;
    FormLabel* lblProductName = nullptr;
    FormLabel* lblAA = nullptr;
    FormLabel* lblCopyRight = nullptr;
    std::array<FormLabel*, 5> lblWelcome{};  // objectNames lblWelcome_0 .. lblWelcome_4
    FormLine* lneWelcome = nullptr;
    FormLabel* lblVerAtual = nullptr;
    QPushButton* cmdBarra = nullptr;
    QPushButton* Command1 = nullptr;
    QPushButton* cmdAvancar = nullptr;
    QPushButton* cmdSair = nullptr;

    QFrame* fraPos1 = nullptr;
    FormLabel* lblStep1 = nullptr;
    FormLabel* lblStatusTit = nullptr;
    FormLabel* lblStatus = nullptr;
    FormLabel* lblErrorTit = nullptr;
    FormLabel* lblError = nullptr;
    FormLabel* lblWhatToDoTit = nullptr;
    FormLabel* lblWhatToDo = nullptr;
    FormLabel* lblNewVerTit = nullptr;
    FormLabel* lblNewVer = nullptr;
    FormShape* Shape1 = nullptr;
    FormLabel* lblVersion2 = nullptr;
    FormLabel* lblLastVer = nullptr;

    QFrame* fraPos2 = nullptr;
    FormLabel* lblStep2 = nullptr;
    FormLabel* lblStatus2 = nullptr;
    FormProgressBar* pb1 = nullptr;
    FormLabel* lblDLReceived = nullptr;
    FormLabel* lblDLTimeLeft = nullptr;
    FormLabel* lblDLRate = nullptr;
    FormLabel* lblDLPercent = nullptr;
    QPushButton* cmdDLCancel = nullptr;
    FormLabel* lblErrorTit2 = nullptr;
    FormLabel* lblError2 = nullptr;
    FormLabel* lblWhatToDoTit2 = nullptr;
    FormLabel* lblWhatToDo2 = nullptr;
    FormLabel* lblDLFinishTit = nullptr;
    FormLabel* lblDLFinish = nullptr;

    QFrame* fraPos3 = nullptr;
    FormLabel* lblStep3 = nullptr;
    FormLabel* lblInstall1 = nullptr;
    FormLabel* lblInstall2 = nullptr;
    FormLabel* lblInstall3 = nullptr;
    FormLabel* lblInstall4 = nullptr;
    FormLine* Line1 = nullptr;
    FormLabel* lblInstall5 = nullptr;
    QPlainTextEdit* txtInstallPath = nullptr;
    FormLabel* lblThanks = nullptr;

  protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    class Site;
    class Events;

    // The look (frmMain.Layout.cpp).
    void buildWindow();
    void buildPanel1();
    void buildPanel2();
    void buildPanel3();

    // The link to the controls and the plumbing (frmMain.cpp).
    std::shared_ptr<carvo::Dispatch> makeControl(int which);
    void onControlEvent(int which, carvo::DispId id, std::span<carvo::Variant> args);
    // Runs a handler from the message loop; a failure inside it is told, never thrown into Qt.
    void guarded(const std::function<void()>& handler);
    // A file beside the program (links.ini).
    std::string localPath(std::string_view name) const;
    // A file Veltrup downloads (Update.ini, the installer, its hidden partial file).
    std::string downloadPath(std::string_view name) const;
    carvo::Variant installedVersion() const;
    carvo::HostServices& host() const;

    // Step 1 (frmMain.VersionCheck.cpp).
    void StartVersionCheck();

    // Step 2 (frmMain.Download.cpp).
    void StartUpdateDownload();
    // Shows a failure on panel 2's four labels and offers the download again.
    void showDownloadFailure(const char* title, const char* text, const char* advice);
    // Shows the start of an attempt (0, or where a resume goes on) in the bar and the figures.
    void showStartOfAttempt(std::int32_t position);
    // Shows at once the download figures that still wait for a repaint.
    void showLatestFigures();

    // Step 3 (frmMain.HandOff.cpp).
    void handOff();
    // After the installer was refused at the hand-off: back to panel 2 with the refusal shown
    // and the download offered again, as after a failed download.
    void backToDownloadStep();

    MainEnvironment env_;
    std::int16_t intStep_ = 0;
    // The state of the steps. Step 2's resume record is ResumePoint below.
    // Set by a control's DLECode while its probe runs: the transfer after a refused or failed
    // probe would only replace the probe's explanation with a vaguer one.
    bool probeFailed_ = false;
    // True while the hand-off looks for the product's window: its yields must not let a second
    // press start the installer twice.
    bool handingOff_ = false;
    // Where the update goes once it has arrived and passed its check.
    std::string updateTarget_;
    // The hidden name a checked update arrives under, while such a file may exist.
    std::string hiddenPartial_;

    // What a retry needs to go on with a download that broke, instead of starting it again.
    struct ResumePoint {
        std::string path, url;
        std::int32_t size = 0;  // the whole file's size, as the probe gave it
        std::uint64_t device = 0, inode = 0;
        std::int64_t length = 0, modified = 0;  // the partial file as the attempt left it
    };
    std::optional<ResumePoint> resumePoint_;
    // The attempt on dl2 under way: the last position it reported, its first failure code.
    std::int32_t attemptPosition_ = 0;
    std::int32_t attemptCode_ = 0;
    // While DLResume runs: set when the control refuses to resume (codes 6 and 7, or the
    // server's refusal of the range), and the download then starts over.
    bool resuming_ = false;
    bool resumeRefused_ = false;
    // The downloaded file was refused by its check; the status line keeps saying so.
    bool refused_ = false;
    std::unique_ptr<Site> site_;  // outlives the controls, which keep a pointer to it
    std::shared_ptr<carvo::Dispatch> dl1_;
    std::shared_ptr<carvo::Dispatch> dl2_;
    std::array<std::uint32_t, 2> cookies_{};
};

}  // namespace veltrup
