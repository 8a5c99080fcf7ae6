#include "PartialDownload.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <exception>

#include "file/RegularFile.h"
#include "mdlRegistry.h"
#include "win/UniqueFd.h"

namespace veltrup {

namespace {

// A record is three short lines; anything larger is not one of ours.
constexpr std::size_t kRecordLimit = 4096;

// The record's text: a regular file opened without following a link, read whole through that
// descriptor; nullopt for anything else or anything larger than a record.
std::optional<std::string> readRecord(const std::string& path) {
    const carvo::UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
    struct stat st {};
    if (fd.get() < 0 || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < 0 ||
        static_cast<std::size_t>(st.st_size) > kRecordLimit)
        return std::nullopt;
    std::string text(kRecordLimit + 1, '\0');
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::read(fd.get(), text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return std::nullopt;
        if (n == 0) break;
        done += static_cast<std::size_t>(n);
    }
    if (done > kRecordLimit) return std::nullopt;  // grew while read
    text.resize(done);
    return text;
}

}  // namespace

std::string recordPathOf(const std::string& partial) { return partial + ".ini"; }

std::string statementOf(const std::string& versionFile) {
    return ReadProfileString("MAIN", "StatementSignature", "", versionFile) + "\n" +
           ReadProfileString("MAIN", "StatementSignature2", "", versionFile) + "\n";
}

std::optional<std::int64_t> regularFileLength(const std::string& path) {
    const carvo::UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
    struct stat st {};
    if (fd.get() < 0 || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    return static_cast<std::int64_t>(st.st_size);
}

void keepPartialRecord(const std::string& partial, const std::string& statement) {
    const std::string record = recordPathOf(partial);
    const auto length = regularFileLength(partial);
    try {
        if (length && *length > 0) {
            carvo::writeFileAtomically(record, std::to_string(*length) + "\n" + statement);
            return;
        }
    } catch (const std::exception&) {
        // Without a record the next run starts over, which is safe.
    }
    ::unlink(record.c_str());
}

bool partialMatchesRecord(const std::string& partial, const std::string& statement) {
    const auto read = readRecord(recordPathOf(partial));
    if (!read) return false;
    const std::string& text = *read;
    const auto newline = text.find('\n');
    if (newline == std::string::npos || newline == 0) return false;
    std::int64_t recorded = 0;
    const char* first = text.data();
    const char* last = text.data() + newline;
    const auto [end, ec] = std::from_chars(first, last, recorded);
    if (ec != std::errc() || end != last || *first == '-') return false;
    // An unsigned version file has nothing to bind the partial file to.
    if (statement == "\n\n" || text.substr(newline + 1) != statement) return false;
    const auto length = regularFileLength(partial);
    return length && *length == recorded && recorded > 0;
}

void discardPartialAndRecord(const std::string& partial) {
    ::unlink(partial.c_str());
    ::unlink(recordPathOf(partial).c_str());
}

}  // namespace veltrup
