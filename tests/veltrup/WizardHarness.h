#pragma once
// A frmMain in a scratch program folder with everything around it replaced: fake download
// controls that record what the wizard asks of them and raise the events a test scripts, a
// scripted host for the message boxes, a list of windows, a launcher that records, and an end
// that is counted instead of ending the test.

#include <QWidget>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "NginxServer.h"
#include "ScriptedHost.h"
#include "UpdateRules.h"
#include "UpdateVerifier.h"
#include "automation/Container.h"
#include "automation/Dispatch.h"
#include "automation/Events.h"
#include "frmMain.h"
#include "mdlRegistry.h"

namespace veltrup::test {

// Every call that reaches either fake, in order, as "dl1 GetFileInformation",
// "dl2 put Url=http://...", and so on.
using CallLog = std::vector<std::string>;

class FakeControl : public carvo::Dispatch, public carvo::OleControl {
public:
    FakeControl(std::string name, CallLog& log);

    const carvo::InterfaceInfo& typeInfo() const override;
    carvo::Variant invoke(carvo::DispId id, carvo::InvokeKind kind,
                          std::span<carvo::Variant> args) override;

    void setClientSite(carvo::ContainerSite* site) override { site_ = site; }
    void initNew() override { initialised = true; }
    void load(carvo::PropertyBag&) override {}
    void save(carvo::PropertyBag&) override {}
    void resize(const carvo::Extent&) override {}
    carvo::Extent extent() const override { return {480, 480}; }
    bool visibleAtRunTime() const override { return false; }
    std::uint32_t miscStatus() const override { return 0; }
    std::vector<carvo::Guid> propertyPages() const override { return {}; }
    carvo::ConnectionPoint& connectionPoint() override { return events_; }

    // Raises an event to the window, as the control does from inside its methods.
    void fire(carvo::DispId id);
    void fire(carvo::DispId id, carvo::Variant arg);

    // What the methods do when called (nothing by default).
    std::function<void()> onProbe, onDownLoad, onCancel;

    std::string SaveLocation = "C:\\Arquivo.tmp";
    std::string Url;
    std::int32_t FileSize = 0;
    bool initialised = false;
    carvo::ContainerSite* site() const { return site_; }

private:
    std::string name_;
    CallLog& log_;
    carvo::ContainerSite* site_ = nullptr;
    carvo::ConnectionPoint events_;
};

// A scripted host whose yield can also let Qt run, as the real host's does.
class WizardHost : public carvo::test::ScriptedHost {
public:
    void yield() override;
    bool processQtEvents = false;
};

class FakeWindows : public carvo::WindowList {
public:
    std::vector<carvo::WindowHandle> topLevelWindows() override;
    std::string title(carvo::WindowHandle window) override;
    std::vector<std::pair<carvo::WindowHandle, std::string>> windows;
};

struct Wizard {
    Wizard();
    ~Wizard();

    // Builds the window; programFolder "" means the scratch folder.
    void create(const std::string& programFolder = {});
    // Runs the load step and shows the window.
    void open(const std::string& programFolder = {});

    // Files of the program folder and the registry store.
    void writeLinks(const std::string& updateFileUrl);
    void writeVersionFile(const std::string& mainSection);  // lines after [MAIN]
    void setInstalled(const std::string& registryValueLine);  // e.g. "\"Version\"=\"2\""

    // Presses cmdAvancar as a person would (nothing happens while it is disabled).
    void press();
    // Moves the wizard with the controls' events: to the offer of an update (1), to the
    // finished download (2), to the install panel (4).
    void walkTo(int step);

    std::string folderPath() const { return folder.path().string(); }
    QWidget* child(const char* name) const;

    carvo::test::ScratchFolder folder{"veltrup-test"};
    std::filesystem::path registry;
    WizardHost host;
    FakeWindows windows;
    // Real DownLoad controls (created by class identifier) instead of the fakes.
    bool liveControls = false;
    CallLog calls;
    std::shared_ptr<FakeControl> dl1, dl2;
    std::vector<std::string> launched;
    std::string launchFailure;  // what the launcher answers
    std::function<std::string(const std::string&)> launcher;  // replaces the recording one
    bool anotherCopy = false;
    int ended = 0;
    int aboutShown = 0;
    std::unique_ptr<frmMain> form;
};

// The failures the wizard explains, with the texts of their labels (the same on both panels).
struct FailureRow {
    int code;
    const char* title;
    const char* text;
    const char* advice;
};
extern const std::vector<FailureRow> kFailureRows;

// The message boxes the host was asked to show.
std::vector<carvo::test::ScriptedHost::Call> boxes(const carvo::test::ScriptedHost& host);

// Saves a picture of the widget into the build folder (veltrup-screens/NAME.png).
void saveScreen(QWidget& widget, const std::string& name);

// Polls until the condition holds or the deadline passes, letting Qt run meanwhile.
bool waitFor(const std::function<bool()>& condition, int milliseconds = 10000);

// The tests that look at a real screen run in a copy of this program drawing on a private X
// server (Xvfb on a display it picks itself). True inside that copy.
bool onPrivateScreen();
// Runs one test (a gtest filter) in such a copy; "" when it passed, else its output.
std::string runOnPrivateScreen(const std::string& test);

}  // namespace veltrup::test
