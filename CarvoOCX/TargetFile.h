#pragma once
// The local file a transfer writes. Its path is looked up once: the file is opened without
// following a link at its last component, non-blocking until fstat says it is a regular file,
// and from then on measured, written and checked through that one descriptor. Writes go
// through a buffer at an explicit position. Every way of closing it writes the buffer out and
// cuts the file at the end of what this run wrote, so a file that stops early is a clean prefix
// of the new body; closing reports write errors, so a failed flush never passes for success.

#include <sys/types.h>

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "automation/ComError.h"

namespace carvo {

class TargetFile {
  public:
    enum class Mode {
        Create,    // a missing file is created; an existing one is opened as it is
        New,       // the file is created here: whatever appeared at the name meanwhile is refused
        Existing,  // the file must exist (a partial file to resume)
    };
    // Thrown in Existing mode when nothing is at the path.
    struct Missing : ComError {
        using ComError::ComError;
    };

    // Opens path for writing; throws ComError when it cannot, or when the path names a link,
    // a FIFO, a device, a socket or a folder (nothing is written to any of those).
    TargetFile(const std::string& path, Mode mode);
    // Closes as close() does, reporting nothing: the error paths use this.
    ~TargetFile();
    TargetFile(const TargetFile&) = delete;
    TargetFile& operator=(const TargetFile&) = delete;

    // The file's length now, read through the descriptor.
    std::int64_t length() const;
    // Writing starts at position; from here on, closing cuts the file where the writing ended.
    void start(std::int64_t position);
    void write(std::span<const std::uint8_t> bytes);
    // Hands what is buffered to the system, so it survives the process.
    void flush();
    // Writes out, cuts, checks that the path still names this very file at that length, and
    // closes; throws when anything of that fails.
    void finish();
    // Writes out, cuts and closes (a cancel or a failure keeps the partial file for a resume).
    void close();
    bool isOpen() const { return fd_ >= 0; }

  private:
    // Writes all of bytes at the write position, which moves past them.
    void writeAt(std::span<const std::uint8_t> bytes);
    void cut();

    int fd_ = -1;
    bool started_ = false;
    std::int64_t flushedTo_ = 0;  // file position of the first buffered byte
    std::vector<std::uint8_t> buffer_;
    std::string path_;
    dev_t device_ = 0;
    ino_t inode_ = 0;
};

// True when path names an existing regular file, through a link too (what a directory search
// for the path finds).
bool regularFileExists(const std::string& path);

}  // namespace carvo
