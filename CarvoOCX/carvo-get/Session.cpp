#include "Session.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <iterator>
#include <memory>
#include <optional>
#include <string>

#include "Library.h"
#include "Listener.h"
#include "Progress.h"
#include "StagedFile.h"
#include "Terminal.h"
#include "TypeLib.h"
#include "automation/Container.h"
#include "automation/Dispatch.h"
#include "host/ConsoleHost.h"

namespace carvo::cli {

namespace {

// The console's host services, with the terminal put back to lines and echo while the control
// asks a question, and an end of input taken as the user walking away from it.
class CarvoGetHost : public ConsoleHost {
  public:
    CarvoGetHost(TerminalSession& terminal, Listener& listener)
        : ConsoleHost(stdin, stderr), terminal_(terminal), listener_(listener) {}

    MsgBoxResult messageBox(std::string_view text, int style, std::string_view title) override {
        Question q(*this);
        MsgBoxResult r = ConsoleHost::messageBox(text, style, title);
        if ((style & mb::ButtonMask) == mb::YesNo) checkAnswered();
        return r;
    }

    std::string inputBox(std::string_view prompt, std::string_view title,
                         std::string_view defaultText) override {
        Question q(*this);
        std::string answer = ConsoleHost::inputBox(prompt, title, defaultText);
        checkAnswered();
        // Follow the control's renaming rules, so a resume hint names the file it really wrote:
        // a name other than blank and other than the current one becomes the target.
        if (answer > " " && answer != target_) target_ = answer;
        return answer;
    }

    void setTarget(std::string t) { target_ = std::move(t); }
    const std::string& target() const { return target_; }

  private:
    struct Question {
        explicit Question(CarvoGetHost& h) : host(h) {
            host.listener_.breakLine();
            std::clearerr(stdin);
            host.terminal_.beginQuestion();
        }
        ~Question() { host.terminal_.endQuestion(); }
        CarvoGetHost& host;
    };

    // The control's questions loop until they get a name; with the input at its end there is
    // nobody left to answer, and nothing has been written yet: stop here.
    void checkAnswered() {
        if (!std::feof(stdin)) return;
        terminal_.release();
        printErr("\ncarvo-get: no answer (end of input); nothing was downloaded.\n");
        std::fflush(stdout);
        std::exit(kExitFailed);
    }

    TerminalSession& terminal_;
    Listener& listener_;
    std::string target_;
};

class Site : public ContainerSite {
  public:
    explicit Site(HostServices& host) : host_(host) {}
    void onPropertyChanged(std::string_view) override {}
    void requestExtent(const Extent&) override {}
    HostServices* hostServices() override { return &host_; }

  private:
    HostServices& host_;
};

Variant vbool(bool b) { return Variant::fromBool(b ? VTrue : VFalse); }

std::string absolutePath(const std::string& path) {
    std::error_code ec;
    auto abs = std::filesystem::absolute(path, ec);
    return ec ? path : abs.lexically_normal().string();
}

class Session {
  public:
    explicit Session(const Options& o)
        : options_(o),
          listener_(std::make_shared<Listener>(o.trace ? Listener::Display::Trace
                                               : ::isatty(STDERR_FILENO)
                                                   ? Listener::Display::ProgressLine
                                                   : Listener::Display::StatusLines)),
          terminal_(true),
          host_(terminal_, *listener_),
          site_(host_) {}

