// Step 1 of the wizard, the version check: dl1 fetches the version file (Update.ini) named in
// the links file, and its handlers compare the version offered with the installed one.

#include "frmMain.h"

#include <QPushButton>

#include "FailureTexts.h"
#include "TypeLib.h"
#include "UpdateRules.h"
#include "automation/ComError.h"
#include "mdlRegistry.h"

namespace veltrup {

using carvo::Variant;

void frmMain::StartVersionCheck() {
    lblError->hide();
    lblErrorTit->hide();
    lblWhatToDo->hide();
    lblWhatToDoTit->hide();
    carvo::Dispatch& dl = *dl1_;
    carvo::putProperty(dl, carvo::dispid::SaveLocation, downloadPath("Update.ini"));
    carvo::putProperty(dl, carvo::dispid::Url,
                       ReadProfileString("MAIN", "UpdateFile", "Erro", localPath("links.ini")));
    // The outcome comes back as events. After a failed probe (404, refused, cancelled) there
    // is no file to fetch, and the transfer's own failure would hide the probe's reason.
    probeFailed_ = false;
    carvo::callMethod(dl, carvo::dispid::GetFileInformation);
    if (!probeFailed_) carvo::callMethod(dl, carvo::dispid::DownLoad);
}

// ---- dl1: the version check ---------------------------------------------------------------

void frmMain::dl1_DLComplete() {
    const Variant installed = installedVersion();
    const std::string saved = carvo::getProperty(*dl1_, carvo::dispid::SaveLocation).toString();
    const std::string available = ReadProfileString("MAIN", "Version", "0.0", saved);
    lblLastVer->setCaption("Última Versão Disponível: " + available);
    std::int32_t offered = 0;
    try {
        offered = versionFromText(available);
    } catch (const carvo::ComError&) {
        // A version the server wrote wrongly cannot be compared: show it as a failed check,
        // which the user may retry.
        dl1_DLECode(1);
        return;
    }
    const std::int32_t have = installedVersionNumber(installed);
    if (have < offered) {
        lblNewVerTit->show();
        lblNewVer->show();
        cmdAvancar->setEnabled(true);
        intStep_ = 1;
    } else if (have == offered) {
        lblNewVerTit->setCaption("Sua Versão Está Atualizada!");
        lblNewVer->setCaption(
            "O Programa determinou que você possui a versão mais atual do Parvix 2002. Sendo "
            "assim, você não precisa de nenhuma Atualização. Clique os botões 'Finalizar' ou "
            "'Sair' para encerrar o programa.");
        lblNewVerTit->show();
        lblNewVer->show();
        cmdAvancar->setText("&Finalizar");
        cmdAvancar->setEnabled(true);
        intStep_ = 3;
    }
}

void frmMain::dl1_DLECode(std::int32_t lErrorCode) {
    probeFailed_ = true;
    const auto texts = failureTexts(lErrorCode);
    if (!texts) return;
    lblErrorTit->setCaption(texts->title);
    lblErrorTit->show();
    lblError->setCaption(texts->text);
    lblError->show();
    lblWhatToDoTit->show();
    lblWhatToDo->setCaption(texts->advice);
    lblWhatToDo->show();
    cmdAvancar->setEnabled(true);
    intStep_ = 0;
}

void frmMain::dl1_StatusChange(const std::string& lpStatus) { lblStatus->setCaption(lpStatus); }

}  // namespace veltrup
