// The registry store's text format: reading and writing one value's forms, one key line, the
// file's encoding, and the scan for one key. A value written over several lines (long hex) is
// joined by scanLines (RegFileFormat.h) and wrapped by writeHex below.

#include "win/RegFileFormat.h"

#include "win/TextCodec.h"

namespace carvo::regfile {

namespace {

constexpr char kHexDigits[] = "0123456789abcdef";

bool isTextType(RegType t) {
    return t == RegType::Sz || t == RegType::ExpandSz || t == RegType::MultiSz;
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

}  // namespace

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
            if (f == "hklm")
                part = "HKEY_LOCAL_MACHINE";
            else if (f == "hkcu")
                part = "HKEY_CURRENT_USER";
            else if (f == "hkcr")
                part = "HKEY_CLASSES_ROOT";
            else if (f == "hku")
                part = "HKEY_USERS";
        } else {
            out += '\\';
        }
        out += part;
        first = false;
    }
    return out;
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
void writeValue(std::string& out, std::string_view name, const RegValue& v) {
    std::size_t lineStart = out.size();
    if (name.empty())
        out += '@';
    else
        writeQuoted(out, name);
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
    if (isTextType(v.type))
        writeHex(out, lineStart, prefix, utf8ToUtf16le(data));
    else
        writeHex(out, lineStart, prefix, v.data);
}
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
// An entry's name and value, when this reader understands them.
bool readEntry(const ScannedLine& line, std::string& name, RegValue& value) {
    name = line.quoted ? unescapeQuoted(line.name) : std::string();
    return !hasLineBreakOrNul(name) && parseValue(line.form, value);
}

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

}  // namespace carvo::regfile
