#pragma once
// frmMain: Veltrup's one window, holding the whole three-step wizard (welcome screen, three
// panels that replace one another, the row of buttons) and the two DownLoad controls it drives
// late-bound: dl1 fetches the version file, dl2 the update.
//
// Everything the window needs from outside comes in through MainEnvironment, so a test can
// run the wizard with fake controls, a scripted host, its own folders and window list.

#include <sys/types.h>

#include <QLabel>
#include <QProgressBar>
#include <QTranslator>
#include <QWidget>
#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "UpdateRules.h"
#include "UpdateVerifier.h"
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

// The form is designed at 15 twips a pixel (96 dots per inch).
inline constexpr int kTwipsPerPixel = 15;
int twips(int t);

struct MainEnvironment {
    // Folder of the running program, without a trailing separator except at the root "/".
    std::string programFolder;
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

// A label as the form designer has it: plain text, transparent, top-aligned, word-wrapped
// unless it sizes itself to its text; a self-sizing label keeps its left edge, or its right
// edge when it is right-aligned. A fixed label keeps its designed place and size unless its
// caption would be cut there (the fallback face is a little wider than the designed one): it
// then grows right (a one-line label) or down until the caption shows whole.
class FormLabel : public QLabel {
public:
    FormLabel(QWidget* parent, const char* name);
    void setDesignGeometry(const QRect& geometry);
    QRect designGeometry() const { return design_; }
    void setAutoSize(bool on);
    bool autoSize() const { return autoSize_; }
    // Sets the caption and, for a self-sizing label, refits it.
    void setCaption(const QString& text);
    void setCaption(std::string_view text);
    void setCaption(const char* text) { setCaption(std::string_view(text)); }
    void fit();

    // A live label takes a new caption many times between two repaints (a download reports
    // every piece): it only keeps the text, and shows and measures it once, when the event
    // loop next runs. Read it through text() below, which always has the latest caption.
    void setLive(bool on) { live_ = on; }
    // Shows (and fits) a caption still waiting for the event loop, at once.
    void showNow();
    // The latest caption (QLabel::text() of a live label may still show the one before).
    const QString& text() const { return caption_; }
    // Two self-sizing labels of one row, one growing right from its left edge and the other
    // left from its right edge: when their captions would meet (large files, long times), both
    // take the same smaller size of their face, so that neither covers the other.
    static void shareRow(FormLabel& left, FormLabel& right);

protected:
    bool event(QEvent* e) override;

private:
    void keepApartFromPartner();

    bool autoSize_ = false;
    bool live_ = false;
    bool pending_ = false;
    QString caption_;
    QRect design_;
    FormLabel* partner_ = nullptr;  // the other label of a shared row
    QFont rowFont_;                 // the designed face of a shared row
};

// The progress bar pb1. Its value arrives with every piece of a download; it is kept and
// shown once per repaint, and each showing repaints the whole bar. (The stock bar skips the
// repaint of a small step and takes any paint, even one of a single row under a neighbour's
// repaint, as showing its value, so the bar could stay empty on the screen to the end.)
class FormProgressBar : public QProgressBar {
public:
    FormProgressBar(QWidget* parent, const char* name);
    // The value to show; one within the range (the caller keeps it there).
    void setValue(int value);
    // The value last set, shown or about to be.
    int value() const { return value_; }
    // A new range keeps the value within it.
    void setMaximum(int maximum);
    // Shows a value still waiting for the event loop, at once.
    void showNow();

protected:
    bool event(QEvent* e) override;

private:

    int value_ = -1;  // as the stock bar starts: nothing shown
    bool pending_ = false;
};

// A straight line control (horizontal rules here).
class FormLine : public QWidget {
public:
    FormLine(QWidget* parent, const char* name);

protected:
    void paintEvent(QPaintEvent*) override;
};

// An outline rectangle control.
class FormShape : public QWidget {
public:
    FormShape(QWidget* parent, const char* name);

protected:
    void paintEvent(QPaintEvent*) override;
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

    // Button handlers.
    void cmdAvancar_Click();
    void cmdSair_Click();
    void Command1_Click();
    void cmdDLCancel_Click();
    // Deletes the update's hidden partial file (a checked update arrives under one), if any.
    void discardHiddenPartial();

    // Handlers of dl1's events.
    void dl1_DLComplete();
    void dl1_DLECode(std::int32_t lErrorCode);
    void dl1_StatusChange(const std::string& lpStatus);
    // Handlers of dl2's events.
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

    void buildWindow();
    void buildPanel1();
    void buildPanel2();
    void buildPanel3();
    std::shared_ptr<carvo::Dispatch> makeControl(int which);
    void onControlEvent(int which, carvo::DispId id, std::span<carvo::Variant> args);
    // Runs a handler from the message loop; a failure inside it is told, never thrown into Qt.
    void guarded(const std::function<void()>& handler);

    void StartVersionCheck();
    void StartUpdateDownload();
    // Shows a failure on panel 2's four labels and offers the download again.
    void showDownloadFailure(const char* title, const char* text, const char* advice);
    void handOff();
    // After the installer was refused at the hand-off: back to panel 2 with the refusal shown
    // and the download offered again, as after a failed download.
    void backToDownloadStep();
    // Shows the start of an attempt (0, or where a resume goes on) in the bar and the figures.
    void showStartOfAttempt(std::int32_t position);
    // Shows at once the download figures that still wait for a repaint.
    void showLatestFigures();
    // A plain file name that is not one of the program's own files (the links file, the version
    // file, the program itself): the update is written, and started, under this name.

