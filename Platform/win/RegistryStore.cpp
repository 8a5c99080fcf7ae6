// The store on disk: readers look at one key of the file, read whole and at most
// kMaxStoreBytes long; writers lock, re-read, change and replace the file atomically. The text
// format is RegFileFormat.cpp; the edits that keep every untouched line, RegistryData.cpp.

#include "win/RegistryStore.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <stdexcept>
#include <system_error>

#include "file/RegularFile.h"
#include "win/RegFileFormat.h"
#include "win/TextCodec.h"
#include "win/UniqueFd.h"

namespace carvo {

using namespace regfile;

namespace {

// A store bigger than this is refused rather than read into memory.
constexpr std::size_t kMaxStoreBytes = 64u * 1024 * 1024;

// Reads the whole store; nullopt when it is missing, std::system_error on any other failure
// (a FIFO in its place is refused, never waited on).
std::optional<std::string> readStoreFile(const std::filesystem::path& path) {
    try {
        return readRegularFile(path, kMaxStoreBytes);
    } catch (const std::system_error& e) {
        if (e.code() == std::errc::no_such_file_or_directory ||
            e.code() == std::errc::not_a_directory)
            return std::nullopt;
        throw;
    }
}

}  // namespace

// ---- RegKey

std::int32_t RegKey::queryValue(std::string_view valueName, RegValue& out) const {
    if (!values_) return regerr::InvalidHandle;
    std::string folded = foldCase(valueName);
    for (const auto& [name, value] : *values_) {
        if (foldCase(name) == folded) {
            out = value;
            return regerr::Success;
        }
    }
    return regerr::FileNotFound;
}

// ---- RegistryStore

RegistryStore::RegistryStore(std::filesystem::path file) : file_(std::move(file)) {}

RegistryData RegistryStore::load() const {
    auto text = readStoreFile(file_);
    return text ? RegistryData::parse(*text) : RegistryData();
}

// Readers look at one key only, so a large store costs one pass over its lines and the
// decoding of that key's values, not the building of the whole store in memory.
RegKey RegistryStore::openKey(std::string_view keyPath) const {
    RegKey key;
    std::optional<std::string> text;
    try {
        text = readStoreFile(file_);
    } catch (const std::system_error& e) {
        int err = e.code().value();
        key.openStatus_ = (err == EACCES || err == EPERM) ? regerr::AccessDenied : regerr::CantRead;
        return key;
    }
    KeyScan scan = text ? scanKey(*text, keyPath, true, nullptr) : KeyScan();
    if (!scan.exists) {
        key.openStatus_ = regerr::FileNotFound;
        return key;
    }
    // A parent implied by a listed sub-key opens with no values.
    key.values_ = std::move(scan.values);
    key.openStatus_ = regerr::Success;
    return key;
}

std::optional<RegValue> RegistryStore::read(std::string_view keyPath,
                                            std::string_view valueName) const {
    std::optional<std::string> text;
    try {
        text = readStoreFile(file_);
    } catch (const std::system_error&) {
        return std::nullopt;
    }
    if (!text) return std::nullopt;
    const std::string folded = foldCase(valueName);
    KeyScan scan = scanKey(*text, keyPath, true, &folded);
    if (scan.values.empty()) return std::nullopt;
    return std::move(scan.values.front().second);
}

bool RegistryStore::keyExists(std::string_view keyPath) const {
    try {
        auto text = readStoreFile(file_);
        return text && scanKey(*text, keyPath, false, nullptr).exists;
    } catch (const std::system_error&) {
        return false;
    }
}

void RegistryStore::update(const std::function<void(RegistryData&)>& change) {
    std::error_code ec;
    if (file_.has_parent_path() && !std::filesystem::exists(file_.parent_path(), ec)) {
        // Readable by every user, whatever the writer's umask.
        std::filesystem::create_directories(file_.parent_path(), ec);
        std::filesystem::permissions(file_.parent_path(), std::filesystem::perms(0755), ec);
    }

    std::filesystem::path lockPath = file_;
    lockPath += ".lock";
    // Never through a link: a privileged writer would create or lock whatever it points at.
    carvo::UniqueFd lock(
        ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644));
    if (lock.get() < 0)
        throw std::system_error(errno, std::generic_category(), "open " + lockPath.string());
    struct stat lockStat {};
    if (::fstat(lock.get(), &lockStat) != 0 || !S_ISREG(lockStat.st_mode))
        throw std::system_error(EINVAL, std::generic_category(), "not a file " + lockPath.string());
    while (::flock(lock.get(), LOCK_EX) != 0) {
        if (errno != EINTR)
            throw std::system_error(errno, std::generic_category(), "lock " + lockPath.string());
    }

    // Re-read under the lock, so a change another writer made just before is kept.
    auto original = readStoreFile(file_);
    RegistryData data = original ? RegistryData::parse(*original) : RegistryData();
    change(data);
    if (!original && data.empty()) return;
    std::string text = data.serialize();
    if (original && text == *original) return;
    writeFileAtomically(file_, text);
    // The lock goes with the descriptor.
}

void RegistryStore::setValue(std::string_view keyPath, std::string_view valueName, RegValue value) {
    update([&](RegistryData& d) { d.setValue(keyPath, valueName, std::move(value)); });
}

void RegistryStore::deleteValue(std::string_view keyPath, std::string_view valueName) {
    update([&](RegistryData& d) { d.deleteValue(keyPath, valueName); });
}

void RegistryStore::deleteKey(std::string_view keyPath) {
    update([&](RegistryData& d) { d.deleteKey(keyPath); });
}

std::filesystem::path defaultRegistryPath() { return CARVO_REGISTRY_PATH; }

}  // namespace carvo
