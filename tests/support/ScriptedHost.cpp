#include "ScriptedHost.h"

#include <chrono>
#include <stdexcept>

namespace carvo::test {

void ScriptedHost::yield() {
    ++yields_;
    // Yields are counted but not recorded one by one: a fast transfer yields thousands of times.
    auto it = yieldActions_.find(yields_);
    if (it != yieldActions_.end()) {
        auto action = std::move(it->second);
        yieldActions_.erase(it);
        action();
    }
    if (everyYield_) everyYield_();
}

MsgBoxResult ScriptedHost::messageBox(std::string_view text, int style, std::string_view title) {
    calls_.push_back({"messageBox", std::string(text), style, std::string(title), {}});
    if (boxAnswers_.empty()) {
        if ((style & mb::ButtonMask) == mb::OkOnly) return MsgBoxResult::Ok;
        throw std::logic_error("unscripted message box: " + std::string(text));
    }
    MsgBoxResult r = boxAnswers_.front();
    boxAnswers_.pop_front();
    return r;
}

std::string ScriptedHost::inputBox(std::string_view prompt, std::string_view title,
                                   std::string_view defaultText) {
    calls_.push_back(
        {"inputBox", std::string(prompt), 0, std::string(title), std::string(defaultText)});
    if (inputAnswers_.empty()) throw std::logic_error("unscripted input box");
    std::string r = inputAnswers_.front();
    inputAnswers_.pop_front();
    return r;
}

double ScriptedHost::monotonicSeconds() {
    if (realClock_) {
        using namespace std::chrono;
        return duration<double>(steady_clock::now().time_since_epoch()).count();
    }
    double now = clock_;
    clock_ += clockStep_;
    return now;
}

std::vector<ScriptedHost::Call> ScriptedHost::dialogs() const { return calls_; }

}  // namespace carvo::test
