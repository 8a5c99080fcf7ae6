#include "tools/FormFile.h"

#include <algorithm>
#include <system_error>
#include <unordered_set>

namespace carvo {

namespace {

constexpr std::string_view kIndent = "    ";

std::string_view trimmed(std::string_view s) {
    const auto b = s.find_first_not_of(" \t\r");
    if (b == std::string_view::npos) return {};
    const auto e = s.find_last_not_of(" \t\r");
    return s.substr(b, e - b + 1);
}

bool isWord(std::string_view s) {
    return !s.empty() && std::none_of(s.begin(), s.end(), [](char c) {
        return c == ' ' || c == '\t' || c == '"' || static_cast<unsigned char>(c) < 0x20;
    });
}

[[noreturn]] void fail(std::size_t lineNo, const std::string& why) {
    throw FormFileError("line " + std::to_string(lineNo) + ": " + why);
}

}  // namespace

std::string FormFile::serialize() const {
    std::string out;
    std::unordered_set<std::string_view> names;
    for (const auto& c : controls) {
        // What parse would refuse is refused here, before anything is written: a saved form
        // always reads back.
        if (!isWord(c.progId) || !isWord(c.name))
            throw FormFileError("a control needs a class and a name without blanks or quotes: \"" +
                                c.progId + " " + c.name + "\"");
        if (!names.insert(c.name).second)
            throw FormFileError("the name " + c.name + " is used twice");
        out += "Begin " + c.progId + " " + c.name + "\n";
        // The bag quotes every line break inside a value, so its lines are its entries.
        const std::string text = c.bag.serialize();
        std::size_t start = 0;
        while (start < text.size()) {
            std::size_t nl = text.find('\n', start);
            if (nl == std::string::npos) nl = text.size();
            out += kIndent;
            out.append(text, start, nl - start);
            out += '\n';
            start = nl + 1;
        }
        out += "End\n";
    }
    return out;
}

FormFile FormFile::parse(std::string_view text) {
    FormFile form;
    std::unordered_set<std::string> names;
    bool inBlock = false;
    std::size_t blockLine = 0;
    std::string bagText;
    std::size_t lineNo = 0;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t nl = text.find('\n', start);
        if (nl == std::string_view::npos) nl = text.size();
        const std::string_view raw = text.substr(start, nl - start);
        start = nl + 1;
        ++lineNo;
        const std::string_view line = trimmed(raw);
        if (!inBlock) {
            if (line.empty() || line.front() == '#') continue;
            if (line == "End") fail(lineNo, "End without Begin");
            if (!line.starts_with("Begin ")) fail(lineNo, "expected a Begin line");
            std::string_view rest = trimmed(line.substr(6));
            const auto sp = rest.find_first_of(" \t");
            if (sp == std::string_view::npos) fail(lineNo, "Begin needs a class and a name");
            const std::string_view progId = rest.substr(0, sp);
            const std::string_view name = trimmed(rest.substr(sp));
            if (!isWord(progId) || !isWord(name)) fail(lineNo, "Begin needs a class and a name");
            if (!names.emplace(name).second)
                fail(lineNo, "the name " + std::string(name) + " is used twice");
            form.controls.push_back({std::string(progId), std::string(name), {}});
            inBlock = true;
            blockLine = lineNo;
            bagText.clear();
        } else if (line == "End") {
            form.controls.back().bag = TextPropertyBag::parse(bagText);
            inBlock = false;
        } else {
            bagText += line;
            bagText += '\n';
        }
    }
    if (inBlock) fail(blockLine, "Begin without End");
    return form;
}

FormFile FormFile::load(const std::filesystem::path& path) {
    std::string text;
    try {
        text = readRegularFile(path);
    } catch (const std::system_error& e) {
        throw FormFileError(e.what());
    }
    return parse(text);
}

void FormFile::save(const std::filesystem::path& path) const {
    writeFileAtomically(path, serialize());
}

}  // namespace carvo