    int run() {
        object_ = createObject(clsidDownLoad());
        auto control = std::dynamic_pointer_cast<OleControl>(object_);
        if (!control) {
            printErr("carvo-get: the DownLoad class is not a control\n");
            return kExitFailed;
        }
        control->setClientSite(&site_);
        control->initNew();
        control->connectionPoint().advise(listener_);
        host_.setYieldHook([this] { onYield(); });

        Dispatch& d = *object_;
        putProperty(d, dispid::Url, options_.url);
        if (options_.chunk) putProperty(d, dispid::CHUNK, *options_.chunk);
        // A staged download names its target itself: the control writes the staged file.
        if (options_.keepType && !options_.staged()) putProperty(d, dispid::KeepType, vbool(true));
        if (options_.onlineCheck) putProperty(d, dispid::OnlineCheck, vbool(true));
        if (options_.promptOverwrite) putProperty(d, dispid::PromptOverwrite, vbool(true));
        if (options_.rollback) putProperty(d, dispid::ROLLBACK, *options_.rollback);

        std::string save;
        if (options_.saveLocation) {
            save = *options_.saveLocation;
        } else {
            save = getProperty(d, dispid::FileName).toString();
            if (save.empty() || save == "." || save == "..") {
                printErr(
                    "carvo-get: the URL names no file to save to (nothing usable after its "
                    "last \"/\"); give a SAVE_LOCATION\n" +
                    usageLine() + "\n");
                return kExitUsage;
            }
        }
        // The file the download writes: --keep-type renames it after the URL's extension. A
        // resume writes SaveLocation as it is, so it is given the renamed file directly.
        std::string target = save;
        if (options_.keepType) {
            try {
                target = KeepTypeName(options_.url, save);
            } catch (const std::exception& e) {
                // The control fails the same way and says so; a staged download says it here.
                if (options_.staged()) {
                    printErr("carvo-get: --keep-type: " + std::string(e.what()) + "\n");
                    return kExitFailed;
                }
                target = save;
            }
        }
        if (options_.staged()) return runStaged(target);
        putProperty(d, dispid::SaveLocation, options_.resume ? target : save);
        host_.setTarget(target);

        if (options_.info) return probeOnly();

        callMethod(d, dispid::GetFileInformation);
        quitIfAsked();
        listener_->setFileSize(getProperty(d, dispid::FileSize).toLong());
        if (!listener_->lastCode() && !terminal_.interrupted())
            callMethod(d, options_.resume ? dispid::DLResume : dispid::DownLoad);
        quitIfAsked();
        listener_->finish();
        return report();
    }

  private:
    // How one address did.
    struct Attempt {
        enum class Kind {
            Done,           // complete and checked
            ProbeFailed,    // no file here (no connection, refused, not found, server error)
            Broken,         // the transfer broke and could not be resumed here
            ResumeRefused,  // the server would not continue the partial file
            BadFile,        // complete, and not the file asked for (the copy is gone)
            Stopped,        // the user cancelled
        };
        Kind kind;
        std::string why;
    };
    // Resumes of one address in a row, each after a break that still brought bytes, before
    // the next address is tried.
    static constexpr int kResumesPerServer = 5;

    // The download with a staged file: through every address in turn until one serves the file
    // whole and, with --sha256 or --size, right. The target is replaced only then.
    int runStaged(const std::string& target) {
        std::error_code ec;
        const bool targetExisted =
            std::filesystem::is_regular_file(std::filesystem::symlink_status(target, ec));
        std::optional<StagedFile> staged;
        try {
            staged.emplace(target);
            if (options_.resume) staged->copyFromTarget();
        } catch (const StagedFile::Error& e) {
            printErr("carvo-get: " + std::string(e.what()) + "\n");
            return kExitFailed;
        }
        staged_ = &*staged;
        putProperty(*object_, dispid::SaveLocation, staged_->path());
        listener_->onReceived = [this](std::int64_t position) {
            // Not a byte past the size asked for: the transfer is stopped at the first one.
            if (options_.size && position > *options_.size && !sizeExceeded_) {
                sizeExceeded_ = true;
                overrunAt_ = position;
                callMethod(*object_, dispid::Cancel);
            }
        };

        const std::vector<std::string> urls = options_.urls();
        std::vector<std::string> failures;  // what each address did
        // The staged file holds bytes worth continuing: the user's partial file at first, and
        // later what a broken transfer left, when a hash will judge the joined file.
        bool continuing = options_.resume;
        for (std::size_t i = 0; i < urls.size(); ++i) {
            const std::string which =
                "server " + std::to_string(i + 1) + " of " + std::to_string(urls.size());
            if (urls.size() > 1) say("carvo-get: " + which + ": " + urls[i] + "\n");
            putProperty(*object_, dispid::Url, urls[i]);
            Attempt a = tryServer(continuing);
            if (a.kind == Attempt::Kind::Done) return commit(*staged, target);
            if (a.kind == Attempt::Kind::Stopped) {
                listener_->finish();
                printErr(failureLine());
                staged->discard();
                printErr("carvo-get: " + keptLine(target, targetExisted) + "\n");
                return kExitFailed;
            }
            failures.push_back(urls.size() == 1 ? a.why : which + ", " + urls[i] + ": " + a.why);
            if (urls.size() > 1 && i + 1 < urls.size())
                say("carvo-get: passing over " + which + ": " + a.why + "\n");
            // Only a hash can tell whether the bytes of one address fit those of another.
            continuing = options_.sha256 && staged->length() > 0 &&
                         (a.kind == Attempt::Kind::Broken || a.kind == Attempt::Kind::ProbeFailed);
            if (!continuing) startOver();
        }
        listener_->finish();
        staged->discard();
        if (urls.size() == 1) {
            printErr("carvo-get: " + failures.front() + "\n");
        } else {
            printErr("carvo-get: no address served the file:\n");
            for (const std::string& f : failures) printErr("  " + f + "\n");
        }
        printErr("carvo-get: " + keptLine(target, targetExisted) + "\n");
        return kExitFailed;
    }

