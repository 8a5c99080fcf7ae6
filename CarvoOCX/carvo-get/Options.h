#pragma once
// carvo-get's command line: what the user asked for, the help text, and the command line that
// resumes a broken download.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace carvo::cli {

// Largest --chunk accepted: the control asks its transfer component for this many bytes at a
// time, and a larger piece buys no speed while it costs memory.
inline constexpr std::int32_t kMaxChunk = 64 * 1024 * 1024;

struct Options {
    std::string url;
    std::vector<std::string> mirrors;   // further addresses of the same file, tried in order
    std::optional<std::string> sha256;  // 64 lowercase hex digits the finished file must hash to
    std::optional<std::int32_t> size;   // bytes the finished file must have
    std::optional<std::string> saveLocation;  // default: the control's FileName, here
    std::optional<std::int32_t> chunk;        // CHUNK; the control's own default otherwise
    std::optional<std::int32_t> rollback;     // ROLLBACK, with --resume only
    bool keepType = false;
    bool onlineCheck = false;
    bool promptOverwrite = false;
    bool info = false;
    bool trace = false;
    bool resume = false;

    // Every address, the first one first.
    std::vector<std::string> urls() const;
    // Several addresses or a check: the download goes to a staged file beside the target and
    // replaces it only once complete and checked.
    bool staged() const { return !mirrors.empty() || sha256 || size; }
};

struct ParseResult {
    enum class Kind { Run, Help, Version, UsageError };
    Kind kind = Kind::UsageError;
    Options options;
    std::string error;  // for UsageError: one sentence, no program name
};

// args are the arguments after the program name.
ParseResult parseCommandLine(std::span<const std::string_view> args);

std::string helpText();
std::string usageLine();
// "carvo-get (Carvo) 1.0.0.0"
std::string versionLine();

// The text quoted for a POSIX shell (left alone when it needs no quoting).
std::string shellQuote(std::string_view text);

// The carvo-get command line that resumes the download of `options` into the file at `path`.
std::string resumeCommand(const Options& options, std::string_view path);

}  // namespace carvo::cli