    std::string localPath(std::string_view name) const;
    carvo::Variant installedVersion() const;
    carvo::HostServices& host() const;

    MainEnvironment env_;
    std::int16_t intStep_ = 0;
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

// ---- the running program ------------------------------------------------------------------

// The folder of a program file: its parent, without a trailing separator except at the root.
std::string folderOf(const std::filesystem::path& executable);
// The running executable, as the system reports it.
std::filesystem::path runningExecutable();

// Where a user's private files (the one-copy lock) live. Only the user's identity decides:
// the system's runtime folder of that user, or else a folder of the user's own in the shared
// temporary folder, or else one in the user's home as the password database names it. The
// roots are fixed; a test gives its own, and homeRoot stands for the home when set.
struct UserFolderPlaces {
    std::filesystem::path runtimeRoot{"/run/user"};
    std::filesystem::path tempRoot{"/tmp"};
    std::optional<std::filesystem::path> homeRoot{};
};

// Opens the user's private folder (read-only, close-on-exec) and returns its descriptor, or -1
// when none can be trusted; folder receives its path. The places, always in this order so that
// two copies started together agree: runtimeRoot/<uid> when it is a real folder (not a link)
// owned by uid that nobody else may enter; otherwise tempRoot/veltrup-<uid>; otherwise, when
// somebody else took that name, <home>/.veltrup, in a home only the user or the system may
// write. The last two are made with mode 0700 when missing, without following a link, and
// trusted on the same terms as the first. A folder someone else made or may write is never
// used, and never changed.
int openUserFolder(uid_t uid, std::filesystem::path& folder, const UserFolderPlaces& places = {});

// Holds the one-copy lock of an executable for the life of this object. Two processes of the
// same program file and user share one lock file in the user's private folder, whatever their
// environment; the lock goes with the process, however it ends.
class SingleInstanceLock {
public:
  explicit SingleInstanceLock(const std::filesystem::path& executable,
                              const UserFolderPlaces& places = {});
  ~SingleInstanceLock();
  SingleInstanceLock(const SingleInstanceLock&) = delete;
  SingleInstanceLock& operator=(const SingleInstanceLock&) = delete;
  // False only when another process holds it (a lock that cannot be had at all, as when not
  // even the home offers a private folder to trust, lets the program run: nothing then shows
  // another copy).
  bool acquired() const { return !heldElsewhere_; }
  // The lock file used for this executable; empty when no private folder can be trusted.
  static std::filesystem::path lockFileFor(const std::filesystem::path& executable,
                                           const UserFolderPlaces& places = {});

private:
    int fd_ = -1;
    bool heldElsewhere_ = false;
};

// An installer taken from its path once: opened without following a link, and its bytes copied
// as they were read into an anonymous, sealed file of this process that nobody else can reach
// or change. What is checked and what is started is this copy, so a file changed or replaced
// in the program folder after it was taken never runs.
class InstallerCopy {
  public:
    explicit InstallerCopy(const std::string& path);
    ~InstallerCopy();
    InstallerCopy(const InstallerCopy&) = delete;
    InstallerCopy& operator=(const InstallerCopy&) = delete;
    // "" when the copy was made, otherwise why not (for the failure box).
    const std::string& failure() const { return failure_; }
    // The copy, read-only; -1 when it was not made.
    int fd() const { return copy_; }
    // Starts the copy detached, without arguments, in workingFolder; the installer in the
    // program folder gets its owner's execute permission for a later start by hand. "" when it
    // started, otherwise the reason.
    std::string start(const std::string& workingFolder) const;

  private:
    std::string name_;
    std::string failure_;
    int source_ = -1;
    int copy_ = -1;
};

// Checks the bytes of an installer copy (read through the descriptor).
using InstallerCheck = std::function<VerifyResult(int fd)>;

// Takes the installer at path (InstallerCopy), runs check on the copy when one is given, and
// starts the copy detached in workingFolder. A refused installer is deleted and the refusal
// told as kVerifyFailureText. Returns "" when it started, otherwise the reason.
std::string startInstaller(const std::string& path, const std::string& workingFolder,
                           const InstallerCheck& check = {});

// The environment of the real program in the given folder: the machine's registry store,
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

// While the result lives, a signal that ends a session or a program from outside (SIGTERM,
// SIGHUP, SIGINT; one that was ignored at the start stays ignored) is taken by the message
// loop, which deletes the hidden partial file of every frmMain (as the exit button does) and
// then calls end with the signal. nullptr when the signals cannot be watched.
std::unique_ptr<QObject> endOnSignals(std::function<void(int signal)> end);
// Ends the process by the signal's default action.
[[noreturn]] void endBySignal(int signal);

// Runs Veltrup: the one-copy check, the load step, the window, the message loop. host may
// replace the Qt host's dialogs (a test helper answers them); returns the exit code.
int runProgram(const std::filesystem::path& executable, carvo::HostServices* host = nullptr);

}  // namespace veltrup
