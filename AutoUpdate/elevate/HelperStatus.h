#pragma once
// The exit statuses of veltrup-install-helper, shared by the helper and the window that reads
// them. 126 and 127 are pkexec's own (the password prompt dismissed; not authorized, or no
// agent to ask), so that the window can tell them apart.

namespace veltrup::helper {

enum Status : int {
    kStarted = 0,
    kUsage = 1,
    kNotRoot = 2,
    kUnsafeProduct = 3,  // the product folder, a folder above it, or links.ini
    kNotSigned = 4,      // links.ini holds no PublicKey
    kUnsafeStore = 5,    // the store, or the installed version in it
    kUserFile = 6,       // Update.ini or the installer as the user named them
    kRefused = 7,        // the installer's bytes do not match the signed statement
    kNotNewer = 8,       // the signed version is not newer than the installed one
    kCannotStart = 9,
    kStatementRefused = 10,    // the version file's statement: expired, another product, unsigned
    kNoInstalledVersion = 11,  // the store records no installed version to compare with
};

}  // namespace veltrup::helper
