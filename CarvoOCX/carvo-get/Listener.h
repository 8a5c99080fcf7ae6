#pragma once
// How carvo-get hears the control: what its events said (the last code, error and status, the
// position), and how they are shown: one line per event (--trace), a progress line redrawn in
// place (a terminal), or each new status sentence on its own line (a pipe or file).

#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <iterator>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "Formatting.h"
#include "Progress.h"
#include "Terminal.h"
#include "TypeLib.h"
#include "automation/Events.h"
#include "automation/Variant.h"

namespace carvo::cli {

using SteadyClock = std::chrono::steady_clock;

inline void printErr(const std::string& text) {
    std::fputs(text.c_str(), stderr);
    std::fflush(stderr);
}

class Listener : public EventSink {
  public:
    enum class Display { Trace, ProgressLine, StatusLines };

    explicit Listener(Display display) : display_(display) {
        for (DispId id = 1; id < static_cast<DispId>(std::size(names_)); ++id) {
            const MemberInfo* m = downLoadEventInterface().find(id, MemberKind::Method);
            names_[id] = m ? m->name : std::string_view("?");
        }
    }

    void onEvent(DispId id, std::span<Variant> args) override {
        if (display_ == Display::Trace) trace(id, args);
        if (args.empty()) {
            if (id == eventid::DLComplete) completed_ = true;
            return;
        }
        switch (id) {
            case eventid::DLComplete:
                completed_ = true;
                break;
            case eventid::DLError:
                assignText(lastError_, args[0]);
                break;
            case eventid::DLECode:
                lastCode_ = args[0].toLong();
                completed_ = false;
                break;
            case eventid::RecievedBytes:
                state_.received = args[0].toLong();
                if (onReceived) onReceived(state_.received);
                break;
            case eventid::Percent:
                state_.percent = args[0].toLong();
                break;
            case eventid::Rate:
                assignText(controlRate_, args[0]);
                break;
            case eventid::TimeLeft:
                assignText(state_.timeLeft, args[0]);
                break;
            case eventid::StatusChange:
            case eventid::ConnectionState:
                status(args[0]);
                break;
            default:
                break;
        }
    }

    // Forgets how the last call ended, before the next one.
    void reset() {
        completed_ = false;
        lastCode_.reset();
        lastError_.clear();
    }
    // Told every position the control reports.
    std::function<void(std::int64_t)> onReceived;

    void setFileSize(std::int64_t size) { state_.fileSize = size; }
    // Redraws the progress line when the last drawing is old enough.
    void tick() {
        if (display_ == Display::ProgressLine && SteadyClock::now() - lastDraw_ >= kRedraw) draw();
    }
    // Ends the progress line, so that what follows starts on a line of its own.
    void breakLine() {
        if (lineOpen_) {
            draw();
            printErr("\n");
            lineOpen_ = false;
        }
    }
    void finish() {
        breakLine();
        std::fflush(stdout);
    }

    bool completed() const { return completed_; }
    const std::optional<std::int32_t>& lastCode() const { return lastCode_; }
    const std::string& lastError() const { return lastError_; }
    const std::string& lastStatus() const { return lastStatus_; }

  private:
    static constexpr auto kRedraw = std::chrono::milliseconds(100);

    void trace(DispId id, std::span<Variant> args) {
        const std::string_view name =
            id > 0 && id < static_cast<DispId>(std::size(names_)) ? names_[id] : "?";
        std::fwrite(name.data(), 1, name.size(), stdout);
        for (const Variant& a : args) {
            std::fputc('\t', stdout);
            if (a.type() == VarType::String) {
                std::fwrite(a.str().data(), 1, a.str().size(), stdout);
            } else {
                const std::string text = a.toString();
                std::fwrite(text.data(), 1, text.size(), stdout);
            }
        }
        std::fputc('\n', stdout);
    }

    // Every pass raises several texts: take them without a copy when they are text already.
    static void assignText(std::string& to, const Variant& v) {
        if (v.type() == VarType::String)
            to.assign(v.str());
        else
            to = v.toString();
    }

    void status(const Variant& v) {
        // Every pass repeats its sentence: only a new one is worth showing at once.
        if (v.type() == VarType::String ? v.str() == lastStatus_ : v.toString() == lastStatus_) {
            if (display_ == Display::ProgressLine && (++passes_ & 63) == 0) tick();
            return;
        }
        assignText(lastStatus_, v);
        state_.status = lastStatus_;
        if (display_ == Display::ProgressLine)
            draw();
        else if (display_ == Display::StatusLines)
            printErr(lastStatus_ + "\n");
    }

    void draw() {
        const auto now = SteadyClock::now();
        // The control's rate has no unit above Kb/s and is empty beyond: measure our own then.
        if (!controlRate_.empty()) {
            state_.rate = controlRate_;
        } else if (now - rateSampleTime_ >= std::chrono::milliseconds(500)) {
            const double seconds = std::chrono::duration<double>(now - rateSampleTime_).count();
            if (rateSampleTime_ != SteadyClock::time_point{} && state_.received >= rateSampleBytes_)
                state_.rate = formatByteRate(
                    static_cast<double>(state_.received - rateSampleBytes_) / seconds);
            rateSampleTime_ = now;
            rateSampleBytes_ = state_.received;
        }
        const std::size_t width = static_cast<std::size_t>(TerminalSession::columns(STDERR_FILENO));
        // Back to the start of the line, the line, then clear what an older, longer one left.
        std::string line = "\r";
        line += renderProgress(state_, width > 1 ? width - 1 : 1);
        line += "\x1b[K";
        printErr(line);
        lineOpen_ = true;
        lastDraw_ = now;
    }

    Display display_;
    std::string_view names_[10] = {};
    ProgressState state_;
    std::string controlRate_;
    bool completed_ = false;
    std::optional<std::int32_t> lastCode_;
    std::string lastError_, lastStatus_;
    bool lineOpen_ = false;
    unsigned passes_ = 0;
    SteadyClock::time_point lastDraw_{}, rateSampleTime_{};
    std::int64_t rateSampleBytes_ = 0;
};

}  // namespace carvo::cli