    static std::string keptLine(const std::string& target, bool existed) {
        return existed ? target + " is left as it was" : "nothing was saved at " + target;
    }

    int commit(StagedFile& staged, const std::string& target) {
        listener_->finish();
        try {
            staged.commit();
        } catch (const StagedFile::Error& e) {
            printErr("carvo-get: " + std::string(e.what()) + "\n");
            return kExitFailed;
        }
        if (options_.sha256 || options_.size)
            say("carvo-get: " + target + " checks out against " +
                (options_.sha256 && options_.size ? "--sha256 and --size"
                 : options_.sha256                ? "--sha256"
                                                  : "--size") +
                "\n");
        return kExitDone;
    }

    // One address: a continued partial file first when there is one, and from zero once more
    // when the server will not continue it or the joined file is not the right one.
    Attempt tryServer(bool continuing) {
        Attempt a = transfer(continuing);
        if (continuing &&
            (a.kind == Attempt::Kind::BadFile || a.kind == Attempt::Kind::ResumeRefused)) {
            say("carvo-get: " + a.why + "; starting over from this server\n");
            startOver();
            a = transfer(false);
        }
        return a;
    }

    // The staged file emptied: removed, and a new one under a new name.
    void startOver() {
        staged_->restart();
        putProperty(*object_, dispid::SaveLocation, staged_->path());
    }

    std::optional<Attempt> probe() {
        listener_->reset();
        callMethod(*object_, dispid::GetFileInformation);
        quitIfAsked();
        if (cancelRequested_) return Attempt{Attempt::Kind::Stopped, {}};
        if (listener_->lastCode()) return Attempt{Attempt::Kind::ProbeFailed, failureText()};
        const std::int32_t size = getProperty(*object_, dispid::FileSize).toLong();
        listener_->setFileSize(size);
        if (options_.size && size != *options_.size)
            return Attempt{Attempt::Kind::ProbeFailed,
                           "the server announces " + std::to_string(size) + " bytes, not the " +
                               std::to_string(*options_.size) + " that --size gives"};
        return std::nullopt;
    }

    Attempt transfer(bool continuing) {
        if (auto refused = probe()) return *refused;
        std::int64_t before = continuing ? staged_->length() : 0;
        listener_->reset();
        callMethod(*object_, continuing ? dispid::DLResume : dispid::DownLoad);
        quitIfAsked();
        for (int resumes = 0;; ++resumes) {
            if (listener_->completed()) break;
            if (cancelRequested_) return {Attempt::Kind::Stopped, {}};
            if (sizeExceeded_) {
                startOver();
                sizeExceeded_ = false;
                return {Attempt::Kind::BadFile,
                        "the server sent more than the " + std::to_string(*options_.size) +
                            " bytes --size gives; stopped at byte " + std::to_string(overrunAt_)};
            }
            const auto& code = listener_->lastCode();
            if (continuing && resumes == 0 && (!code || code == 6 || code == 7))
                return {Attempt::Kind::ResumeRefused,
                        "the server would not continue the partial file (" + failureText() + ")"};
            // A transfer that broke after bringing bytes is resumed here, as long as every
            // resume brings more.
            const std::int64_t now = staged_->length();
            if (now <= before || resumes == kResumesPerServer)
                return {Attempt::Kind::Broken, failureText()};
            say("carvo-get: the transfer broke at byte " + std::to_string(now) +
                "; resuming it from this server\n");
            before = now;
            continuing = true;
            if (auto refused = probe()) return *refused;
            putProperty(*object_, dispid::ROLLBACK, 0);
            listener_->reset();
            callMethod(*object_, dispid::DLResume);
            quitIfAsked();
        }
        if (auto wrong = staged_->check(options_.size, options_.sha256)) {
            startOver();  // the bad copy goes first
            return {Attempt::Kind::BadFile, *wrong};
        }
        return {Attempt::Kind::Done, {}};
    }

