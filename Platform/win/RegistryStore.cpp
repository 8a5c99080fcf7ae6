#include "win/RegistryStore.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <stdexcept>
#include <system_error>

#include "automation/PropertyBag.h"
#include "win/TextCodec.h"
#include "win/UniqueFd.h"

namespace carvo {

namespace {

// A store bigger than this is refused rather than read into memory.
constexpr std::size_t kMaxStoreBytes = 64u * 1024 * 1024;
constexpr std::string_view kHeader = "Windows Registry Editor Version 5.00";
constexpr char kHexDigits[] = "0123456789abcdef";

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

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

bool hasLineBreakOrNul(std::string_view s) {
    return s.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

// Splits on backslashes, drops empty parts and spells the root out in full.
std::string normalisePath(std::string_view path) {
    std::string out;
    bool first = true;
    while (!path.empty()) {
        std::size_t cut = path.find('\\');
        std::string_view part = path.substr(0, cut);
        path = cut == std::string_view::npos ? std::string_view() : path.substr(cut + 1);
        if (part.empty()) continue;
        if (first) {
            std::string f = foldCase(part);
            if (f == "hklm") part = "HKEY_LOCAL_MACHINE";
            else if (f == "hkcu") part = "HKEY_CURRENT_USER";
            else if (f == "hkcr") part = "HKEY_CLASSES_ROOT";
            else if (f == "hku") part = "HKEY_USERS";
        } else {
            out += '\\';
        }
        out += part;
        first = false;
    }
    return out;
}

bool isTextType(RegType t) {
    return t == RegType::Sz || t == RegType::ExpandSz || t == RegType::MultiSz;
}

// The end of a quoted text that starts just before pos: the position after its closing quote,
// or npos when there is none. The format has two escapes, \\ and \".
std::size_t skipQuoted(std::string_view s, std::size_t pos) {
    while (pos < s.size()) {
        if (s[pos] == '"') return pos + 1;
        pos += s[pos] == '\\' && pos + 1 < s.size() && (s[pos + 1] == '\\' || s[pos + 1] == '"')
                   ? 2
                   : 1;
    }
    return std::string_view::npos;
}

// The text between the quotes, its escapes taken out.
std::string unescapeQuoted(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (std::size_t pos = 0; pos < s.size(); ++pos) {
        if (s[pos] == '\\' && pos + 1 < s.size() && (s[pos + 1] == '\\' || s[pos + 1] == '"'))
            ++pos;
        out += s[pos];
    }
    return out;
}

void writeQuoted(std::string& out, std::string_view s) {
    out += '"';
    for (char c : s) {
        if (c == '\\' || c == '"') out += '\\';
        out += c;
    }
    out += '"';
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// "01,02, ab" (possibly empty); false on anything else.
bool parseHexBytes(std::string_view s, std::vector<std::uint8_t>& out) {
    out.clear();
    s = trim(s);
    if (s.empty()) return true;
    while (true) {
        std::size_t cut = s.find(',');
        std::string_view tok = trim(s.substr(0, cut));
        if (tok.empty() || tok.size() > 2) return false;
        int v = 0;
        for (char c : tok) {
            int d = hexDigit(c);
            if (d < 0) return false;
            v = v * 16 + d;
        }
        out.push_back(static_cast<std::uint8_t>(v));
        if (cut == std::string_view::npos) return true;
        s = s.substr(cut + 1);
        // A trailing comma is tolerated.
        if (trim(s).empty()) return true;
    }
}

bool parseHexNumber(std::string_view s, std::uint32_t& out, std::size_t maxDigits) {
    if (s.empty() || s.size() > maxDigits) return false;
    std::uint32_t v = 0;
    for (char c : s) {
        int d = hexDigit(c);
        if (d < 0) return false;
        v = v * 16 + static_cast<std::uint32_t>(d);
    }
    out = v;
    return true;
}

// The value part after '='. False for a form this format does not know (the line is skipped).
bool parseValue(std::string_view form, RegValue& out) {
    form = trim(form);
    if (!form.empty() && form.front() == '"') {
        std::size_t end = skipQuoted(form, 1);
        if (end == std::string_view::npos || !trim(form.substr(end)).empty()) return false;
        out = RegValue::sz(unescapeQuoted(form.substr(1, end - 2)));
        return true;
    }
    if (form.starts_with("dword:")) {
        std::uint32_t n = 0;
        if (!parseHexNumber(trim(form.substr(6)), n, 8)) return false;
        out = RegValue::dword(n);
        return true;
    }
    std::uint32_t type = 0;
    std::string_view bytes;
    if (form.starts_with("hex:")) {
        type = static_cast<std::uint32_t>(RegType::Binary);
        bytes = form.substr(4);
    } else if (form.starts_with("hex(")) {
        std::size_t close = form.find("):");
        if (close == std::string_view::npos || !parseHexNumber(form.substr(4, close - 4), type, 8))
            return false;
        bytes = form.substr(close + 2);
    } else {
        return false;
    }
    std::vector<std::uint8_t> raw;
    if (!parseHexBytes(bytes, raw)) return false;
    out.type = static_cast<RegType>(type);
    if (isTextType(out.type)) {
        std::string text = utf16leToUtf8(raw);
        out.data.assign(text.begin(), text.end());
    } else {
        out.data = std::move(raw);
    }
    return true;
}

void writeHex(std::string& out, std::size_t lineStart, std::string_view prefix,
              const std::vector<std::uint8_t>& bytes) {
    out += prefix;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        out += kHexDigits[bytes[i] >> 4];
        out += kHexDigits[bytes[i] & 15];
        if (i + 1 < bytes.size()) {
            out += ',';
            // Wrap long values the way exports do: a backslash and an indented next line.
            if (out.size() - lineStart > 75) {
                out += "\\\n  ";
                lineStart = out.size() - 2;
            }
        }
    }
}

void writeValue(std::string& out, std::string_view name, const RegValue& v) {
    std::size_t lineStart = out.size();
    if (name.empty()) out += '@';
    else writeQuoted(out, name);
    out += '=';
    std::string_view data(reinterpret_cast<const char*>(v.data.data()), v.data.size());
    switch (v.type) {
        case RegType::Sz: {
            // The quoted form always means "text and one NUL": anything else keeps its exact
            // bytes in the hex form.
            bool quotable = !data.empty() && data.back() == '\0' &&
                            !hasLineBreakOrNul(data.substr(0, data.size() - 1));
            if (quotable) {
                writeQuoted(out, data.substr(0, data.size() - 1));
                return;
            }
            break;
        }
        case RegType::Dword:
            if (v.data.size() == 4) {
                out += "dword:";
                for (std::size_t i = 4; i-- > 0;) {
                    out += kHexDigits[v.data[i] >> 4];
                    out += kHexDigits[v.data[i] & 15];
                }
                return;
            }
            break;
        case RegType::Binary:
            writeHex(out, lineStart, "hex:", v.data);
            return;
        default:
            break;
    }
    // Any other type, or a value the short forms cannot hold: hex(type) with the type in hex.
    std::string num;
    for (auto t = static_cast<std::uint32_t>(v.type); num.empty() || t != 0; t >>= 4)
        num.insert(num.begin(), kHexDigits[t & 15]);
    const std::string prefix = "hex(" + num + "):";
    if (isTextType(v.type)) writeHex(out, lineStart, prefix, utf8ToUtf16le(data));
    else writeHex(out, lineStart, prefix, v.data);
}

}  // namespace

std::string_view rootName(std::uint32_t root) {
    switch (root) {
        case HKeyClassesRoot: return "HKEY_CLASSES_ROOT";
        case HKeyCurrentUser: return "HKEY_CURRENT_USER";
        case HKeyLocalMachine: return "HKEY_LOCAL_MACHINE";
        case HKeyUsers: return "HKEY_USERS";
        default: return {};
    }
}

RegValue RegValue::sz(std::string_view text) {
    RegValue v{RegType::Sz, {text.begin(), text.end()}};
    v.data.push_back(0);
    return v;
}

RegValue RegValue::expandSz(std::string_view text) {
    RegValue v = sz(text);
    v.type = RegType::ExpandSz;
    return v;
}

RegValue RegValue::multiSz(const std::vector<std::string>& items) {
    RegValue v{RegType::MultiSz, {}};
    for (const auto& s : items) {
        v.data.insert(v.data.end(), s.begin(), s.end());
        v.data.push_back(0);
    }
    v.data.push_back(0);
    return v;
}

RegValue RegValue::dword(std::uint32_t n) {
    return {RegType::Dword,
            {static_cast<std::uint8_t>(n), static_cast<std::uint8_t>(n >> 8),
             static_cast<std::uint8_t>(n >> 16), static_cast<std::uint8_t>(n >> 24)}};
}

RegValue RegValue::binary(std::vector<std::uint8_t> bytes) {
    return {RegType::Binary, std::move(bytes)};
}

// ---- RegistryData

namespace {

// A key line this reader understands: the normalised path, or "" for any other line.
std::string keyLinePath(std::string_view line) {
    if (line.size() < 2 || line.front() != '[' || line.back() != ']') return {};
    std::string_view path = line.substr(1, line.size() - 2);
    // "[-key]" asks an import to delete the key; a store keeps nothing for it.
    if (path.empty() || path.front() == '-' || hasLineBreakOrNul(path)) return {};
    std::string normalised = normalisePath(path);
    if (normalised.starts_with('-')) return {};  // "[\-key]": no key a writer could make
    return normalised;
}

// The file's text as UTF-8, without its byte-order mark. A UTF-16LE file is converted into
// `converted`; the mark of a UTF-8 file goes to `bom`.
std::string_view decode(std::string_view file, std::string& converted, bool& utf16,
                        std::string_view& bom) {
    utf16 = false;
    bom = {};
    if (file.starts_with("\xEF\xBB\xBF")) {
        bom = file.substr(0, 3);
        return file.substr(3);
    }
    if (file.starts_with("\xFF\xFE")) {
        // A file saved by an editor that keeps the exports' own UTF-16.
        utf16 = true;
        converted = utf16ToUtf8(file.substr(2), false);
        return converted;
    }
    return file;
}

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
bool readEntry(const ScannedLine& line, std::string& name, RegValue& value) {
    name = line.quoted ? unescapeQuoted(line.name) : std::string();
    return !hasLineBreakOrNul(name) && parseValue(line.form, value);
}

// What a reader needs of one key, found in one pass that decodes no other key's values: whether
// the key exists (listed, or implied by a listed sub-key) and its values, or only the one named
// onlyName (folded) when that is given. The same reading as RegistryData::parse.
struct KeyScan {
    bool exists = false;
    std::vector<std::pair<std::string, RegValue>> values;
};

KeyScan scanKey(std::string_view file, std::string_view keyPath, bool wantValues,
                const std::string* onlyName) {
    KeyScan out;
    const std::string want = foldCase(normalisePath(keyPath));
    if (want.empty()) return out;
    const std::string below = want + '\\';
    std::string converted;
    bool utf16 = false;
    std::string_view bom;
    const std::string_view text = decode(file, converted, utf16, bom);
    bool inside = false;
    std::unordered_map<std::string, std::size_t> byName;
    std::string name;
    scanLines(text, [&](const ScannedLine& line) {
        if (line.seen == Seen::Key) {
            const std::string folded = foldCase(line.path);
            inside = folded == want;
            out.exists = out.exists || inside || folded.starts_with(below);
            return;
        }
        if (line.seen == Seen::Foreign) inside = false;
        if (!inside || !wantValues || line.seen != Seen::Entry) return;
        if (onlyName != nullptr &&
            foldCase(line.quoted ? unescapeQuoted(line.name) : std::string()) != *onlyName)
            return;
        RegValue value;
        if (!readEntry(line, name, value)) return;
        auto [it, added] = byName.try_emplace(foldCase(name), out.values.size());
        if (added)
            out.values.emplace_back(std::move(name), std::move(value));
        else
            out.values[it->second].second = std::move(value);  // the later line wins
    });
    return out;
}

}  // namespace

RegistryData RegistryData::parse(std::string_view text) {
    RegistryData data;
    std::string converted;
    std::string_view bom;
    data.text_ = decode(text, converted, data.utf16_, bom);
    data.bom_ = bom;
    const std::string_view all = data.text_;
    if (std::size_t nl = all.find('\n');
        nl != std::string_view::npos && nl > 0 && all[nl - 1] == '\r')
        data.eol_ = "\r\n";

    Slot* current = nullptr;
    std::string name;
    scanLines(all, [&](const ScannedLine& scanned) {
        const std::size_t index = data.lines_.size();
        Line& line = data.lines_.emplace_back();
        line.begin = scanned.begin;
        line.end = scanned.end;
        switch (scanned.seen) {
            case Seen::Blank:
                line.kind = LineKind::Blank;
                return;
            case Seen::Comment:
                line.kind = LineKind::Kept;
                return;
            case Seen::Foreign:
                line.kind = LineKind::Foreign;
                current = nullptr;
                return;
            case Seen::Key:
                current = &data.createSlot(scanned.path, false);
                current->inText = true;
                current->listed = true;
                current->insertAfter = index;
                line.kind = LineKind::Key;
                line.ref = data.keyLines_.size();
                data.keyLines_.push_back(foldCase(scanned.path));
                return;
            default:
                break;
        }
        RegValue value;
        if (current == nullptr || scanned.seen != Seen::Entry || !readEntry(scanned, name, value)) {
            line.kind = LineKind::Unknown;
            if (current != nullptr) {
                ++current->unknown;
                current->insertAfter = index;
            }
            return;
        }
        line.kind = LineKind::Value;
        current->insertAfter = index;
        auto [it, added] = current->byName.try_emplace(foldCase(name), current->key.values.size());
        if (added) {
            current->key.values.emplace_back(std::move(name), std::move(value));
            current->line.push_back(index);
            current->changed.push_back(false);
        } else {
            // The later line wins; the earlier one stays in the file, overridden as before.
            line.ref = current->line[it->second];
            current->key.values[it->second].second = std::move(value);
            current->line[it->second] = index;
            current->changed[it->second] = false;
        }
    });
    return data;
}

std::string RegistryData::serialize() const {
    const std::string_view all = text_;
    using Value = std::pair<std::string, RegValue>;
    // What becomes of each line read: Value lines go unless a live value claims them.
    enum class Fate : std::uint8_t { Keep, Drop, Rewrite };
    std::vector<Fate> fate(lines_.size(), Fate::Keep);
    std::vector<const Value*> rewrite(lines_.size(), nullptr);
    for (std::size_t i = 0; i < lines_.size(); ++i)
        if (lines_[i].kind == LineKind::Value) fate[i] = Fate::Drop;
    std::vector<std::pair<std::size_t, const Value*>> inserts;  // after which line, what
    std::vector<const Slot*> newBlocks;
    for (const auto& [folded, slot] : keys_) {
        if (!slot.inText) {
            if (slot.listed) newBlocks.push_back(&slot);
            continue;
        }
        for (std::size_t i = 0; i < slot.key.values.size(); ++i) {
            const std::size_t at = slot.line[i];
            if (at == kNone) {
                inserts.emplace_back(slot.insertAfter, &slot.key.values[i]);
                continue;
            }
            fate[at] = slot.changed[i] ? Fate::Rewrite : Fate::Keep;
            rewrite[at] = &slot.key.values[i];
            for (std::size_t p = lines_[at].ref; p != kNone; p = lines_[p].ref)
                fate[p] = Fate::Keep;
        }
    }
    std::stable_sort(inserts.begin(), inserts.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });

