#pragma once
// A stand-in for the system registry: one machine-wide text file in the registry-export format.
//
//   Windows Registry Editor Version 5.00
//
//   [HKEY_LOCAL_MACHINE\Software\Parvix 2002\Version]
//   @="default value"
//   "Version"="2.0"
//   "Count"=dword:0000002a
//   "Path"=hex(2):25,00,41,00,00,00
//   "Blob"=hex:01,02,03
//
// The file is UTF-8 (a UTF-8 or UTF-16LE byte-order mark is accepted on reading). Quoted text
// escapes only \\ and \". hex(1), hex(2) and hex(7) hold UTF-16LE bytes, as exports always have;
// in memory, text-typed values (Sz, ExpandSz, MultiSz) are UTF-8 bytes with their NUL
// terminators, which is what a program reading the registry through narrow calls receives
// (bytes of such a value that are not UTF-8 are written to the file as U+FFFD).
// Key paths start with the root's full name and are compared without regard to case (ASCII and
// Latin-1 letters). Lines the format does not know are skipped, never fatal.
//
// Readers open the file read-only, so a store the user may not write still reads. Writers take
// an exclusive lock on a lock file beside the store, re-read it under the lock, and replace it
// atomically (temporary file and rename), so two writers at once lose nothing and a reader
// never sees a half-written file.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace carvo {

enum class RegType : std::uint32_t {
    None = 0,
    Sz = 1,
    ExpandSz = 2,
    Binary = 3,
    Dword = 4,
    MultiSz = 7,
};

// The platform's status codes, as the registry calls return them.
namespace regerr {
inline constexpr std::int32_t Success = 0;
inline constexpr std::int32_t FileNotFound = 2;
inline constexpr std::int32_t AccessDenied = 5;
inline constexpr std::int32_t InvalidHandle = 6;
inline constexpr std::int32_t MoreData = 234;
inline constexpr std::int32_t CantRead = 1012;
}  // namespace regerr

// Predefined roots by their handle values; "" for a handle that is not a root.
inline constexpr std::uint32_t HKeyClassesRoot = 0x80000000;
inline constexpr std::uint32_t HKeyCurrentUser = 0x80000001;
inline constexpr std::uint32_t HKeyLocalMachine = 0x80000002;
inline constexpr std::uint32_t HKeyUsers = 0x80000003;
std::string_view rootName(std::uint32_t root);

struct RegValue {
    RegType type = RegType::None;
    std::vector<std::uint8_t> data;  // raw bytes; text types as UTF-8 with NUL terminators

    static RegValue sz(std::string_view text);        // adds the terminating NUL
    static RegValue expandSz(std::string_view text);  // adds the terminating NUL
    static RegValue multiSz(const std::vector<std::string>& items);
    static RegValue dword(std::uint32_t n);
    static RegValue binary(std::vector<std::uint8_t> bytes);

    bool operator==(const RegValue&) const = default;
};

// Keys and their values in memory. Key paths and value names are kept in the case first seen;
// lookups ignore case. "" names the default value (@).
class RegistryData {
public:
    struct Key {
        std::string path;
        std::vector<std::pair<std::string, RegValue>> values;
    };

    static RegistryData parse(std::string_view text);
    std::string serialize() const;

    // nullptr when the key or the value is absent.
    const RegValue* find(std::string_view keyPath, std::string_view valueName) const;
    const Key* findKey(std::string_view keyPath) const;
    // True for a listed key and for a parent implied by a listed sub-key.
    bool keyExists(std::string_view keyPath) const;

    // Creates the key and its missing parents. Throws std::invalid_argument for a path that is
    // empty or holds a line break or NUL.
    Key& createKey(std::string_view keyPath);
    // Creates the key as needed; replaces a value of the same name. Throws
    // std::invalid_argument for a name holding a line break or NUL.
    void setValue(std::string_view keyPath, std::string_view valueName, RegValue value);
    // Return whether something was removed. deleteKey removes the sub-keys too.
    bool deleteValue(std::string_view keyPath, std::string_view valueName);
    bool deleteKey(std::string_view keyPath);

    // Keys in tree order (a parent before its sub-keys).
    std::vector<const Key*> keys() const;
    bool empty() const { return keys_.empty(); }

private:
    Key* findKeyMutable(std::string_view keyPath);
    std::map<std::string, Key> keys_;  // by folded, normalised path
};

class RegistryStore;

// An opened key: a snapshot of its values taken when it was opened. A default-constructed or
// failed key is the invalid handle; querying it gives regerr::InvalidHandle.
class RegKey {
public:
    RegKey() = default;

    bool valid() const { return values_.has_value(); }
    // Why the open failed (regerr::FileNotFound for a missing key), Success when valid.
    std::int32_t openStatus() const { return openStatus_; }

    // Success and the value; FileNotFound for a missing value; InvalidHandle.
    std::int32_t queryValue(std::string_view valueName, RegValue& out) const;

private:
    friend class RegistryStore;
    std::optional<std::vector<std::pair<std::string, RegValue>>> values_;
    std::int32_t openStatus_ = regerr::InvalidHandle;
};

class RegistryStore {
public:
    explicit RegistryStore(std::filesystem::path file);
    const std::filesystem::path& file() const { return file_; }

    // Reading needs only read permission; a missing file is an empty registry. Never throws:
    // an unreadable store opens nothing (status AccessDenied or CantRead).
    RegKey openKey(std::string_view keyPath) const;
    std::optional<RegValue> read(std::string_view keyPath, std::string_view valueName) const;
    bool keyExists(std::string_view keyPath) const;
    // The whole store; throws std::system_error when the file exists but cannot be read.
    RegistryData load() const;

    // One locked read-modify-write. The function may throw; nothing is written then. The file
    // is replaced only when its content changes. Throws std::system_error on I/O failure.
    void update(const std::function<void(RegistryData&)>& change);
    void setValue(std::string_view keyPath, std::string_view valueName, RegValue value);
    void deleteValue(std::string_view keyPath, std::string_view valueName);
    void deleteKey(std::string_view keyPath);

private:
    std::filesystem::path file_;
};

// The machine-wide store, fixed when the program is built.
std::filesystem::path defaultRegistryPath();

}  // namespace carvo
