#pragma once
// A command line as it would be typed again into a shell, for the messages that tell a user
// how to run a tool as root.

#include <string>
#include <string_view>

namespace carvo {

// program followed by argv[1..argc-1]; a word with blanks or shell characters in single quotes.
inline std::string shellWords(std::string_view program, int argc, char** argv) {
    std::string out(program);
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        out += ' ';
        if (!arg.empty() &&
            arg.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                  "0123456789-_./=:,+@%") == std::string_view::npos) {
            out += arg;
            continue;
        }
        out += '\'';
        for (char c : arg) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
        out += '\'';
    }
    return out;
}

}  // namespace carvo