    std::string out;
    out.reserve(text_.size() + 64);
    auto endLine = [&] {
        if (!out.empty() && out.back() != '\n') out += eol_;
    };
    auto putValue = [&](const Value& v) {
        std::string one;
        writeValue(one, v.first, v.second);
        if (eol_ != "\n") {
            for (std::size_t p = 0; (p = one.find('\n', p)) != std::string::npos; p += 2)
                one.replace(p, 1, eol_);
        }
        out += one;
    };
    if (lines_.empty()) {
        out += kHeader;
        out += eol_;
        out += eol_;
    }
    auto nextInsert = inserts.begin();
    bool inDeletedKey = false;
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        const Line& line = lines_[i];
        const std::string_view raw = all.substr(line.begin, line.end - line.begin);
        switch (line.kind) {
            case LineKind::Key: {
                auto it = keys_.find(keyLines_[line.ref]);
                inDeletedKey = it == keys_.end() || !it->second.inText;
                break;
            }
            case LineKind::Foreign:
                inDeletedKey = false;
                break;
            default:
                break;
        }
        // A deleted key takes its values, its unknown lines and its blank lines with it; the
        // comments stay.
        bool keep = true;
        if (line.kind == LineKind::Value)
            keep = fate[i] != Fate::Drop;
        else if (line.kind != LineKind::Kept && line.kind != LineKind::Foreign)
            keep = !inDeletedKey;
        if (keep && fate[i] == Fate::Rewrite) {
            putValue(*rewrite[i]);
            const bool crlf = raw.ends_with("\r\n");
            if (raw.ends_with('\n')) out += crlf ? "\r\n" : "\n";
        } else if (keep) {
            out += raw;
        }
        for (; nextInsert != inserts.end() && nextInsert->first == i; ++nextInsert) {
            endLine();
            putValue(*nextInsert->second);
            out += eol_;
        }
    }
    for (const Slot* slot : newBlocks) {
        endLine();
        out += '[';
        out += slot->key.path;
        out += ']';
        out += eol_;
        for (const auto& v : slot->key.values) {
            putValue(v);
            out += eol_;
        }
        out += eol_;
    }
    if (!utf16_) return bom_ + out;
    std::vector<std::uint8_t> wide = utf8ToUtf16le(out);
    std::string file = "\xFF\xFE";
    file.append(wide.begin(), wide.end());
    return file;
}

