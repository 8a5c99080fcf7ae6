#pragma once
// Host services for a program on a terminal: dialogs become questions on the terminal, and
// there is no message loop to yield to beyond an optional callback.

#include <cstdio>
#include <functional>

#include <carvo/CarvoExport.h>
#include <carvo/host/HostServices.h>

namespace carvo {

class CARVO_API ConsoleHost : public HostServices {
public:
    // in/out default to the process's terminal; canAsk() is true only when in is a terminal.
    explicit ConsoleHost(std::FILE* in = stdin, std::FILE* out = stderr);

    void yield() override;
    MsgBoxResult messageBox(std::string_view text, int style, std::string_view title) override;
    std::string inputBox(std::string_view prompt, std::string_view title,
                         std::string_view defaultText) override;
    bool canAsk() const override;
    double monotonicSeconds() override;

    // Called on every yield (a console program polls its keyboard here).
    void setYieldHook(std::function<void()> hook) { hook_ = std::move(hook); }
    void setInteractive(bool interactive) { interactive_ = interactive; }

private:
    std::string readLine();

    std::FILE* in_;
    std::FILE* out_;
    bool interactive_;
    std::function<void()> hook_;
};

// Seconds on the process's monotonic clock.
CARVO_API double steadySeconds();

}  // namespace carvo
