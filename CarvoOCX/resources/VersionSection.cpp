#include "resources/VersionInfo.h"

// The library's own entries; only the library itself links this file, so no tool that reads
// version information carries any of its own.

namespace carvo {

namespace {

// Kept in a section of its own and marked used, so that neither the compiler nor the linker
// drops it although nothing in the code reads it but versionInfo().
[[gnu::section(".carvo.version"), gnu::used]] const char kVersionText[] =
    "FILEVERSION=1.0.0.0\n"
    "PRODUCTVERSION=1.0.0.0\n"
    "Translation=0x0409 1200\n"
    "Comments=OCX Para Fazer Download de Arquivos Via Internet.\n"
    "CompanyName=Carvo Software\n"
    "FileDescription=carvo.ocx\n"
    "FileVersion=1.00\n"
    "InternalName=Carvo\n"
    "LegalCopyright=Copyright (C) 2001 Carvo Software\n"
    "LegalTrademarks=Carvo Software\n"
    "OriginalFilename=Carvo.ocx\n"
    "ProductName=Carvo\n"
    "ProductVersion=1.00\n"
    "OLESelfRegister=\n";

}  // namespace

VersionInfo versionInfo() {
    return parseVersionInfo(std::string_view(kVersionText, sizeof kVersionText - 1));
}

}  // namespace carvo
