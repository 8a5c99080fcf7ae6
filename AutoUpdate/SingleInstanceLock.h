#pragma once
// One copy of Veltrup at a time for each user and program file: the lock, and the user's
// private folder that holds it.

#include <sys/types.h>

#include <filesystem>
#include <optional>

namespace veltrup {

// Where a user's private files (the one-copy lock) live. Only the user's identity decides:
// the system's runtime folder of that user, or else a folder of the user's own in the shared
// temporary folder, or else one in the user's home as the password database names it. The
// roots are fixed; a test gives its own, and homeRoot stands for the home when set.
struct UserFolderPlaces {
    std::filesystem::path runtimeRoot{"/run/user"};
    std::filesystem::path tempRoot{"/tmp"};
    std::optional<std::filesystem::path> homeRoot{};
};

// Opens the user's private folder (read-only, close-on-exec) and returns its descriptor, or -1
// when none can be trusted; folder receives its path. The places, always in this order so that
// two copies started together agree: runtimeRoot/<uid> when it is a real folder (not a link)
// owned by uid that nobody else may enter; otherwise tempRoot/veltrup-<uid>; otherwise, when
// somebody else took that name, <home>/.veltrup, in a home only the user or the system may
// write. The last two are made with mode 0700 when missing, without following a link, and
// trusted on the same terms as the first. A folder someone else made or may write is never
// used, and never changed.
int openUserFolder(uid_t uid, std::filesystem::path& folder, const UserFolderPlaces& places = {});

// The user's home folder as the password database names it, whatever the environment says;
// empty when it names none.
std::filesystem::path homeOf(uid_t uid);

// Holds the one-copy lock of an executable for the life of this object. Two processes of the
// same program file and user share one lock file in the user's private folder, whatever their
// environment; the lock goes with the process, however it ends.
class SingleInstanceLock {
  public:
    explicit SingleInstanceLock(const std::filesystem::path& executable,
                                const UserFolderPlaces& places = {});
    ~SingleInstanceLock();
    SingleInstanceLock(const SingleInstanceLock&) = delete;
    SingleInstanceLock& operator=(const SingleInstanceLock&) = delete;
    // False only when another process holds it (a lock that cannot be had at all, as when not
    // even the home offers a private folder to trust, lets the program run: nothing then shows
    // another copy).
    bool acquired() const { return !heldElsewhere_; }
    // The lock file used for this executable; empty when no private folder can be trusted.
    static std::filesystem::path lockFileFor(const std::filesystem::path& executable,
                                             const UserFolderPlaces& places = {});

  private:
    int fd_ = -1;
    bool heldElsewhere_ = false;
};

}  // namespace veltrup
