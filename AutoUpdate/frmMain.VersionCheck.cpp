// Step 1 of the wizard, the version check: dl1 fetches the version file (Update.ini) from the
// addresses links.ini names, one after the other until one serves a file Veltrup accepts; its
// handlers check the file's signed statement when links.ini holds the maker's key, and compare
// the version offered with the installed one.

#include "frmMain.h"

#include <sys/stat.h>

#include <QPushButton>
#include <chrono>
#include <filesystem>
#include <system_error>

#include "DownloadPlace.h"
#include "FailureTexts.h"
#include "PartialDownload.h"
#include "TypeLib.h"
#include "UpdateRules.h"
#include "UpdateVerifier.h"
#include "automation/ComError.h"
#include "mdlRegistry.h"
#include "win/ProfileFile.h"

namespace veltrup {

using carvo::Variant;

namespace {

// A version file within the cap is always read whole, never taken for a missing one.
static_assert(static_cast<std::size_t>(kMaxVersionFileBytes) <= carvo::kProfileMaxBytes);

// What a refused statement says to the user.
const FailureTexts& textsFor(const StatementResult& checked) {
    switch (checked.verdict) {
        case StatementVerdict::NoStatement:
            return kUnsignedVersionFileTexts;
        case StatementVerdict::BadSignature:
            return kBadSignatureTexts;
        case StatementVerdict::Expired:
            return kExpiredVersionFileTexts;
        case StatementVerdict::WrongProduct:
            return kWrongProductTexts;
        case StatementVerdict::ExpiryRequired:
            return kExpiryRequiredTexts;
        case StatementVerdict::Mismatch:
            // The version is looked at first, then the name.
            try {
                versionFromText(checked.release.version);
                return kUnsafeNameTexts;
            } catch (const carvo::ComError&) {
                return kInvalidOfferedVersionTexts;
            }
        case StatementVerdict::Accepted:
        case StatementVerdict::Malformed:
            break;
    }
    return kDamagedVersionFileTexts;
}

// False when the file is there but the profile reader would take it for a missing one: too
// large, a FIFO, a folder, unreadable. Missing is not unreadable: that reads as always.
bool readableOrMissing(const std::string& path) {
    const auto state = carvo::readProfileFile(path).state;
    return state == carvo::ProfileFileState::Read || state == carvo::ProfileFileState::Missing;
}

}  // namespace

void frmMain::StartVersionCheck() {
    lblError->hide();
    lblErrorTit->hide();
    lblWhatToDo->hide();
    lblWhatToDoTit->hide();
    // Decided again at each try: a planted folder the user has removed since is made anew.
    const std::string fixed =
        env_.downloadFolder.empty() ? env_.programFolder : env_.downloadFolder;
    place_ = env_.downloadPlace ? env_.downloadPlace(env_.programFolder)
                                : DownloadPlace{fixed, true, std::nullopt};
    if (place_.failure) {
        showCheckFailure(place_.failure->title, place_.failure->text, place_.failure->advice);
        return;
    }
    versionServers_.clear();
    versionServer_ = 0;
    versionRefused_ = false;
    const std::string links = localPath("links.ini");
    if (!readableOrMissing(links)) {
        // Every address would read as "Erro", and the failed probe would blame the network.
        failVersionCheck(kLinksFileUnreadableTexts, false);
        return;
    }
    versionServers_.push_back(ReadProfileString("MAIN", "UpdateFile", "Erro", links));
    for (int n = 2; n <= kMaxVersionFileAddresses; ++n) {
        std::string url = ReadProfileString("MAIN", "UpdateFile" + std::to_string(n), "", links);
        if (!url.empty()) versionServers_.push_back(std::move(url));
    }
    // A retry starts over at the first address.
    for (versionServer_ = 0; versionServer_ < versionServers_.size(); ++versionServer_) {
        fetchVersionFile(versionServers_[versionServer_]);
        if (!versionServerFailed_) return;
    }
}

void frmMain::fetchVersionFile(const std::string& url) {
    versionServerFailed_ = false;
    versionTooLarge_ = false;
    versionRefused_ = false;
    const std::string saved = downloadPath("Update.ini");
    // The control would refuse to write through a link or into a folder, but with its code 1,
    // which blames the Internet for a cause on this computer.
    struct stat st {};
    if (::lstat(saved.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
        failVersionCheck(kVersionFileBlockedTexts, false);
        return;
    }
    carvo::Dispatch& dl = *dl1_;
    carvo::putProperty(dl, carvo::dispid::SaveLocation, saved);
    carvo::putProperty(dl, carvo::dispid::Url, url);
    // The outcome comes back as events. After a failed probe (404, refused, cancelled) there
    // is no file to fetch, and the transfer's own failure would hide the probe's reason.
    probeFailed_ = false;
    carvo::callMethod(dl, carvo::dispid::GetFileInformation);
    if (probeFailed_) return;
    if (carvo::getProperty(dl, carvo::dispid::FileSize).toLong() > kMaxVersionFileBytes) {
        refuseVersionFile(kVersionFileTooLargeTexts);
        return;
    }
    carvo::callMethod(dl, carvo::dispid::DownLoad);
    // Cancelled from dl1_RecievedBytes: the control cut the file at the last piece it
    // reported, so at most one piece (CHUNK bytes) past the cap ever reached the disk.
    if (versionTooLarge_) refuseVersionFile(kVersionFileTooLargeTexts);
}

void frmMain::refuseVersionFile(const FailureTexts& texts) {
    std::error_code ec;
    std::filesystem::remove(carvo::getProperty(*dl1_, carvo::dispid::SaveLocation).toString(), ec);
    versionRefused_ = true;
    lblStatus->setCaption(kVersionRefusedStatus);
    failVersionCheck(texts, true);
}

void frmMain::failVersionCheck(const FailureTexts& texts, bool serverCause) {
    if (serverCause && !onLastVersionServer()) {
        versionServerFailed_ = true;  // the next address may serve a good file
        return;
    }
    showCheckFailure(texts.title, texts.text, texts.advice);
}

void frmMain::showCheckFailure(const std::string& title, const std::string& text,
                               const std::string& advice) {
    lblErrorTit->setCaption(title);
    lblErrorTit->show();
    lblError->setCaption(text);
    lblError->show();
    lblWhatToDoTit->show();
    lblWhatToDo->setCaption(advice);
    lblWhatToDo->show();
    cmdAvancar->setEnabled(true);
    intStep_ = 0;
}

std::optional<std::int32_t> frmMain::readInstalledVersion() const {
    // The key's own status tells a store or key that is not there (nothing installed) from a
    // store that is there and cannot be read.
    const carvo::RegKey key =
        carvo::RegistryStore(env_.registryStore)
            .openKey(std::string(carvo::rootName(HKEY_LOCAL_MACHINE)) + "\\" + kVersionKey);
    Variant value;
    const std::int32_t status =
        key.valid() ? QueryRegValue(key, kVersionValue, value) : key.openStatus();
    return installedVersionNumber(status, value);
}

// ---- dl1: the version check ---------------------------------------------------------------

void frmMain::dl1_DLComplete() {
    if (versionTooLarge_) return;  // refused once the transfer has returned
    const std::string saved = carvo::getProperty(*dl1_, carvo::dispid::SaveLocation).toString();
    struct stat st {};
    if (::lstat(saved.c_str(), &st) == 0) {
        if (!S_ISREG(st.st_mode)) {
            failVersionCheck(kVersionFileBlockedTexts, false);
            return;
        }
        // Never read a part of a file as if it were all of it, nor a missing version as 0.0.
        if (st.st_size > kMaxVersionFileBytes) {
            refuseVersionFile(kVersionFileTooLargeTexts);
            return;
        }
    }
    // With the maker's key in links.ini, nothing is said or offered before the statement is
    // checked, and what follows acts on its signed values.
    const StatementResult checked = checkVersionFile(
        saved, localPath("links.ini"),
        Expectation{kProductName, std::chrono::system_clock::now(), ownProgramName()});
    if (!checked.ok()) {
        refuseVersionFile(textsFor(checked));
        return;
    }
    const std::string available = checked.verified
                                      ? checked.release.version
                                      : ReadProfileString("MAIN", "Version", "0.0", saved);
    lblLastVer->setCaption("Última Versão Disponível: " + available);
    std::int32_t offered = 0;
    try {
        offered = versionFromText(available);
    } catch (const carvo::ComError&) {
        // A version the server wrote wrongly cannot be compared.
        refuseVersionFile(kInvalidOfferedVersionTexts);
        return;
    }
    const std::optional<std::int32_t> have = readInstalledVersion();
    if (!have) {
        // Counting it as nothing installed would offer any release, an older one too.
        failVersionCheck(kInstalledVersionUnreadableTexts, false);
        return;
    }
    if (*have < offered) {
        // The name the update will be saved and started under; refused here, before the user
        // is offered anything, rather than at the download.
        const std::string shell = checked.verified
                                      ? checked.release.shell
                                      : ReadProfileString("MAIN", "Shell", "Erro", saved);
        if (!isSafeUpdateName(shell, ownProgramName())) {
            refuseVersionFile(kUnsafeNameTexts);
            return;
        }
        lblNewVerTit->show();
        lblNewVer->show();
        cmdAvancar->setEnabled(true);
        intStep_ = 1;
        return;
    }
    // The same version, or an older one from a server that is behind: nothing to download, and
    // a partial download an earlier run kept for this release is of no more use.
    if (checked.verified && isSafeUpdateName(checked.release.shell, ownProgramName()))
        discardPartialAndRecord(downloadPath("." + checked.release.shell + ".parcial"));
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

void frmMain::dl1_DLECode(std::int32_t lErrorCode) {
    probeFailed_ = true;
    if (versionTooLarge_) return;  // the cancel of a version file past the cap is ours
    // A file that cannot be written is no network failure, nor one another server would mend:
    // say which folder refuses it.
    if (const std::string folder = downloadFolder(); lErrorCode == 1 && !canWriteIn(folder)) {
        const FolderFailure texts = cannotWriteFailure(folder);
        showCheckFailure(texts.title, texts.text, texts.advice);
        return;
    }
    const auto texts = failureTexts(lErrorCode);
    if (!texts) return;
    // A cancel is the user's (leaving), never a reason to try another server.
    failVersionCheck(*texts, lErrorCode != 4);
}

void frmMain::dl1_StatusChange(const std::string& lpStatus) {
    if (versionRefused_) return;  // the control's "done" must not replace the refusal
    if (versionServers_.size() > 1) {
        lblStatus->setCaption("Servidor " + std::to_string(versionServer_ + 1) + " de " +
                              std::to_string(versionServers_.size()) + ": " + lpStatus);
        return;
    }
    lblStatus->setCaption(lpStatus);
}

void frmMain::dl1_RecievedBytes(std::int32_t lnumBYTES) {
    // The control reports each piece after writing it: stop at the first one past the cap.
    if (lnumBYTES <= kMaxVersionFileBytes || versionTooLarge_) return;
    versionTooLarge_ = true;
    carvo::callMethod(*dl1_, carvo::dispid::Cancel);
}

}  // namespace veltrup