    // A line of carvo-get's own, off the progress line.
    void say(const std::string& text) {
        listener_->breakLine();
        printErr(text);
    }

    int probeOnly() {
        Dispatch& d = *object_;
        callMethod(d, dispid::GetFileInformation);
        quitIfAsked();
        listener_->finish();
        for (auto [name, id] : {std::pair{"FileSize", dispid::FileSize},
                                {"FileExists", dispid::FileExists},
                                {"ResumeSupported", dispid::ResumeSupported},
                                {"Connected", dispid::Connected}})
            std::printf("%s\t%s\n", name, getProperty(d, id).toString().c_str());
        std::fflush(stdout);
        if (listener_->lastCode()) {
            printErr(failureLine());
            return kExitFailed;
        }
        return kExitDone;
    }

    // A quit asked for by a signal ends the program once the control's method has returned:
    // its cancel wrote out every byte already reported.
    void quitIfAsked() {
        if (!terminal_.quitSignal()) return;
        listener_->finish();
        if (staged_) staged_->discard();
        terminal_.quitNow();
    }

    void onYield() {
        if (terminal_.interrupted() || cancelRequested_) requestCancel();
        for (int key; (key = terminal_.readKey()) >= 0;) {
            if (key == 'p' || key == 'P') {
                paused_ = !paused_;
                Variant arg[1] = {vbool(paused_)};
                callMethod(*object_, dispid::Pause, arg);
            } else if (key == 'c' || key == 'C') {
                requestCancel();
            }
        }
        listener_->tick();
    }

    void requestCancel() {
        // The request stands until the run ends: a resume's own probe honours a cancel and then
        // goes on with its range, so a cancel that was used up is made again.
        if (cancelRequested_ && getProperty(*object_, dispid::ccancel).toBool() != VFalse) return;
        cancelRequested_ = true;
        // A paused loop looks at the cancel only once the pause is lifted: lift it.
        if (paused_) {
            paused_ = false;
            Variant arg[1] = {vbool(false)};
            callMethod(*object_, dispid::Pause, arg);
        }
        callMethod(*object_, dispid::Cancel);
    }

    std::string failureText() const {
        const auto& code = listener_->lastCode();
        if (!code) return "the download did not complete: " + listener_->lastStatus();
        const std::string& text =
            listener_->lastError().empty() ? listener_->lastStatus() : listener_->lastError();
        return "DLECode " + std::to_string(*code) + ": " + text;
    }

    std::string failureLine() const { return "carvo-get: " + failureText() + "\n"; }

    int report() {
        if (listener_->completed()) return kExitDone;
        printErr(failureLine());
        Dispatch& d = *object_;
        const std::string path = absolutePath(
            options_.resume ? getProperty(d, dispid::SaveLocation).toString() : host_.target());
        const auto& code = listener_->lastCode();
        // InDL stays True when a transfer loop opened the file and did not complete.
        if (getProperty(d, dispid::InDL).toBool() != VFalse) {
            printErr("carvo-get: the partial file stays at " + path + "; to resume it:\n  " +
                     resumeCommand(options_, path) + "\n");
        } else if (code == 7) {
            printErr(
                "carvo-get: this server cannot resume (it did not answer HTTP/1.1); fetch "
                "the file again without --resume\n");
        } else if (options_.resume && !code) {
            printErr("carvo-get: the server refused the byte range; the file at " + path +
                     " is unchanged (it may be complete already, or the server ignores ranges)\n");
        }
        return kExitFailed;
    }

    const Options& options_;
    std::shared_ptr<Listener> listener_;
    TerminalSession terminal_;
    CarvoGetHost host_;
    Site site_;
    std::shared_ptr<Dispatch> object_;
    bool paused_ = false;
    bool cancelRequested_ = false;
    StagedFile* staged_ = nullptr;
    bool sizeExceeded_ = false;
    std::int64_t overrunAt_ = 0;
};

}  // namespace

int runSession(const Options& options) {
    Session session(options);
    return session.run();
}

}  // namespace carvo::cli
