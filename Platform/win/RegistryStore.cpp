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

// Reads the whole file through a read-only descriptor. nullopt with errno ENOENT when the file
// is missing; throws std::system_error on any other failure.
std::optional<std::string> readStoreFile(const std::filesystem::path& path) {
    carvo::UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) {
        if (errno == ENOENT || errno == ENOTDIR) return std::nullopt;
        throw std::system_error(errno, std::generic_category(), "open " + path.string());
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0)
        throw std::system_error(errno, std::generic_category(), "stat " + path.string());
    if (!S_ISREG(st.st_mode))
        throw std::system_error(EISDIR, std::generic_category(), "not a file " + path.string());
    std::string text;
    char buf[65536];
    for (;;) {
        ssize_t n = ::read(fd.get(), buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR) continue;
            throw std::system_error(errno, std::generic_category(), "read " + path.string());
        }
        if (n == 0) break;
        if (text.size() + static_cast<std::size_t>(n) > kMaxStoreBytes)
            throw std::system_error(EFBIG, std::generic_category(), "too big " + path.string());
        text.append(buf, static_cast<std::size_t>(n));
    }
    return text;
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

// Quoted text with the format's two escapes. Reads from just after the opening quote; returns
// the position after the closing quote, or npos when there is none.
std::size_t readQuoted(std::string_view s, std::size_t pos, std::string& out) {
    out.clear();
    while (pos < s.size()) {
        char c = s[pos];
        if (c == '"') return pos + 1;
        if (c == '\\' && pos + 1 < s.size() && (s[pos + 1] == '\\' || s[pos + 1] == '"')) {
            out += s[pos + 1];
            pos += 2;
            continue;
        }
        out += c;
        ++pos;
    }
    return std::string_view::npos;
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
        std::string text;
        std::size_t end = readQuoted(form, 1, text);
        if (end == std::string_view::npos || !trim(form.substr(end)).empty()) return false;
        out = RegValue::sz(text);
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

RegistryData RegistryData::parse(std::string_view text) {
    std::string converted;
    if (text.starts_with("\xEF\xBB\xBF")) {
        text.remove_prefix(3);
    } else if (text.starts_with("\xFF\xFE")) {
        // A file saved by an editor that keeps the exports' own UTF-16.
        text.remove_prefix(2);
        converted = utf16leToUtf8(std::vector<std::uint8_t>(text.begin(), text.end()));
        text = converted;
    }

    std::vector<std::string_view> lines;
    while (!text.empty()) {
        std::size_t nl = text.find('\n');
        lines.push_back(text.substr(0, nl));
        text = nl == std::string_view::npos ? std::string_view() : text.substr(nl + 1);
    }

    RegistryData data;
    Key* current = nullptr;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        std::string_view line = trim(lines[i]);
        if (line.empty() || line.front() == ';') continue;
        if (line.front() == '[') {
            current = nullptr;
            if (line.back() != ']') continue;
            std::string_view path = line.substr(1, line.size() - 2);
            // "[-key]" asks an import to delete the key; a store keeps nothing for it.
            if (path.empty() || path.front() == '-' || hasLineBreakOrNul(path)) continue;
            if (normalisePath(path).empty()) continue;
            current = &data.createKey(path);
            continue;
        }

        std::string name;
        std::size_t pos = 0;
        if (line.front() == '@') {
            pos = 1;
        } else if (line.front() == '"') {
            pos = readQuoted(line, 1, name);
            if (pos == std::string_view::npos) continue;
        } else {
            continue;
        }
        std::string_view rest = trim(line.substr(pos));
        if (rest.empty() || rest.front() != '=') continue;
        rest = trim(rest.substr(1));

        // Hex values go on over lines that end in a backslash.
        std::string joined;
        if (rest.starts_with("hex")) {
            joined = rest;
            while (!joined.empty() && joined.back() == '\\' && i + 1 < lines.size()) {
                joined.pop_back();
                joined += trim(lines[++i]);
            }
            rest = joined;
        }
        RegValue value;
        if (current == nullptr || !parseValue(rest, value)) continue;
        if (hasLineBreakOrNul(name)) continue;
        auto it = std::find_if(current->values.begin(), current->values.end(),
                               [&](const auto& p) { return foldCase(p.first) == foldCase(name); });
        if (it != current->values.end()) it->second = std::move(value);
        else current->values.emplace_back(std::move(name), std::move(value));
    }
    return data;
}

std::string RegistryData::serialize() const {
    std::string out(kHeader);
    out += "\n\n";
    for (const auto& [folded, key] : keys_) {
        out += '[';
        out += key.path;
        out += "]\n";
        for (const auto& [name, value] : key.values) {
            writeValue(out, name, value);
            out += '\n';
        }
        out += '\n';
    }
    return out;
}