const RegistryData::Slot* RegistryData::findSlot(std::string_view keyPath) const {
    auto it = keys_.find(foldCase(normalisePath(keyPath)));
    return it == keys_.end() ? nullptr : &it->second;
}

RegistryData::Slot* RegistryData::findSlot(std::string_view keyPath) {
    auto it = keys_.find(foldCase(normalisePath(keyPath)));
    return it == keys_.end() ? nullptr : &it->second;
}

const RegistryData::Key* RegistryData::findKey(std::string_view keyPath) const {
    const Slot* slot = findSlot(keyPath);
    return slot == nullptr ? nullptr : &slot->key;
}

const RegValue* RegistryData::find(std::string_view keyPath, std::string_view valueName) const {
    const Slot* slot = findSlot(keyPath);
    if (slot == nullptr) return nullptr;
    auto it = slot->byName.find(foldCase(valueName));
    return it == slot->byName.end() ? nullptr : &slot->key.values[it->second].second;
}

bool RegistryData::keyExists(std::string_view keyPath) const {
    std::string folded = foldCase(normalisePath(keyPath));
    if (folded.empty()) return false;
    if (keys_.contains(folded)) return true;
    auto it = keys_.lower_bound(folded + '\\');
    return it != keys_.end() && it->first.starts_with(folded + '\\');
}

