#include "automation/PropertyBag.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <system_error>

#include "automation/ComError.h"
#include "file/RegularFile.h"

namespace carvo {

namespace {

bool isNumeric(VarType t) {
    return t == VarType::Integer || t == VarType::Long || t == VarType::Single ||
           t == VarType::Double;
}

const char* typeName(VarType t) {
    switch (t) {
        case VarType::Empty: return "Empty";
        case VarType::String: return "String";
        case VarType::Boolean: return "Boolean";
        case VarType::Integer: return "Integer";
        case VarType::Long: return "Long";
        case VarType::Single: return "Single";
        case VarType::Double: return "Double";
        case VarType::Bytes: return "Bytes";
    }
    return "Empty";
}

std::string hexBytes(const ByteArray& b) {
    static const char* digits = "0123456789abcdef";
    std::string s;
    for (auto c : b) {
        s.push_back(digits[c >> 4]);
        s.push_back(digits[c & 15]);
    }
    return s;
}

// General form with enough digits to read back exactly, in C's notation whatever the process's
// locale ("%.9g" / "%.17g" would write a comma under a locale that has one).
std::string numberText(const Variant& v) {
    char buf[64];
    const auto r =
        v.type() == VarType::Single
            ? std::to_chars(buf, buf + sizeof buf, v.toSingle(), std::chars_format::general, 9)
            : std::to_chars(buf, buf + sizeof buf, v.toDouble(), std::chars_format::general, 17);
    return std::string(buf, r.ptr);
}

// The whole text as a float or double. Values too small to be normal are kept as they are
// (strtod calls them a range error); a comma stands for the point, as a file written under
// such a locale has it.
template <typename T>
bool readNumber(std::string_view text, T& out) {
    std::string s(text);
    if (s.find('.') == std::string::npos) std::replace(s.begin(), s.end(), ',', '.');
    const char* first = s.data();
    const char* last = s.data() + s.size();
    while (first != last && (*first == ' ' || *first == '\t')) ++first;
    if (first != last && *first == '+') ++first;
    const auto r = std::from_chars(first, last, out);
    return r.ec == std::errc() && r.ptr == last;
}

std::string trim(std::string_view s) {
    std::size_t b = s.find_first_not_of(" \t\r");
    if (b == std::string_view::npos) return {};
    std::size_t e = s.find_last_not_of(" \t\r");
    return std::string(s.substr(b, e - b + 1));
}

// Parses "Type Value" into a Variant; false when malformed.
bool parseTyped(std::string_view rest, Variant& out) {
    std::size_t sp = rest.find(' ');
    std::string type(rest.substr(0, sp));
    std::string_view value = sp == std::string_view::npos ? std::string_view{} : rest.substr(sp + 1);
    try {
        if (type == "Empty") {
            out = Variant();
        } else if (type == "String") {
            std::size_t pos = 0;
            std::string text;
            if (!unquoteText(value, pos, text)) return false;
            out = Variant(std::move(text));
        } else if (type == "Boolean" || type == "Integer") {
            int i = std::stoi(std::string(value));
            if (i < INT16_MIN || i > INT16_MAX) return false;  // never stored by us: malformed
            const auto v = static_cast<std::int16_t>(i);
            out = type == "Boolean" ? Variant::fromBool(v) : Variant(v);
        } else if (type == "Long") {
            long long l = std::stoll(std::string(value));
            if (l < INT32_MIN || l > INT32_MAX) return false;
            out = Variant(static_cast<std::int32_t>(l));
        } else if (type == "Single") {
            float f = 0;
            if (!readNumber(trim(value), f)) return false;
            out = Variant(f);
        } else if (type == "Double") {
            double d = 0;
            if (!readNumber(trim(value), d)) return false;
            out = Variant(d);
        } else if (type == "Bytes") {
            ByteArray b;
            std::string v = trim(value);
            if (v.size() % 2) return false;
            for (std::size_t i = 0; i < v.size(); i += 2)
                b.push_back(static_cast<std::uint8_t>(std::stoi(v.substr(i, 2), nullptr, 16)));
            out = Variant(std::move(b));
        } else {
            return false;
        }
    } catch (const std::exception&) {
        return false;
    }
    return true;
}

// A key is written bare unless the bare form would read back as something else: empty, with
// blanks at either end (the reader trims them), starting with "#" (a comment) or a quote,
// holding " =" (where the reader splits), or a control character.
bool needsQuotes(std::string_view key) {
    if (key.empty() || key.front() == '#' || key.front() == '"' || key.front() == ' ' ||
        key.front() == '\t' || key.back() == ' ' || key.back() == '\t')
        return true;
    if (key.find(" =") != std::string_view::npos) return true;
    return std::any_of(key.begin(), key.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; });
}

}  // namespace

bool sameValue(const Variant& a, const Variant& b) {
    if (isNumeric(a.type()) && isNumeric(b.type())) return a.toDouble() == b.toDouble();
    return a == b;
}

