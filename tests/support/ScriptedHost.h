#pragma once
// A host for tests: records every call, answers dialogs from a script, runs actions on given
// yields ("press Cancel on the third yield"), and has a clock the test moves by hand.

#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "host/HostServices.h"

namespace carvo::test {

class ScriptedHost : public HostServices {
public:
    struct Call {
        std::string kind;  // "yield", "messageBox", "inputBox"
        std::string text;
        int style = 0;
        std::string title;
        std::string defaultText;
    };

    void yield() override;
    MsgBoxResult messageBox(std::string_view text, int style, std::string_view title) override;
    std::string inputBox(std::string_view prompt, std::string_view title,
                         std::string_view defaultText) override;
    bool canAsk() const override { return canAsk_; }
    double monotonicSeconds() override;

    // Answers, consumed in order; a dialog without a scripted answer fails the test.
    void answerBox(MsgBoxResult r) { boxAnswers_.push_back(r); }
    void answerInput(std::string s) { inputAnswers_.push_back(std::move(s)); }
    // Runs action on the n-th yield (1-based).
    void onYield(int n, std::function<void()> action) { yieldActions_[n] = std::move(action); }
    // Runs action on every yield.
    void everyYield(std::function<void()> action) { everyYield_ = std::move(action); }
    void setCanAsk(bool b) { canAsk_ = b; }

    // The clock: fixed unless advanced, or advanced automatically on every read.
    void setClock(double seconds) { clock_ = seconds; }
    void advanceClock(double seconds) { clock_ += seconds; }
    void setClockStep(double step) { clockStep_ = step; }
    // A real monotonic clock instead of the scripted one.
    void useRealClock(bool b) { realClock_ = b; }

    int yieldCount() const { return yields_; }
    const std::vector<Call>& calls() const { return calls_; }
    std::vector<Call> dialogs() const;

private:
    std::deque<MsgBoxResult> boxAnswers_;
    std::deque<std::string> inputAnswers_;
    std::map<int, std::function<void()>> yieldActions_;
    std::function<void()> everyYield_;
    std::vector<Call> calls_;
    int yields_ = 0;
    bool canAsk_ = true;
    bool realClock_ = false;
    double clock_ = 1000.0;
    double clockStep_ = 0;
};

}  // namespace carvo::test
