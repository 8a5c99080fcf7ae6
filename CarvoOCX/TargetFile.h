#pragma once
// The local file a transfer writes: opened without truncation, written through a buffer at
// an explicit position, and cut to the bytes this run wrote when it is finished. Closing
// reports write errors, so a failed flush never passes for a complete download.

#include <sys/types.h>

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace carvo {

class TargetFile {
public:
    // Opens (creating if needed) for writing at byte `position`; throws ComError on failure.
    TargetFile(const std::string& path, std::int64_t position);
    ~TargetFile();  // closes without reporting; the error paths use this
    TargetFile(const TargetFile&) = delete;
    TargetFile& operator=(const TargetFile&) = delete;

    void write(std::span<const std::uint8_t> bytes);
    // Writes what is buffered, cuts the file at the current position, and closes it.
    void finish();
    // Writes what is buffered and closes, leaving the length as it is (a cancel or failure
    // keeps the partial file for a later resume).
    void close();
    // Closes without writing what is buffered: those bytes belong to a response that is no
    // longer this file's.
    void abandon();
    bool isOpen() const { return fd_ >= 0; }

private:
    void flush();
    // Writes all of bytes at the current file position, which moves past them.
    void writeAt(std::span<const std::uint8_t> bytes);

    int fd_ = -1;
    std::int64_t flushedTo_;  // file position of the first buffered byte
    std::vector<std::uint8_t> buffer_;
    std::string path_;
};

// True when path names an existing regular file (what a directory search for the path finds).
bool regularFileExists(const std::string& path);
// The length of a file in bytes; throws ComError when it cannot be read.
std::int64_t fileLength(const std::string& path);

}  // namespace carvo
