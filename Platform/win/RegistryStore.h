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
// Latin-1 letters). Lines the format does not know are skipped, never fatal, and a write keeps
// them where they stand.
//
// Readers open the file read-only, so a store the user may not write still reads. Writers take
// an exclusive lock on a lock file beside the store, re-read it under the lock, and replace it
// atomically (temporary file and rename), so two writers at once lose nothing and a reader
// never sees a half-written file.
//
// Where the code is: the text format (value forms, key lines, encodings, the scan of lines) in
// RegFileFormat.cpp, RegistryData in RegistryData.cpp, RegKey and RegistryStore (the file, its
// lock and its replacement) in RegistryStore.cpp.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
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
//
// Data read from a file keeps that file's text: serialize() gives back every line that no edit
// touched, byte for byte and in place (comments, value forms and key lines this reader does not
// understand, other programs' keys). A changed value is rewritten on its own line, a new value
// goes at the end of its key's block, a new key at the end of the file, and a removed key or
// value takes only its own lines with it.
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
    // empty, holds a line break or NUL, or starts with "-" (the file would read it as a
    // request to delete the key).
    const Key& createKey(std::string_view keyPath);
    // Creates the key as needed; replaces a value of the same name. Throws
    // std::invalid_argument for a name holding a line break or NUL.
    void setValue(std::string_view keyPath, std::string_view valueName, RegValue value);
    // Return whether something was removed. deleteKey removes the sub-keys too.
    bool deleteValue(std::string_view keyPath, std::string_view valueName);
    bool deleteKey(std::string_view keyPath);
    // Removes the key only when it holds no value, no sub-key and no line of the file that this
    // reader does not understand (another program's data in a form it does not know).
    bool deleteEmptyKey(std::string_view keyPath);

    // Keys in tree order (a parent before its sub-keys).
    std::vector<const Key*> keys() const;
    bool empty() const { return keys_.empty(); }

private:
    static constexpr std::size_t kNone = static_cast<std::size_t>(-1);
    struct Slot {
        Key key;
        std::unordered_map<std::string, std::size_t> byName;  // folded name -> index in values
        std::vector<std::size_t> line;  // per value: its line in the text read, or kNone
        std::vector<bool> changed;      // per value: no longer what that line says
        bool inText = false;      // the key's blocks in the text read are still its own
        bool listed = false;      // written as a block of its own when not in the text
        std::size_t unknown = 0;  // lines of its blocks that this reader does not understand
        std::size_t insertAfter = kNone;  // new values go after this line
    };
    enum class LineKind : std::uint8_t { Kept, Blank, Key, Value, Unknown, Foreign };
    struct Line {
        std::size_t begin = 0;  // in text_, the line end included
        std::size_t end = 0;
        LineKind kind = LineKind::Kept;
        // A Value line: an earlier line of the same value that it overrides, or kNone.
        // A Key line: its folded path in keyLines_.
        std::size_t ref = kNone;
    };

    const Slot* findSlot(std::string_view keyPath) const;
    Slot* findSlot(std::string_view keyPath);
    // The key and its missing parents; new parents are listed when listParents is set.
    Slot& createSlot(std::string_view keyPath, bool listParents);

    std::map<std::string, Slot> keys_;  // by folded, normalised path
    std::string text_;                  // the text read, as UTF-8 without its byte-order mark
    std::string bom_;                   // the UTF-8 byte-order mark the file started with
    bool utf16_ = false;                // the file was UTF-16LE, and is written back so
    std::string eol_ = "\n";            // the line end of new lines: the file's own
    std::vector<Line> lines_;
    std::vector<std::string> keyLines_;
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
