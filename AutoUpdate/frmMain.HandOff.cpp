// Step 3 of the wizard, the hand-off: the last checks before the installer runs (the product
// must not be running, the update's name and bytes must still be the maker's), the start
// through MainEnvironment::launchInstaller (InstallerCopy.cpp in the real program), and the way
// back to step 2 when the installer was refused.

#include "frmMain.h"

#include <QFrame>
#include <QPushButton>

#include "FailureTexts.h"
#include "TypeLib.h"
#include "UpdateRules.h"
#include "UpdateVerifier.h"
#include "host/HostServices.h"
#include "mdlRegistry.h"

namespace veltrup {

void frmMain::handOff() {
    if (handingOff_) return;  // a press arrived during our own search's yields
    struct Busy {
        bool& flag;
        explicit Busy(bool& f) : flag(f) { flag = true; }
        ~Busy() { flag = false; }
    } busy(handingOff_);
    std::string running;
    if (env_.windows) {
        const auto window = FindWindowByTitle(*env_.windows, host(), "Parvix 2002 v", false);
        running = GetWindowTitle(*env_.windows, window);
    }
    if (!running.empty()) {
        host().messageBox(
            "Erro! O Parvix 2002 está rodando em seu sistema. Feche-o e tente outra vez!",
            carvo::mb::Exclamation | carvo::mb::OkOnly, kTitle);
        return;
    }
    const std::string saved = carvo::getProperty(*dl1_, carvo::dispid::SaveLocation).toString();
    const std::string shell = ReadProfileString("MAIN", "Shell", "Erro", saved);
    const std::string installer = downloadPath(shell);
    std::string failure;
    bool refusedByCheck = false;
    if (!isSafeUpdateName(shell, ownProgramName())) {
        failure = "O nome do programa de Atualização não é válido.";
    } else if (!verifyOrDelete(downloadPath("Update.ini"), localPath("links.ini"), installer, shell)
                    .ok) {
        // Checked again just before it runs: the file may have changed since it arrived.
        failure = kVerifyFailureText;
        refusedByCheck = true;
    } else if (env_.launchInstaller) {
        failure = env_.launchInstaller(installer);
        // The start checks the bytes it runs once more and deletes a file that fails.
        refusedByCheck = failure == kVerifyFailureText;
    }
    if (!failure.empty()) {
        host().messageBox("Não foi possível iniciar o programa de Atualização:\r\n" + installer +
                              "\r\n" + failure,
                          carvo::mb::Critical | carvo::mb::OkOnly, kTitle);
        if (refusedByCheck) backToDownloadStep();  // the file is gone: offer to fetch it again
        return;
    }
    env_.endProgram();
}

void frmMain::backToDownloadStep() {
    fraPos3->hide();
    fraPos2->move(twips(2280), 0);
    fraPos2->show();
    lblDLFinishTit->hide();
    lblDLFinish->hide();
    cmdAvancar->setText("&Avançar >>");
    showDownloadFailure(kVerifyFailureTitle, kVerifyFailureText, kVerifyFailureAdvice);
    lblStatus2->setCaption(kRefusedStatus);
}

}  // namespace veltrup
