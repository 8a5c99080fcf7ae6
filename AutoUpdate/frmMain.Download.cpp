// Step 2 of the wizard, the download of the update: dl2 fetches the installer the version file
// names, the resume of a broken download (the resume point), the figures shown while it runs,
// the check of the file that arrived, and what is shown when it fails.

#include "frmMain.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QPushButton>
#include <algorithm>
#include <chrono>
#include <climits>
#include <filesystem>
#include <optional>
#include <utility>
#include <vector>

#include "FailureTexts.h"
#include "PartialDownload.h"
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

// File, then File2 to File9: further addresses of the same installer, tried in order. Copies
// that know only File read nothing else and keep working with the same version file.
constexpr int kMaxMirrors = 9;

std::vector<std::string> mirrorUrls(const std::string& versionFile) {
    std::vector<std::string> urls{ReadProfileString("MAIN", "File", "Erro", versionFile)};
    for (int n = 2; n <= kMaxMirrors; ++n) {
        std::string url = ReadProfileString("MAIN", "File" + std::to_string(n), "", versionFile);
        if (!url.empty()) urls.push_back(std::move(url));
    }
    return urls;
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
    overSize_ = false;
    const std::string versionFile = downloadPath("Update.ini");
    const std::string shell = ReadProfileString("MAIN", "Shell", "Erro", versionFile);
    if (!isSafeUpdateName(shell, ownProgramName())) {
        // The name comes from the server: a path in it would write, and later run, a file
        // anywhere, and one of our own names would replace the links file (and the maker's key
        // in it) or the program. Refuse it with its own texts; the user may try again.
        showDownloadFailure(kUnsafeNameTexts.title, kUnsafeNameTexts.text, kUnsafeNameTexts.advice);
        return;
    }
    // With the maker's key in use, the update arrives under a name of its own and takes its
    // real name only once it has passed the check, so a file that fails it never replaces one
    // that was there. Without a key the update is saved under its name, as always.
    updateTarget_ = downloadPath(shell);
    const bool checked =
        !ReadProfileString("MAIN", "PublicKey", "", localPath("links.ini")).empty();
    const std::string saveLocation =
        checked ? downloadPath("." + shell + ".parcial") : updateTarget_;
    hiddenPartial_ = checked ? saveLocation : std::string();
    mirrors_ = mirrorUrls(versionFile);
    signedSize_.reset();
    statement_.clear();
    if (checked) {
        // Only what the maker signed bounds the transfer; the mirrors are not trusted.
        const StatementResult signedRelease = checkVersionFile(
            versionFile, localPath("links.ini"),
            Expectation{kProductName, std::chrono::system_clock::now(), ownProgramName()});
        if (signedRelease.verified) signedSize_ = signedRelease.release.size;
        statement_ = statementOf(versionFile);
    }

    std::optional<ResumePoint> carry = std::exchange(resumePoint_, std::nullopt);
    if (carry && carry->path != saveLocation) carry.reset();
    if (checked && !carry) {
        // A partial file an earlier run left is continued only for the very statement it was
        // downloaded for, and only as long as that run left it.
        if (partialMatchesRecord(saveLocation, statement_)) {
            if (const auto left = fileIdentity(saveLocation))
                carry = ResumePoint{saveLocation,  {}, 0, left->device, left->inode, left->length,
                                    left->modified};
        } else {
            discardPartialAndRecord(saveLocation);
        }
    }

    // Every address in turn; a failure is shown only once the last one has failed too, and a
    // retry starts again at the first.
    pendingFailure_.reset();
    bool keepCarry = false;
    bool fromZero = false;
    MirrorOutcome outcome = MirrorOutcome::Failed;
    for (std::size_t i = 0; i < mirrors_.size();) {
        mirrorIndex_ = i;
        if (fromZero) {
            // The continued file failed its check and is gone: this address once more, whole.
            carry.reset();
        }
        outcome = tryMirror(saveLocation, carry, keepCarry);
        if (outcome != MirrorOutcome::Failed && outcome != MirrorOutcome::JoinRefused) break;
        if (outcome == MirrorOutcome::JoinRefused && !fromZero) {
            fromZero = true;
            continue;
        }
        fromZero = false;
        ++i;
    }
    deferFailure_ = false;
    if (leaving_) {
        // Sair or an ending signal came during the transfer: the record follows the file as the
        // transfer left it.
        keepPartialForNextRun();
        return;
    }
    if (outcome == MirrorOutcome::Arrived) {
        if (checked) ::unlink(recordPathOf(saveLocation).c_str());
        return;
    }
    if (outcome == MirrorOutcome::Unfinished) return;
    // The failure of an address before the last one (a cancel there) was held back.
    if (const auto held = std::exchange(pendingFailure_, std::nullopt))
        showDownloadFailure(held->title, held->text, held->advice);
    if (overSize_) lblStatus2->setCaption(kRefusedStatus);
    if (outcome == MirrorOutcome::Failed && keepCarry && carry) {
        resumePoint_ = carry;
        return;  // kept for the retry; the exit keeps a hidden one with its record
    }
    discardHiddenPartial();
}

