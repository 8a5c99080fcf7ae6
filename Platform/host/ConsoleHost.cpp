#include "host/ConsoleHost.h"

#include <unistd.h>

#include <chrono>
#include <string>

namespace carvo {

double steadySeconds() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

ConsoleHost::ConsoleHost(std::FILE* in, std::FILE* out)
    : in_(in), out_(out), interactive_(in != nullptr && ::isatty(::fileno(in)) != 0) {}

void ConsoleHost::yield() {
    if (hook_) hook_();
}

bool ConsoleHost::canAsk() const { return interactive_; }

double ConsoleHost::monotonicSeconds() { return steadySeconds(); }

std::string ConsoleHost::readLine() {
    std::string line;
    if (!in_) return line;
    int c;
    while ((c = std::fgetc(in_)) != EOF && c != '\n') line.push_back(static_cast<char>(c));
    if (!line.empty() && line.back() == '\r') line.pop_back();
    // Once the input has ended nobody can answer any more: callers take the safe choice
    // instead of asking again and again.
    if (c == EOF) interactive_ = false;
    return line;
}

MsgBoxResult ConsoleHost::messageBox(std::string_view text, int style, std::string_view title) {
    const int buttons = style & mb::ButtonMask;
    std::fprintf(out_, "\n[%.*s] %.*s\n", static_cast<int>(title.size()), title.data(),
                 static_cast<int>(text.size()), text.data());
    if (buttons != mb::YesNo) {
        if (interactive_) {
            std::fprintf(out_, "(Enter) ");
            std::fflush(out_);
            readLine();
        }
        return MsgBoxResult::Ok;
    }
    if (!interactive_) return MsgBoxResult::No;
    for (;;) {
        std::fprintf(out_, "[s/n] ");
        std::fflush(out_);
        std::string a = readLine();
        if (a == "s" || a == "S" || a == "y" || a == "Y" || a == "sim") return MsgBoxResult::Yes;
        if (a == "n" || a == "N" || a == "não" || a == "nao") return MsgBoxResult::No;
        if (!interactive_) return MsgBoxResult::No;
    }
}

std::string ConsoleHost::inputBox(std::string_view prompt, std::string_view title,
                                  std::string_view defaultText) {
    if (!interactive_) return {};
    std::fprintf(out_, "\n[%.*s] %.*s\n[%.*s]: ", static_cast<int>(title.size()), title.data(),
                 static_cast<int>(prompt.size()), prompt.data(),
                 static_cast<int>(defaultText.size()), defaultText.data());
    std::fflush(out_);
    std::string a = readLine();
    // An empty line takes the default, as pressing Enter in an input box does.
    if (a.empty() && !std::feof(in_)) return std::string(defaultText);
    return a;
}

}  // namespace carvo
