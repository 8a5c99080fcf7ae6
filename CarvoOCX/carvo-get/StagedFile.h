#pragma once
// The file a checked download is written to: a hidden file beside the target, made with
// O_EXCL under a name nobody can guess, measured and hashed through one descriptor, and renamed
// over the target only when it checks out. Until then the user's own file at the target stays
// as it was; a staged file that is not kept is removed.

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>

namespace carvo::cli {

class StagedFile {
  public:
    struct Error : std::runtime_error {
        using std::runtime_error::runtime_error;
    };

    // Reserves a fresh name in the target's folder. Throws Error when the folder cannot be
    // opened or written, or when something other than a regular file sits at the target.
    explicit StagedFile(const std::string& target);
    ~StagedFile();  // removes the staged file unless it was committed
    StagedFile(const StagedFile&) = delete;
    StagedFile& operator=(const StagedFile&) = delete;

    // The staged file's path, for the control's SaveLocation.
    const std::string& path() const { return path_; }
    // Its length now (0 when missing or not a regular file).
    std::int64_t length() const;

    // Fills the staged file with a copy of the target as it is (a partial file the user asks
    // to continue), so that the target itself is never written. Throws Error.
    void copyFromTarget();
    // Removes the staged file and reserves a new name (a copy that failed its check is gone
    // before the next address is tried).
    void restart();

    // Checks the staged file against the size and the SHA-256 (64 lowercase hex digits) given;
    // an empty optional when it passes, otherwise what was wrong, in words.
    // The descriptor it read stays open for commit().
    std::optional<std::string> check(std::optional<std::int64_t> size,
                                     const std::optional<std::string>& sha256);
    // Puts the file that check() read in place of the target, once it is on disk. Throws
    // Error (and leaves the target alone) when the name no longer holds that very file.
    void commit();
    // Removes the staged file now (also safe to call more than once).
    void discard() noexcept;

  private:
    void reserve();
    // Opens the staged file for reading, refusing anything but the regular file it should be.
    int openStaged(int flags) const;
    void refuseOddTarget() const;

    void closeChecked() noexcept;

    int dirFd_ = -1;
    int checkedFd_ = -1;
    std::string folder_, targetName_, stagedName_, path_;
    bool present_ = false;
};

}  // namespace carvo::cli
