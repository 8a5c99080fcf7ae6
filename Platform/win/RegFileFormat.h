#pragma once
// The registry store's text format, line by line: the key lines, the value forms (quoted text,
// dword, hex and hex(type) with their wrapped lines), the UTF-8 and UTF-16LE encodings, and the
// one pass over a file's lines that every reader makes. RegistryData (RegistryData.cpp) builds
// on it to edit a file in place; RegistryStore (RegistryStore.cpp) to read one key of the file
// on disk. Internal to the store: no header a host sees includes it.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "win/RegistryStore.h"

namespace carvo::regfile {

inline constexpr std::string_view kHeader = "Windows Registry Editor Version 5.00";

// Without the blanks (and a line's carriage return) at either end.
std::string_view trim(std::string_view s);
bool hasLineBreakOrNul(std::string_view s);
// Splits on backslashes, drops empty parts and spells the root out in full.
std::string normalisePath(std::string_view path);
// The end of a quoted text that starts just before pos: the position after its closing quote,
// or npos when there is none. The format has two escapes, \\ and \".
std::size_t skipQuoted(std::string_view s, std::size_t pos);
// A key line this reader understands: the normalised path, or "" for any other line.
std::string keyLinePath(std::string_view line);
// The file's text as UTF-8, without its byte-order mark. A UTF-16LE file is converted into
// `converted`; the mark of a UTF-8 file goes to `bom`.
std::string_view decode(std::string_view file, std::string& converted, bool& utf16,
                        std::string_view& bom);

enum class Seen : std::uint8_t { Blank, Comment, Key, Foreign, Entry, Other };

// One line as the reader sees it (a hex value wrapped over several lines counts as one).
struct ScannedLine {
    std::size_t begin = 0;  // the line end included
    std::size_t end = 0;
    Seen seen = Seen::Other;
    std::string path;       // Key: the normalised path
    std::string_view name;  // Entry: the quoted name, escapes still in, or "" for @
    bool quoted = false;    // Entry: name is a quoted one
    std::string_view form;  // Entry: what follows "=", valid during the call only
};

// Calls visit(const ScannedLine&) for every line of the text, in order. Reading a store is one
// pass over its lines; what a line means beyond its shape is the visitor's business, so that a
// reader after one key need not decode the others.
template <typename Visit>
void scanLines(std::string_view all, Visit&& visit) {
    auto lineEnd = [&](std::size_t begin) {
        std::size_t nl = all.find('\n', begin);
        return nl == std::string_view::npos ? all.size() : nl + 1;
    };
    auto content = [&](std::size_t begin, std::size_t end) {
        std::string_view s = all.substr(begin, end - begin);
        if (!s.empty() && s.back() == '\n') s.remove_suffix(1);
        return trim(s);
    };
    ScannedLine line;
    std::string joined;
    for (std::size_t begin = 0; begin < all.size();) {
        line.begin = begin;
        line.end = begin = lineEnd(begin);
        line.path.clear();
        line.name = line.form = {};
        line.quoted = false;
        const std::string_view t = content(line.begin, line.end);
        if (t.empty() || t.front() == ';') {
            line.seen = t.empty() ? Seen::Blank : Seen::Comment;
        } else if (t.front() == '[') {
            line.path = keyLinePath(t);
            line.seen = line.path.empty() ? Seen::Foreign : Seen::Key;
        } else {
            std::size_t pos = std::string_view::npos;
            if (t.front() == '@') {
                pos = 1;
            } else if (t.front() == '"') {
                pos = skipQuoted(t, 1);
                if (pos != std::string_view::npos) line.name = t.substr(1, pos - 2);
                line.quoted = true;
            }
            std::string_view rest;
            if (pos != std::string_view::npos) {
                rest = trim(t.substr(pos));
                if (!rest.empty() && rest.front() == '=')
                    rest = trim(rest.substr(1));
                else
                    pos = std::string_view::npos;
            }
            line.seen = pos == std::string_view::npos ? Seen::Other : Seen::Entry;
            // Hex values go on over lines that end in a backslash (never into the next key).
            if (line.seen == Seen::Entry && rest.starts_with("hex") && rest.back() == '\\') {
                joined = rest;
                while (!joined.empty() && joined.back() == '\\' && begin < all.size()) {
                    const std::size_t next = lineEnd(begin);
                    const std::string_view more = content(begin, next);
                    if (!more.empty() && more.front() == '[') break;
                    joined.pop_back();
                    joined += more;
                    line.end = begin = next;
                }
                rest = joined;
            }
            line.form = rest;
        }
        visit(line);
    }
}

// An entry's name and value, when this reader understands them.
bool readEntry(const ScannedLine& line, std::string& name, RegValue& value);
// One value written as its line (or lines, for a long hex value): name, "=" and its form.
void writeValue(std::string& out, std::string_view name, const RegValue& v);

// What a reader needs of one key, found in one pass that decodes no other key's values: whether
// the key exists (listed, or implied by a listed sub-key) and its values, or only the one named
// onlyName (folded) when that is given. The same reading as RegistryData::parse.
struct KeyScan {
    bool exists = false;
    std::vector<std::pair<std::string, RegValue>> values;
};

KeyScan scanKey(std::string_view file, std::string_view keyPath, bool wantValues,
                const std::string* onlyName);

}  // namespace carvo::regfile
