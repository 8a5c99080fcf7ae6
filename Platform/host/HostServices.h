#pragma once
// What a host gives a control or a window: a way to let its message loop run, modal dialogs,
// and a clock. The control talks to its host only through this interface, so a console host,
// a Qt host and a scripted test host all work with the same code.

#include <string>
#include <string_view>

#include <carvo/CarvoExport.h>

namespace carvo {

// Message box buttons and icons, combined with |, with the values the system has always used.
namespace mb {
inline constexpr int OkOnly = 0;
inline constexpr int YesNo = 4;
inline constexpr int Critical = 16;
inline constexpr int Question = 32;
inline constexpr int Exclamation = 48;
inline constexpr int Information = 64;
inline constexpr int DefaultButton1 = 0;
inline constexpr int ButtonMask = 0x0F;
inline constexpr int IconMask = 0xF0;
}  // namespace mb

enum class MsgBoxResult { Ok = 1, Cancel = 2, Yes = 6, No = 7 };

class CARVO_API HostServices {
public:
    virtual ~HostServices() = default;

    // Process pending user-interface work once and return (the message loop's yield).
    virtual void yield() = 0;
    // A modal box; blocks until the user answers.
    virtual MsgBoxResult messageBox(std::string_view text, int style, std::string_view title) = 0;
    // A modal input box; Cancel gives "".
    virtual std::string inputBox(std::string_view prompt, std::string_view title,
                                 std::string_view defaultText) = 0;
    // False when there is nobody to ask (no terminal, no window): callers must then take the
    // safe choice instead of showing a dialog.
    virtual bool canAsk() const { return true; }
    // Seconds on a monotonic clock; only differences are meaningful.
    virtual double monotonicSeconds() = 0;
};

}  // namespace carvo