RegistryData::Slot& RegistryData::createSlot(std::string_view keyPath, bool listParents) {
    if (hasLineBreakOrNul(keyPath)) throw std::invalid_argument("registry key path with a line break");
    std::string path = normalisePath(keyPath);
    if (path.empty()) throw std::invalid_argument("empty registry key path");
    if (path.front() == '-')
        throw std::invalid_argument("registry key path starting with '-' reads as a deletion");
    // Folding keeps every byte's place, so the parents' folded paths are prefixes of this one.
    const std::string folded = foldCase(path);
    // Parents first, as an import creates them.
    Slot* slot = nullptr;
    std::size_t pos = 0;
    while (true) {
        std::size_t cut = path.find('\\', pos);
        auto [it, added] = keys_.try_emplace(folded.substr(0, cut));
        if (added) {
            it->second.key.path = path.substr(0, cut);
            it->second.listed = listParents;
        }
        slot = &it->second;
        if (cut == std::string::npos) break;
        pos = cut + 1;
    }
    return *slot;
}

const RegistryData::Key& RegistryData::createKey(std::string_view keyPath) {
    Slot& slot = createSlot(keyPath, true);
    slot.listed = true;
    return slot.key;
}

void RegistryData::setValue(std::string_view keyPath, std::string_view valueName, RegValue value) {
    if (hasLineBreakOrNul(valueName)) throw std::invalid_argument("registry value name with a line break");
    Slot& slot = createSlot(keyPath, true);
    slot.listed = true;
    auto [it, added] = slot.byName.try_emplace(foldCase(valueName), slot.key.values.size());
    if (added) {
        slot.key.values.emplace_back(std::string(valueName), std::move(value));
        slot.line.push_back(kNone);
        slot.changed.push_back(false);
        return;
    }
    RegValue& old = slot.key.values[it->second].second;
    if (old == value) return;
    old = std::move(value);
    slot.changed[it->second] = true;
}

