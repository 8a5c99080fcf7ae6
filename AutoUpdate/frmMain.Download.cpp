// Step 2 of the wizard, the download of the update: dl2 fetches the installer the version file
// names, the resume of a broken download (the resume point), the figures shown while it runs,
// the check of the file that arrived, and what is shown when it fails.

#include "frmMain.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <QPushButton>
#include <algorithm>
#include <climits>
#include <filesystem>
#include <optional>
#include <utility>

#include "FailureTexts.h"
#include "TypeLib.h"
#include "UpdateRules.h"
#include "UpdateVerifier.h"
#include "host/HostServices.h"
#include "mdlRegistry.h"
#include "win/UniqueFd.h"

namespace veltrup {

namespace {

// Which file a path names and how it was left: opened without following a link, regular
// files only.
struct FileIdentity {
    std::uint64_t device = 0, inode = 0;
    std::int64_t length = 0, modified = 0;
};

std::optional<FileIdentity> fileIdentity(const std::string& path) {
    const carvo::UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
    struct stat st {};
    if (fd.get() < 0 || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    return FileIdentity{
        static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino),
        static_cast<std::int64_t>(st.st_size),
        static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}

}  // namespace

void frmMain::StartUpdateDownload() {
    // The figures of a download are shown once per repaint; whoever looks once the attempt is
    // over, repainted or not, sees the last of them.
    const struct ShowLatest {
        frmMain& form;
        ~ShowLatest() { form.showLatestFigures(); }
    } showLatest{*this};
    lblErrorTit2->hide();
    lblError2->hide();
    lblWhatToDoTit2->hide();
    lblWhatToDo2->hide();
    const std::string versionFile = downloadPath("Update.ini");
    const std::string shell = ReadProfileString("MAIN", "Shell", "Erro", versionFile);
    if (!isSafeUpdateName(shell, ownProgramName())) {
        // The name comes from the server: a path in it would write, and later run, a file
        // anywhere, and one of our own names would replace the links file (and the maker's key
        // in it) or the program. Refuse it as a failed transfer; the user may try again.
        dl2_DLECode(1);
        return;
    }
    carvo::Dispatch& dl = *dl2_;
    // With the maker's key in use, the update arrives under a name of its own and takes its
    // real name only once it has passed the check, so a file that fails it never replaces one
    // that was there. Without a key the update is saved under its name, as always.
    updateTarget_ = downloadPath(shell);
    const bool checked =
        !ReadProfileString("MAIN", "PublicKey", "", localPath("links.ini")).empty();
    const std::string saveLocation =
        checked ? downloadPath("." + shell + ".parcial") : updateTarget_;
    hiddenPartial_ = checked ? saveLocation : std::string();
    const std::string url = ReadProfileString("MAIN", "File", "Erro", versionFile);
    carvo::putProperty(dl, carvo::dispid::SaveLocation, saveLocation);
    carvo::putProperty(dl, carvo::dispid::Url, url);
    const std::optional<ResumePoint> broken = std::exchange(resumePoint_, std::nullopt);
    refused_ = false;
    attemptPosition_ = 0;
    attemptCode_ = 0;
    probeFailed_ = false;
    carvo::callMethod(dl, carvo::dispid::GetFileInformation);
    if (probeFailed_) {
        // The probe's code is on the screen, with the retry offered; the bar and the figures
        // keep what they showed. A broken download waiting to be continued still waits: a
        // retry pressed while the server is still away must not throw its bytes away.
        if (broken && broken->path == saveLocation) {
            resumePoint_ = broken;
            return;
        }
        discardHiddenPartial();
        return;
    }
    const std::int32_t fileSize = carvo::getProperty(dl, carvo::dispid::FileSize).toLong();
    const auto size = static_cast<float>(fileSize);
    // A bar needs a maximum above its minimum; an unknown size (0) leaves it empty until the
    // error code or the first bytes arrive.
    int max = size >= static_cast<float>(INT_MAX) ? INT_MAX : static_cast<int>(size);
    if (max <= pb1->minimum()) max = pb1->minimum() + 1;
    pb1->setMaximum(max);
    cmdDLCancel->setEnabled(true);

    // A retry after a broken transfer goes on from where it stopped when the server said it
    // can, the file there is still the one that transfer left, and the server still has a
    // file of the same size. Anything else, or a refused resume, starts over.
    bool resumed = false;
    if (broken && broken->path == saveLocation && broken->url == url && broken->size == fileSize) {
        const auto now = fileIdentity(saveLocation);
        if (now && now->device == broken->device && now->inode == broken->inode &&
            now->length == broken->length && now->modified == broken->modified &&
            now->length < fileSize) {
            showStartOfAttempt(static_cast<std::int32_t>(now->length));
            resuming_ = true;
            resumeRefused_ = false;
            carvo::callMethod(dl, carvo::dispid::DLResume);
            resuming_ = false;
            resumed = !resumeRefused_;
            if (!resumed) {
                // Starting over needs a probe of its own: the resume used up the last one.
                probeFailed_ = false;
                carvo::callMethod(dl, carvo::dispid::GetFileInformation);
                if (probeFailed_) {
                    discardHiddenPartial();
                    return;
                }
            }
        }
    }
    if (!resumed) {
        showStartOfAttempt(0);
        carvo::callMethod(dl, carvo::dispid::DownLoad);
    }

    if (attemptCode_ == 1 && attemptPosition_ > 0 &&
        carvo::getProperty(dl, carvo::dispid::ResumeSupported).toBool() != 0) {
        if (const auto left = fileIdentity(saveLocation)) {
            resumePoint_ = ResumePoint{saveLocation, url,          fileSize,      left->device,
                                       left->inode,  left->length, left->modified};
            return;  // kept for the retry; the exit deletes a hidden one
        }
    }
    if (attemptCode_ != 0) discardHiddenPartial();
}

void frmMain::showLatestFigures() {
    for (FormLabel* l : {lblStatus2, lblDLReceived, lblDLTimeLeft, lblDLRate, lblDLPercent})
        l->showNow();
    pb1->showNow();
}

void frmMain::showStartOfAttempt(std::int32_t position) {
    dl2_RecievedBytes(position);
    const std::int32_t total = carvo::getProperty(*dl2_, carvo::dispid::FileSize).toLong();
    dl2_Percent(total > 0 ? carvo::roundToLong(static_cast<double>(position) / total * 100.0) : 0);
}

void frmMain::discardHiddenPartial() {
    if (hiddenPartial_.empty()) return;
    std::error_code ec;
    std::filesystem::remove(hiddenPartial_, ec);
}

// ---- dl2: the update download -------------------------------------------------------------

void frmMain::dl2_DLComplete() {
    // Never offer an installer that is not the one the maker published; a refused one is
    // deleted at once, so nothing can start it later.
    const std::string downloaded =
        carvo::getProperty(*dl2_, carvo::dispid::SaveLocation).toString();
    if (!verifyOrDelete(downloadPath("Update.ini"), localPath("links.ini"), downloaded,
                        std::filesystem::path(updateTarget_).filename().string())
             .ok) {
        showDownloadFailure(kVerifyFailureTitle, kVerifyFailureText, kVerifyFailureAdvice);
        refused_ = true;
        lblStatus2->setCaption(kRefusedStatus);
        return;
    }
    if (!updateTarget_.empty() && downloaded != updateTarget_) {
        std::error_code ec;
        std::filesystem::rename(downloaded, updateTarget_, ec);
        if (ec) {
            std::filesystem::remove(downloaded, ec);
            const auto texts = failureTexts(1);
            showDownloadFailure(texts->title, texts->text, texts->advice);
            return;
        }
    }
    lblDLFinishTit->show();
    lblDLFinish->show();
    cmdDLCancel->setEnabled(false);
    cmdAvancar->setEnabled(true);
    intStep_ = 2;
}

void frmMain::dl2_DLECode(std::int32_t lErrorCode) {
    if (resuming_ && (lErrorCode == 6 || lErrorCode == 7)) {
        resumeRefused_ = true;  // nothing to show: the download starts over
        return;
    }
    probeFailed_ = true;
    if (attemptCode_ == 0) attemptCode_ = lErrorCode;
    const auto texts = failureTexts(lErrorCode);
    if (!texts) return;
    showDownloadFailure(texts->title, texts->text, texts->advice);
}

void frmMain::showDownloadFailure(const char* title, const char* text, const char* advice) {
    lblErrorTit2->setCaption(title);
    lblErrorTit2->show();
    lblError2->setCaption(text);
    lblError2->show();
    lblWhatToDoTit2->show();
    lblWhatToDo2->setCaption(advice);
    lblWhatToDo2->show();
    cmdAvancar->setEnabled(true);
    cmdDLCancel->setEnabled(false);
    intStep_ = 1;
}

void frmMain::dl2_RecievedBytes(std::int32_t lnumBYTES) {
    attemptPosition_ = lnumBYTES;
    const std::int32_t total = carvo::getProperty(*dl2_, carvo::dispid::FileSize).toLong();
    lblDLReceived->setCaption("Recebido: " + std::to_string(lnumBYTES) + "/" +
                              std::to_string(total));
    // A server may send more than it announced: the bar stays within its range.
    const double value = static_cast<float>(lnumBYTES);
    const double clamped =
        std::clamp(value, static_cast<double>(pb1->minimum()), static_cast<double>(pb1->maximum()));
    pb1->setValue(static_cast<int>(clamped));
}

void frmMain::dl2_Percent(std::int32_t lPercent) {
    lblDLPercent->setCaption("Porcentagem Concluída: " + std::to_string(lPercent) + "%");
}

void frmMain::dl2_StatusChange(const std::string& lpStatus) {
    if (resuming_ && lpStatus == "Resume Falhou.") resumeRefused_ = true;
    if (refused_) return;  // the control's "done" must not replace the refusal
    lblStatus2->setCaption(lpStatus);
}

void frmMain::dl2_Rate(const std::string& lpRate) {
    lblDLRate->setCaption("Velocidade: " + lpRate);
}

void frmMain::dl2_TimeLeft(const std::string& lpTime) {
    lblDLTimeLeft->setCaption("Tempo Restante: " + lpTime);
}

void frmMain::cmdDLCancel_Click() {
    const auto answer = host().messageBox(
        "Tem certeza que deseja cancelar o Download em curso?",
        carvo::mb::Question | carvo::mb::YesNo | carvo::mb::DefaultButton1, kTitle);
    if (answer == carvo::MsgBoxResult::Yes) carvo::callMethod(*dl2_, carvo::dispid::Cancel);
}

}  // namespace veltrup