std::string quoteText(std::string_view text) {
    std::string s = "\"";
    for (char c : text) {
        auto u = static_cast<unsigned char>(c);
        switch (c) {
            case '"': s += "\\\""; break;
            case '\\': s += "\\\\"; break;
            case '\n': s += "\\n"; break;
            case '\r': s += "\\r"; break;
            case '\t': s += "\\t"; break;
            default:
                if (u < 0x20 || u == 0x7f) {
                    char buf[5];
                    std::snprintf(buf, sizeof buf, "\\x%02x", u);
                    s += buf;
                } else {
                    s.push_back(c);  // UTF-8 passes through unchanged
                }
        }
    }
    s.push_back('"');
    return s;
}

bool unquoteText(std::string_view line, std::size_t& pos, std::string& out) {
    if (pos >= line.size() || line[pos] != '"') return false;
    out.clear();
    for (std::size_t i = pos + 1; i < line.size(); ++i) {
        char c = line[i];
        if (c == '"') {
            pos = i + 1;
            return true;
        }
        if (c != '\\') {
            out.push_back(c);
            continue;
        }
        if (++i >= line.size()) return false;
        switch (line[i]) {
            case '"': out.push_back('"'); break;
            case '\\': out.push_back('\\'); break;
            case 'n': out.push_back('\n'); break;
            case 'r': out.push_back('\r'); break;
            case 't': out.push_back('\t'); break;
            case 'x': {
                if (i + 2 >= line.size()) return false;
                std::string hex(line.substr(i + 1, 2));
                char* end = nullptr;
                long v = std::strtol(hex.c_str(), &end, 16);
                if (end != hex.c_str() + 2) return false;
                out.push_back(static_cast<char>(v));
                i += 2;
                break;
            }
            default: return false;
        }
    }
    return false;
}

Variant TextPropertyBag::read(std::string_view key, const Variant& defaultValue) {
    auto it = index_.find(std::string(key));
    return it == index_.end() ? defaultValue : entries_[it->second].second;
}

void TextPropertyBag::write(std::string_view key, const Variant& value, const Variant& defaultValue) {
    if (sameValue(value, defaultValue)) {
        auto it = index_.find(std::string(key));
        if (it == index_.end()) return;
        const std::size_t at = it->second;
        index_.erase(it);
        entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(at));
        for (std::size_t i = at; i < entries_.size(); ++i) index_[entries_[i].first] = i;
        return;
    }
    set(key, value);
}

void TextPropertyBag::set(std::string_view key, Variant value) {
    auto [it, added] = index_.try_emplace(std::string(key), entries_.size());
    if (!added) {
        entries_[it->second].second = std::move(value);
        return;
    }
    entries_.emplace_back(std::string(key), std::move(value));
}

bool TextPropertyBag::contains(std::string_view key) const {
    return index_.contains(std::string(key));
}

std::string TextPropertyBag::serialize() const {
    std::string out;
    for (const auto& [k, v] : entries_) {
        out += needsQuotes(k) ? quoteText(k) : k;
        out += " = ";
        out += typeName(v.type());
        switch (v.type()) {
            case VarType::Empty: break;
            case VarType::String: out += ' ' + quoteText(v.str()); break;
            case VarType::Boolean:
            case VarType::Integer:
            case VarType::Long: out += ' ' + std::to_string(v.toLong()); break;
            case VarType::Single:
            case VarType::Double: out += ' ' + numberText(v); break;
            case VarType::Bytes: out += ' ' + hexBytes(v.bytes()); break;
        }
        out += '\n';
    }
    return out;
}

TextPropertyBag TextPropertyBag::parse(std::string_view text) {
    TextPropertyBag bag;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t nl = text.find('\n', start);
        std::string_view line =
            text.substr(start, nl == std::string_view::npos ? std::string_view::npos : nl - start);
        start = nl == std::string_view::npos ? text.size() + 1 : nl + 1;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.empty() || line[0] == '#') continue;
        std::string key;
        std::string_view rest;
        std::size_t pos = 0;
        if (line[0] == '"' && unquoteText(line, pos, key) && line.substr(pos).starts_with(" = ")) {
            rest = line.substr(pos + 3);
        } else {
            std::size_t eq = line.find(" = ");
            if (eq == std::string_view::npos) continue;
            key = trim(line.substr(0, eq));
            rest = line.substr(eq + 3);
        }
        Variant v;
        if (parseTyped(rest, v)) bag.set(key, std::move(v));
    }
    return bag;
}

TextPropertyBag TextPropertyBag::loadFile(const std::filesystem::path& path) {
    return parse(readRegularFile(path));
}

void TextPropertyBag::saveFile(const std::filesystem::path& path) const {
    writeFileAtomically(path, serialize());
}

}  // namespace carvo
