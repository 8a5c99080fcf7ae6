#pragma once
// Whole files, read and written safely: the one reader of every stored file (property bags and
// form files, profile files, the registry store) and the one atomic writer. Each of those
// formats depends on this file, none on another's.

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>

#include <carvo/CarvoExport.h>

namespace carvo {

// Writes a file atomically: a temporary file of an unguessable name beside it, created new
// (never through a link), flushed, then renamed over it.
CARVO_API void writeFileAtomically(const std::filesystem::path& path, std::string_view content);
// Reads a whole regular file; throws std::system_error when it cannot (ENOENT when it is
// missing), when the path names a FIFO, a device, a folder or anything else that is not a
// regular file (never waiting on one), or when it holds more than maxBytes (EFBIG).
CARVO_API std::string readRegularFile(const std::filesystem::path& path,
                                      std::size_t maxBytes = std::size_t(-1));

}  // namespace carvo