frmMain::MirrorOutcome frmMain::tryMirror(const std::string& saveLocation,
                                          std::optional<ResumePoint>& carry, bool& keepCarry) {
    carvo::Dispatch& dl = *dl2_;
    const std::string& url = mirrors_[mirrorIndex_];
    const bool checked = !hiddenPartial_.empty();
    const bool lastMirror = mirrorIndex_ + 1 == mirrors_.size();
    // Only the last address shows its failure as it happens; the others' are held back, and
    // a cancel there is shown once the loop ends.
    deferFailure_ = !lastMirror;
    if (mirrors_.size() > 1) {
        lblStatus2->setCaption(serverStatus("Conectando...", mirrorIndex_, mirrors_.size()));
        lblErrorTit2->hide();
        lblError2->hide();
        lblWhatToDoTit2->hide();
        lblWhatToDo2->hide();
    }
    cmdAvancar->setEnabled(false);
    carvo::putProperty(dl, carvo::dispid::SaveLocation, saveLocation);
    carvo::putProperty(dl, carvo::dispid::Url, url);
    refused_ = false;
    overSize_ = false;
    attemptPosition_ = 0;
    attemptCode_ = 0;
    probeFailed_ = false;
    keepCarry = true;  // a server that is away throws nothing away
    carvo::callMethod(dl, carvo::dispid::GetFileInformation);
    if (probeFailed_) return MirrorOutcome::Failed;
    const std::int32_t fileSize = carvo::getProperty(dl, carvo::dispid::FileSize).toLong();
    if (signedSize_ && fileSize > 0 && static_cast<std::uint64_t>(fileSize) != *signedSize_) {
        // Another size than the signed one is another file, whatever its name.
        showDownloadFailure(kWrongSizeFailure.title, kWrongSizeFailure.text,
                            kWrongSizeFailure.advice);
        return MirrorOutcome::Failed;
    }
    const auto size = static_cast<float>(fileSize);
    // A bar needs a maximum above its minimum; an unknown size (0) leaves it empty until the
    // error code or the first bytes arrive.
    int max = size >= static_cast<float>(INT_MAX) ? INT_MAX : static_cast<int>(size);
    if (max <= pb1->minimum()) max = pb1->minimum() + 1;
    pb1->setMaximum(max);
    cmdDLCancel->setEnabled(true);

    // A broken download goes on from where it stopped when the server said it can and the file
    // there is still the one that transfer left. Unsigned, only at the same address with the
    // same size: nothing else could tell a file joined from two builds. Signed, at any
    // address: the signed hash decides at the end whether the joined file is the installer.
    // Anything else, or a refused resume, starts over.
    bool resumed = false;
    if (carry && (checked || (carry->url == url && carry->size == fileSize))) {
        const auto now = fileIdentity(saveLocation);
        if (now && now->device == carry->device && now->inode == carry->inode &&
            now->length == carry->length && now->modified == carry->modified &&
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
                if (probeFailed_) return MirrorOutcome::Failed;
            }
        }
    }
    if (!resumed && !leaving_) {
        showStartOfAttempt(0);
        carvo::callMethod(dl, carvo::dispid::DownLoad);
    }
    if (leaving_) return MirrorOutcome::Stopped;
    if (intStep_ == 2) return MirrorOutcome::Arrived;
    if (overSize_) {
        // The file holds bytes past the signed size, so it is not the installer: gone at once.
        keepCarry = false;
        carry.reset();
        std::error_code ec;
        std::filesystem::remove(saveLocation, ec);
        if (checked) ::unlink(recordPathOf(saveLocation).c_str());
        showDownloadFailure(kOversizeFailure.title, kOversizeFailure.text, kOversizeFailure.advice);
        return MirrorOutcome::Failed;
    }
    if (refused_) {
        // verifyOrDelete has deleted it.
        keepCarry = false;
        carry.reset();
        return resumed ? MirrorOutcome::JoinRefused : MirrorOutcome::Failed;
    }
    if (attemptCode_ == 4) {
        keepCarry = false;
        return MirrorOutcome::Stopped;
    }
    // Neither an end nor a failure reported: nothing to decide (a control that keeps going).
    if (attemptCode_ == 0) return MirrorOutcome::Unfinished;
    // A broken or stalled transfer: kept for a resume where the server allows one, and in
    // signed mode for the next address, which may continue it.
    const bool resumable = attemptCode_ == 1 && attemptPosition_ > 0 &&
                           carvo::getProperty(dl, carvo::dispid::ResumeSupported).toBool() != 0;
    const auto left = fileIdentity(saveLocation);
    keepCarry = resumable || (checked && !lastMirror);
    if (left && left->length > 0 && keepCarry) {
        carry = ResumePoint{saveLocation, url,          fileSize,      left->device,
                            left->inode,  left->length, left->modified};
    } else {
        carry.reset();
        keepCarry = false;
    }
    return MirrorOutcome::Failed;
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
    discardPartialAndRecord(hiddenPartial_);
}

