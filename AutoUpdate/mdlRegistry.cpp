#include "mdlRegistry.h"

#include <QDesktopServices>
#include <QString>
#include <QUrl>

#include "win/ProfileFile.h"

namespace veltrup {

std::int32_t QueryRegValue(const carvo::RegKey& key, std::string_view valueName,
                           carvo::Variant& value) {
    std::int32_t status = carvo::regerr::InvalidHandle;
    try {
        carvo::RegValue rv;
        status = key.queryValue(valueName, rv);
        if (status != carvo::regerr::Success) return status;
        switch (rv.type) {
            case carvo::RegType::Sz:
                value = carvo::Variant(std::string(rv.data.begin(), rv.data.end()));
                return status;
            case carvo::RegType::Dword: {
                // The platform copies what is stored into a four-byte integer and refuses more.
                if (rv.data.size() > 4) return carvo::regerr::MoreData;
                std::uint32_t n = 0;
                for (std::size_t i = 0; i < rv.data.size(); ++i)
                    n |= static_cast<std::uint32_t>(rv.data[i]) << (8 * i);
                value = carvo::Variant(static_cast<std::int32_t>(n));
                return status;
            }
            default:
                return -1;
        }
    } catch (...) {
        // Nothing leaves this routine but a status.
        return status;
    }
}

carvo::Variant ReadRegValue(std::uint32_t root, std::string_view subKey,
                            std::string_view valueName, const std::filesystem::path& store) {
    carvo::Variant value;
    std::string_view rootName = carvo::rootName(root);
    if (rootName.empty()) return value;
    // Read access only: asking for more would fail for every user who may read the installed
    // version but not change it, and the updater would then offer every update again.
    std::string path(rootName);
    path += '\\';
    path += subKey;
    carvo::RegKey key = carvo::RegistryStore(store).openKey(path);
    QueryRegValue(key, valueName, value);
    return value;
}

std::string ReadProfileString(std::string_view section, std::string_view key,
                              const carvo::Variant& defaultValue,
                              const std::filesystem::path& file) {
    std::string def;
    try {
        def = defaultValue.toString();
    } catch (...) {
        // A default that has no text form reads as no text.
    }
    return carvo::readProfileString(section, key, def, file);
}

std::string GetWindowTitle(carvo::WindowList& windows, carvo::WindowHandle window) {
    if (window == 0) return {};
    return windows.title(window);
}

carvo::WindowHandle FindWindowByTitle(carvo::WindowList& windows, carvo::HostServices& host,
                                      std::string_view text, bool caseSensitive) {
    const QString wanted = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    const QString needle = caseSensitive ? wanted : wanted.toLower();
    // Every top-level window, whether above or below our own: a running product whose window
    // happens to be on top must still be found before its installer is started.
    for (carvo::WindowHandle w : windows.topLevelWindows()) {
        host.yield();
        std::string t = GetWindowTitle(windows, w);
        QString title = QString::fromUtf8(t.data(), static_cast<qsizetype>(t.size()));
        if (!caseSensitive) title = title.toLower();
        if (title.contains(needle, Qt::CaseSensitive)) return w;
    }
    return 0;
}

void ShellOpen(QWidget* owner, const std::string& target) {
    (void)owner;  // the desktop's opener has no owner window
    if (target.empty()) return;
    QDesktopServices::openUrl(QUrl::fromUserInput(QString::fromStdString(target)));
}

std::string RegValueText(const carvo::Variant& v) {
    if (v.isEmpty()) return {};
    if (v.type() == carvo::VarType::String) {
        const std::string& s = v.str();
        return s.substr(0, s.find('\0'));
    }
    try {
        return v.toString();
    } catch (...) {
        return {};
    }
}

}  // namespace veltrup