bool RegistryData::deleteValue(std::string_view keyPath, std::string_view valueName) {
    Slot* slot = findSlot(keyPath);
    if (slot == nullptr) return false;
    auto it = slot->byName.find(foldCase(valueName));
    if (it == slot->byName.end()) return false;
    const std::size_t at = it->second;
    slot->byName.erase(it);
    const auto offset = static_cast<std::ptrdiff_t>(at);
    slot->key.values.erase(slot->key.values.begin() + offset);
    slot->line.erase(slot->line.begin() + offset);
    slot->changed.erase(slot->changed.begin() + offset);
    for (std::size_t i = at; i < slot->key.values.size(); ++i)
        slot->byName[foldCase(slot->key.values[i].first)] = i;
    return true;
}

bool RegistryData::deleteKey(std::string_view keyPath) {
    std::string folded = foldCase(normalisePath(keyPath));
    if (folded.empty()) return false;
    std::size_t n = keys_.erase(folded);
    const std::string below = folded + '\\';
    auto it = keys_.lower_bound(below);
    while (it != keys_.end() && it->first.starts_with(below)) {
        it = keys_.erase(it);
        ++n;
    }
    return n > 0;
}

bool RegistryData::deleteEmptyKey(std::string_view keyPath) {
    std::string folded = foldCase(normalisePath(keyPath));
    auto it = keys_.find(folded);
    if (it == keys_.end() || !it->second.key.values.empty() || it->second.unknown != 0)
        return false;
    auto below = keys_.lower_bound(folded + '\\');
    if (below != keys_.end() && below->first.starts_with(folded + '\\')) return false;
    keys_.erase(it);
    return true;
}

std::vector<const RegistryData::Key*> RegistryData::keys() const {
    std::vector<const Key*> out;
    out.reserve(keys_.size());
    for (const auto& [folded, slot] : keys_) out.push_back(&slot.key);
    return out;
}

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

void RegistryStore::setValue(std::string_view keyPath, std::string_view valueName,
                             RegValue value) {
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
