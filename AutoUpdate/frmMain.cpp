// frmMain: the window's construction, its link to the two controls (site, events, the dispatch
// of their events to the dl1_/dl2_ handlers), and the navigation between the wizard's steps.
// The steps themselves: frmMain.VersionCheck.cpp (1), frmMain.Download.cpp (2) and
// frmMain.HandOff.cpp (3); the look of the window: frmMain.Layout.cpp.

#include "frmMain.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <stdexcept>
#include <utility>

#include "Library.h"
#include "TypeLib.h"
#include "automation/Container.h"
#include "host/HostServices.h"
#include "mdlRegistry.h"

namespace veltrup {

using carvo::Variant;

// ---- the window's link to its controls ----------------------------------------------------

class frmMain::Site : public carvo::ContainerSite {
  public:
    explicit Site(carvo::HostServices* host) : host_(host) {}
    void onPropertyChanged(std::string_view) override {}
    void requestExtent(const carvo::Extent&) override {}
    carvo::HostServices* hostServices() override { return host_; }

  private:
    carvo::HostServices* host_;
};

class frmMain::Events : public carvo::EventSink {
  public:
    Events(frmMain* form, int which) : form_(form), which_(which) {}
    void onEvent(carvo::DispId id, std::span<Variant> args) override {
        if (form_) form_->onControlEvent(which_, id, args);
    }

  private:
    QPointer<frmMain> form_;
    int which_;
};

// ---- construction -------------------------------------------------------------------------

frmMain::frmMain(MainEnvironment env, QWidget* parent)
    : QWidget(parent), env_(std::move(env)), site_(std::make_unique<Site>(env_.host)) {
    buildWindow();
    connect(cmdAvancar, &QPushButton::clicked, this,
            [this] { guarded([this] { cmdAvancar_Click(); }); });
    connect(cmdSair, &QPushButton::clicked, this, [this] { guarded([this] { cmdSair_Click(); }); });
    connect(Command1, &QPushButton::clicked, this,
            [this] { guarded([this] { Command1_Click(); }); });
    connect(cmdDLCancel, &QPushButton::clicked, this,
            [this] { guarded([this] { cmdDLCancel_Click(); }); });

    dl1_ = makeControl(1);
    dl2_ = makeControl(2);
}

frmMain::~frmMain() {
    for (int which = 1; which <= 2; ++which) {
        auto& dl = which == 1 ? dl1_ : dl2_;
        if (auto ctl = std::dynamic_pointer_cast<carvo::OleControl>(dl)) {
            ctl->connectionPoint().unadvise(cookies_[static_cast<std::size_t>(which - 1)]);
            ctl->setClientSite(nullptr);
        }
    }
}

std::shared_ptr<carvo::Dispatch> frmMain::makeControl(int which) {
    auto object =
        env_.createControl ? env_.createControl() : carvo::createObject(carvo::clsidDownLoad());
    auto control = std::dynamic_pointer_cast<carvo::OleControl>(object);
    if (!control) throw std::runtime_error("the download control is not a control");
    control->setClientSite(site_.get());
    // The window keeps only the controls' size, so both start from the control's defaults.
    control->initNew();
    cookies_[static_cast<std::size_t>(which - 1)] =
        control->connectionPoint().advise(std::make_shared<Events>(this, which));
    return object;
}

// ---- plumbing -----------------------------------------------------------------------------

carvo::HostServices& frmMain::host() const { return *env_.host; }

// On Linux the separator between the program folder and a file name is "/". The folder keeps
// a separator only at the root, so there the joined path holds two in a row ("//links.ini"),
// which the system reads as the same file.
std::string frmMain::localPath(std::string_view name) const {
    return env_.programFolder + "/" + std::string(name);
}

std::string frmMain::downloadPath(std::string_view name) const {
    if (env_.downloadFolder.empty()) return localPath(name);
    return env_.downloadFolder + "/" + std::string(name);
}

Variant frmMain::installedVersion() const {
    return ReadRegValue(HKEY_LOCAL_MACHINE, kVersionKey, kVersionValue, env_.registryStore);
}

void frmMain::guarded(const std::function<void()>& handler) {
    try {
        handler();
    } catch (const std::exception& e) {
        // An exception must not unwind through Qt's event loop; tell it and stay open.
        host().messageBox(std::string("Erro: ") + e.what(), carvo::mb::Critical | carvo::mb::OkOnly,
                          kTitle);
    }
}

void frmMain::onControlEvent(int which, carvo::DispId id, std::span<Variant> args) {
    namespace ev = carvo::eventid;
    const bool hasArg = !args.empty();
    if (which == 1) {
        switch (id) {
            case ev::DLComplete:
                dl1_DLComplete();
                break;
            case ev::DLECode:
                if (hasArg) dl1_DLECode(args[0].toLong());
                break;
            case ev::StatusChange:
                if (hasArg) dl1_StatusChange(args[0].toString());
                break;
            default:
                break;  // the version check shows no progress figures
        }
        return;
    }
    switch (id) {
        case ev::DLComplete:
            dl2_DLComplete();
            break;
        case ev::DLECode:
            if (hasArg) dl2_DLECode(args[0].toLong());
            break;
        case ev::RecievedBytes:
            if (hasArg) dl2_RecievedBytes(args[0].toLong());
            break;
        case ev::Percent:
            if (hasArg) dl2_Percent(args[0].toLong());
            break;
        case ev::StatusChange:
            if (hasArg) dl2_StatusChange(args[0].toString());
            break;
        case ev::Rate:
            if (hasArg) dl2_Rate(args[0].toString());
            break;
        case ev::TimeLeft:
            if (hasArg) dl2_TimeLeft(args[0].toString());
            break;
        default:
            break;
    }
}

// ---- load, exit, about --------------------------------------------------------------------

bool frmMain::Form_Load() {
    if (env_.anotherCopyRunning && env_.anotherCopyRunning()) {
        host().messageBox(
            "Erro: Você já está com outra instância deste programa aberta\r\nClique em OK para "
            "fechar",
            carvo::mb::Critical | carvo::mb::OkOnly, kTitle);
        if (env_.endProgram) env_.endProgram();
        return false;
    }
    lblVerAtual->setCaption("Versão Atual: " + RegValueText(installedVersion()));
    intStep_ = 0;
    return true;
}

void frmMain::closeEvent(QCloseEvent* event) {
    // A close request from the window manager asks the exit question instead of closing.
    event->ignore();
    guarded([this] { cmdSair_Click(); });
}

void frmMain::keyPressEvent(QKeyEvent* event) {
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
        cmdAvancar->isEnabled() && cmdAvancar->isVisible()) {
        cmdAvancar->click();
        return;
    }
    QWidget::keyPressEvent(event);
}