void frmMain::keepPartialForNextRun() {
    leaving_ = true;
    if (hiddenPartial_.empty()) return;
    // Only a signed statement can tell a later run that the partial file is still wanted.
    if (statement_.empty() || statement_ == "\n\n") {
        discardPartialAndRecord(hiddenPartial_);
        return;
    }
    keepPartialRecord(hiddenPartial_, statement_);
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
            attemptCode_ = 1;
            std::filesystem::remove(downloaded, ec);
            dl2_DLECode(1);
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
    // The end of a transfer cancelled for its size, or by the exit, is no failure to show.
    if (overSize_ || leaving_) return;
    if (resuming_ && (lErrorCode == 6 || lErrorCode == 7)) {
        resumeRefused_ = true;  // nothing to show: the download starts over
        return;
    }
    probeFailed_ = true;
    if (attemptCode_ == 0) attemptCode_ = lErrorCode;
    // A file that cannot be written is no network failure: say which folder refuses it.
    if (const std::string folder = downloadFolder(); lErrorCode == 1 && !canWriteIn(folder)) {
        const FolderFailure failure = cannotWriteFailure(folder);
        showDownloadFailure(failure.title.c_str(), failure.text.c_str(), failure.advice.c_str());
        return;
    }
    const auto texts = failureTexts(lErrorCode);
    if (!texts) return;
    showDownloadFailure(texts->title, texts->text, texts->advice);
}

void frmMain::showDownloadFailure(const char* title, const char* text, const char* advice) {
    if (deferFailure_) {
        pendingFailure_ = FailureTexts{title, text, advice};
        return;
    }
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
    // A server without a length, or one that lies about it, is stopped at the first byte past
    // the signed size.
    if (signedSize_ && !overSize_ && lnumBYTES > 0 &&
        static_cast<std::uint64_t>(lnumBYTES) > *signedSize_) {
        overSize_ = true;
        carvo::callMethod(*dl2_, carvo::dispid::Cancel);
    }
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
    if (refused_ || overSize_) return;  // the control's "done" must not replace the refusal
    lblStatus2->setCaption(
        mirrors_.size() > 1 ? serverStatus(lpStatus, mirrorIndex_, mirrors_.size()) : lpStatus);
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
