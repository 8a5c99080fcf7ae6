// RegistryData: the keys and values of a store in memory, read from its text and written back
// with every line no edit touched kept as it was.

#include <algorithm>
#include <stdexcept>

#include "win/RegFileFormat.h"
#include "win/RegistryStore.h"
#include "win/TextCodec.h"

namespace carvo {

using namespace regfile;

std::string_view rootName(std::uint32_t root) {
    switch (root) {
        case HKeyClassesRoot:
            return "HKEY_CLASSES_ROOT";
        case HKeyCurrentUser:
            return "HKEY_CURRENT_USER";
        case HKeyLocalMachine:
            return "HKEY_LOCAL_MACHINE";
        case HKeyUsers:
            return "HKEY_USERS";
        default:
            return {};
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
    if (hasLineBreakOrNul(keyPath))
        throw std::invalid_argument("registry key path with a line break");
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
    if (hasLineBreakOrNul(valueName))
        throw std::invalid_argument("registry value name with a line break");
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

}  // namespace carvo
