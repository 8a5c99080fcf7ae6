#pragma once
// The hand-off to the installer: the installer taken once into a sealed copy of this process,
// checked there, and that very copy started.

#include <functional>
#include <string>

#include "UpdateVerifier.h"

namespace veltrup {

// An installer taken from its path once: opened without following a link, and its bytes copied
// as they were read into an anonymous, sealed file of this process that nobody else can reach
// or change. What is checked and what is started is this copy, so a file changed or replaced
// in the program folder after it was taken never runs.
class InstallerCopy {
  public:
    explicit InstallerCopy(const std::string& path);
    ~InstallerCopy();
    InstallerCopy(const InstallerCopy&) = delete;
    InstallerCopy& operator=(const InstallerCopy&) = delete;
    // "" when the copy was made, otherwise why not (for the failure box).
    const std::string& failure() const { return failure_; }
    // The copy, read-only; -1 when it was not made.
    int fd() const { return copy_; }
    // Starts the copy detached, without arguments, in workingFolder; the installer in the
    // program folder gets its owner's execute permission for a later start by hand. "" when it
    // started, otherwise the reason.
    std::string start(const std::string& workingFolder) const;

  private:
    std::string name_;
    std::string failure_;
    int source_ = -1;
    int copy_ = -1;
};

// Checks the bytes of an installer copy (read through the descriptor).
using InstallerCheck = std::function<VerifyResult(int fd)>;

// Takes the installer at path (InstallerCopy), runs check on the copy when one is given, and
// starts the copy detached in workingFolder. A refused installer is deleted and the refusal
// told as kVerifyFailureText. Returns "" when it started, otherwise the reason.
std::string startInstaller(const std::string& path, const std::string& workingFolder,
                           const InstallerCheck& check = {});

}  // namespace veltrup
