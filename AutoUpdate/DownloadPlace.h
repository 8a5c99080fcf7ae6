#pragma once
// Where Veltrup keeps what it downloads (Update.ini, the installer and its hidden partial file).
// In the program folder, as always, when this process may write there: a product of the user's
// own, or Veltrup run as root. A product installed for the whole machine (/opt/parvix-2002,
// root's) cannot take them from an ordinary user; they then go to a folder of the user's own
// in the user's cache, one for each product:
//
//   $XDG_CACHE_HOME/veltrup/<product>/   or   ~/.cache/veltrup/<product>/
//
// <product> is the program folder's last name and 16 hex digits of the SHA-256 of its whole
// path ("parvix-2002-3f0c..."): readable, and two products in two folders never share one.
// The cache folder is trusted as the one-copy lock's folder is: veltrup/ and <product>/ are
// made with mode 0700, and used only when they are real folders (never links) of the user's
// own that nobody else may enter; the cache folder above them must be the user's (or root's)
// and writable by nobody else, since the downloads are written by name through it.

#include <sys/types.h>

#include <filesystem>
#include <optional>
#include <string>

namespace veltrup {

// The three texts of a failed step, for a folder that cannot be used.
struct FolderFailure {
    std::string title;
    std::string text;
    std::string advice;
};

struct DownloadPlace {
    std::string folder;                    // where the files go, without a trailing "/"
    bool inProgramFolder = true;           // false: the user's cache, and installing needs root
    std::optional<FolderFailure> failure;  // set when no folder can be used (folder names it)
};

// Stands for the cache folder in tests; empty: $XDG_CACHE_HOME when it is an absolute path,
// else $HOME/.cache, else the home the password database names, /.cache.
struct CachePlaces {
    std::optional<std::filesystem::path> cacheHome{};
};

// True when this process can make files in the folder: the kernel's own verdict for its
// effective ids (so a root-owned folder is writable when Veltrup runs as root, and no folder on
// a read-only mount is), confirmed by making an unnamed file there where the file system can.
bool canWriteIn(const std::string& folder);

// The product's name inside veltrup/ of the cache, from the program folder's path.
std::string productCacheName(const std::string& programFolder);

// Decides the place for the program folder and makes the cache folder when it is needed.
DownloadPlace chooseDownloadPlace(const std::string& programFolder, uid_t uid,
                                  const CachePlaces& places = {});

// The user's cache folder for the product, made when missing; failure set when it cannot be
// used.
DownloadPlace userCachePlace(const std::string& programFolder, uid_t uid,
                             const CachePlaces& places = {});

// The texts for a folder where the downloads cannot be written (a write failed there).
FolderFailure cannotWriteFailure(const std::string& folder);

}  // namespace veltrup