void frmMain::cmdSair_Click() {
    const auto answer = host().messageBox(
        "Tem certeza que deseja sair do Programa de Auto Atualização?",
        carvo::mb::Question | carvo::mb::YesNo | carvo::mb::DefaultButton1, kTitle);
    if (answer != carvo::MsgBoxResult::Yes) return;
    carvo::callMethod(*dl1_, carvo::dispid::Cancel);
    carvo::callMethod(*dl2_, carvo::dispid::Cancel);
    // A partial file kept for a resume under a hidden name is of no use once we leave.
    discardHiddenPartial();
    env_.endProgram();
}

void frmMain::Command1_Click() {
    if (env_.showAbout) env_.showAbout(nullptr);
}

// ---- the wizard ---------------------------------------------------------------------------

void frmMain::cmdAvancar_Click() {
    switch (intStep_) {
        case 0:
            for (FormLabel* l : lblWelcome) l->hide();
            lneWelcome->hide();
            lblVerAtual->hide();
            fraPos1->move(twips(2280), 0);
            lblVersion2->setCaption("Sua Versão: " + RegValueText(installedVersion()));
            fraPos1->show();
            cmdAvancar->setEnabled(false);
            StartVersionCheck();
            break;
        case 1:
            fraPos1->hide();
            fraPos2->move(twips(2280), 0);
            fraPos2->show();
            cmdAvancar->setEnabled(false);
            StartUpdateDownload();
            break;
        case 2: {
            fraPos2->hide();
            fraPos3->move(twips(2280), 0);
            fraPos3->show();
            cmdAvancar->setText("&Instalar");
            const std::string saved =
                carvo::getProperty(*dl1_, carvo::dispid::SaveLocation).toString();
            txtInstallPath->setPlainText(
                qs(downloadPath(ReadProfileString("MAIN", "Shell", "Erro", saved))));
            txtInstallPath->setFocus();
            intStep_ = 4;
            break;
        }
        case 3:
            env_.endProgram();
            break;
        case 4:
            handOff();
            break;
        default:
            break;
    }
}

}  // namespace veltrup
