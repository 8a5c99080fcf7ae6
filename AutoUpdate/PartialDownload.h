#pragma once
// The hidden partial file of a checked update and the record kept beside it, so that a later
// run of Veltrup goes on with a download that a closed window or an ending signal interrupted.
//
// The record is "<partial>.ini", three lines written atomically:
//   <length of the partial file, decimal>\n<StatementSignature>\n<StatementSignature2>\n
// the two signature lines being those of the version file the partial file was downloaded for.
// A later run continues the partial file only when the version file it has just checked carries
// the very same signatures (the same signed statement, so the same installer, size and hash)
// and the partial file is still exactly as long as recorded. Any mirror may then serve the
// rest: the signed hash decides at the end whether the joined file is the installer. The record
// holds no address: a new run starts at the version file's first one, as a retry does.

#include <cstdint>
#include <optional>
#include <string>

namespace veltrup {

// The signatures a record binds the partial file to, as the version file gives them.
std::string statementOf(const std::string& versionFile);

// The length of a regular file, opened without following a link; nullopt for anything else
// (missing, a link, a FIFO, a folder).
std::optional<std::int64_t> regularFileLength(const std::string& path);

// Writes the record of the partial file as it is now; without a partial file (or with something
// other than a regular file there) the record is removed instead. Never throws.
void keepPartialRecord(const std::string& partial, const std::string& statement);

// True when the record says the partial file belongs to this statement and the file still has
// the recorded length. A record that is missing, a link, oversize or malformed is no match.
bool partialMatchesRecord(const std::string& partial, const std::string& statement);

// Deletes the partial file (the name, never what a link points to) and its record.
void discardPartialAndRecord(const std::string& partial);

std::string recordPathOf(const std::string& partial);

}  // namespace veltrup
