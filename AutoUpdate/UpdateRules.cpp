#include "UpdateRules.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QString>

#include "UpdateVerifier.h"
#include "automation/ComError.h"
#include "win/RegistryStore.h"

namespace veltrup {

std::int32_t versionFromText(std::string_view text) {
    // A text read through the registry's narrow calls keeps its terminating NUL.
    if (auto nul = text.find('\0'); nul != std::string_view::npos) text = text.substr(0, nul);
    return carvo::roundToLong(carvo::parseNumber(text, '.'));
}

std::optional<std::int32_t> installedVersionNumber(std::int32_t status,
                                                   const carvo::Variant& value) {
    // A missing store or key opens as FileNotFound, and so reads a missing value.
    if (status == carvo::regerr::FileNotFound) return 0;
    if (status != carvo::regerr::Success) return std::nullopt;
    switch (value.type()) {
        case carvo::VarType::Long:
        case carvo::VarType::Integer:
            return value.toLong();
        case carvo::VarType::String:
            try {
                return versionFromText(value.str());
            } catch (const carvo::ComError&) {
                return std::nullopt;
            }
        default:
            return std::nullopt;
    }
}

std::string ownProgramName() {
    return QFileInfo(QCoreApplication::applicationFilePath()).fileName().toStdString();
}

bool isSafeUpdateName(std::string_view name, std::string_view ownProgram) {
    if (!isPlainFileName(name)) return false;
    const QString candidate = QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size()));
    const QString own =
        QString::fromUtf8(ownProgram.data(), static_cast<qsizetype>(ownProgram.size()));
    for (const QString& taken : {QStringLiteral("links.ini"), QStringLiteral("Update.ini"), own})
        if (!taken.isEmpty() && candidate.compare(taken, Qt::CaseInsensitive) == 0) return false;
    return true;
}

}  // namespace veltrup