const RegistryData::Key* RegistryData::findKey(std::string_view keyPath) const {
    auto it = keys_.find(foldCase(normalisePath(keyPath)));
    return it == keys_.end() ? nullptr : &it->second;
}

RegistryData::Key* RegistryData::findKeyMutable(std::string_view keyPath) {
    auto it = keys_.find(foldCase(normalisePath(keyPath)));
    return it == keys_.end() ? nullptr : &it->second;
}

const RegValue* RegistryData::find(std::string_view keyPath, std::string_view valueName) const {
    const Key* key = findKey(keyPath);
    if (key == nullptr) return nullptr;
    std::string folded = foldCase(valueName);
    for (const auto& [name, value] : key->values)
        if (foldCase(name) == folded) return &value;
    return nullptr;
}

bool RegistryData::keyExists(std::string_view keyPath) const {
    std::string folded = foldCase(normalisePath(keyPath));
    if (folded.empty()) return false;
    if (keys_.contains(folded)) return true;
    auto it = keys_.lower_bound(folded + '\\');
    return it != keys_.end() && it->first.starts_with(folded + '\\');
}

RegistryData::Key& RegistryData::createKey(std::string_view keyPath) {
    if (hasLineBreakOrNul(keyPath)) throw std::invalid_argument("registry key path with a line break");
    std::string path = normalisePath(keyPath);
    if (path.empty()) throw std::invalid_argument("empty registry key path");
    // Parents first, as an import creates them.
    Key* key = nullptr;
    std::size_t pos = 0;
    while (true) {
        std::size_t cut = path.find('\\', pos);
        std::string prefix = path.substr(0, cut);
        auto [it, added] = keys_.try_emplace(foldCase(prefix));
        if (added) it->second.path = prefix;
        key = &it->second;
        if (cut == std::string::npos) break;
        pos = cut + 1;
    }
    return *key;
}

void RegistryData::setValue(std::string_view keyPath, std::string_view valueName, RegValue value) {
    if (hasLineBreakOrNul(valueName)) throw std::invalid_argument("registry value name with a line break");
    Key& key = createKey(keyPath);
    std::string folded = foldCase(valueName);
    for (auto& [name, v] : key.values) {
        if (foldCase(name) == folded) {
            v = std::move(value);
            return;
        }
    }
    key.values.emplace_back(std::string(valueName), std::move(value));
}

bool RegistryData::deleteValue(std::string_view keyPath, std::string_view valueName) {
    Key* key = findKeyMutable(keyPath);
    if (key == nullptr) return false;
    std::string folded = foldCase(valueName);
    auto n = std::erase_if(key->values, [&](const auto& p) { return foldCase(p.first) == folded; });
    return n > 0;
}

bool RegistryData::deleteKey(std::string_view keyPath) {
    std::string folded = foldCase(normalisePath(keyPath));
    if (folded.empty()) return false;
    std::string below = folded + '\\';
    auto n = std::erase_if(keys_, [&](const auto& p) {
        return p.first == folded || p.first.starts_with(below);
    });
    return n > 0;
}

std::vector<const RegistryData::Key*> RegistryData::keys() const {
    std::vector<const Key*> out;
    out.reserve(keys_.size());
    for (const auto& [folded, key] : keys_) out.push_back(&key);
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

RegKey RegistryStore::openKey(std::string_view keyPath) const {
    RegKey key;
    RegistryData data;
    try {
        data = load();
    } catch (const std::system_error& e) {
        int err = e.code().value();
        key.openStatus_ = (err == EACCES || err == EPERM) ? regerr::AccessDenied : regerr::CantRead;
        return key;
    }
    if (!data.keyExists(keyPath)) {
        key.openStatus_ = regerr::FileNotFound;
        return key;
    }
    // A parent implied by a listed sub-key opens with no values.
    const RegistryData::Key* k = data.findKey(keyPath);
    key.values_.emplace();
    if (k != nullptr) *key.values_ = k->values;
    key.openStatus_ = regerr::Success;
    return key;
}

std::optional<RegValue> RegistryStore::read(std::string_view keyPath,
                                            std::string_view valueName) const {
    RegValue v;
    if (openKey(keyPath).queryValue(valueName, v) != regerr::Success) return std::nullopt;
    return v;
}

bool RegistryStore::keyExists(std::string_view keyPath) const {
    return openKey(keyPath).valid();
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
    carvo::UniqueFd lock(::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644));
    if (lock.get() < 0)
        throw std::system_error(errno, std::generic_category(), "open " + lockPath.string());
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
