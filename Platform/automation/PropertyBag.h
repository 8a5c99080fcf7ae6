#pragma once
// Persistence of a control's properties. A bag reads a key with a default and writes a key
// with a default, leaving out a value equal to its default. TextPropertyBag keeps the entries
// in a text file, exactly round-tripping any text (quotes, line breaks, non-ASCII).

#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include <carvo/CarvoExport.h>
#include <carvo/automation/Variant.h>
// The whole-file reader and the atomic writer the bags use; hosts have long found them here.
#include <carvo/file/RegularFile.h>

namespace carvo {

class CARVO_API PropertyBag {
public:
    virtual ~PropertyBag() = default;
    virtual Variant read(std::string_view key, const Variant& defaultValue) = 0;
    virtual void write(std::string_view key, const Variant& value, const Variant& defaultValue) = 0;
};

// True when two values are the same for persistence: equal numbers of any numeric type,
// equal texts, equal booleans.
CARVO_API bool sameValue(const Variant& a, const Variant& b);

class CARVO_API TextPropertyBag : public PropertyBag {
public:
    TextPropertyBag() = default;

    Variant read(std::string_view key, const Variant& defaultValue) override;
    void write(std::string_view key, const Variant& value, const Variant& defaultValue) override;

    // Entries in the order first written (or read from the file).
    const std::vector<std::pair<std::string, Variant>>& entries() const { return entries_; }
    void set(std::string_view key, Variant value);
    bool contains(std::string_view key) const;
    void clear() {
        entries_.clear();
        index_.clear();
    }

    // One entry a line: Key = Type Value. A key that would not read back bare (empty, starting
    // with "#" or a quote, holding " =", blanks at its ends, control characters) is written as
    // a quoted text. Lines this format does not know are skipped.
    std::string serialize() const;
    static TextPropertyBag parse(std::string_view text);

    // Load throws std::runtime_error when the file cannot be read; save replaces the file
    // atomically.
    static TextPropertyBag loadFile(const std::filesystem::path& path);
    void saveFile(const std::filesystem::path& path) const;

private:
    std::vector<std::pair<std::string, Variant>> entries_;
    std::unordered_map<std::string, std::size_t> index_;  // key -> its place in entries_
};

// Text escapes used by the bag format (also usable by form files holding several bags).
CARVO_API std::string quoteText(std::string_view text);
// Reads a quoted text starting at pos (at the opening quote); advances pos past the closing
// quote. Returns false on malformed input.
CARVO_API bool unquoteText(std::string_view line, std::size_t& pos, std::string& out);

}  // namespace carvo
