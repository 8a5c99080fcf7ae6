// The program file's version information, in the section the version reader looks for
// (carvo-version Veltrup prints it). Only the Veltrup program links this file.

namespace veltrup {

namespace {

[[gnu::section(".carvo.version"), gnu::used]] const char kVersionText[] =
    "FILEVERSION=2.0.0.0\n"
    "PRODUCTVERSION=2.0.0.0\n"
    "Translation=0x0409 1200\n"
    "Comments=Programa de Atualização Automática do Parvix 2002\n"
    "CompanyName=Ivo Lima\n"
    "FileDescription=Veltrup.exe\n"
    "FileVersion=2.00\n"
    "InternalName=Veltrup\n"
    "LegalCopyright=Copyright (C) 2002 Ivo Lima\n"
    "LegalTrademarks=Ivo Lima\n"
    "OriginalFilename=Veltrup.exe\n"
    "ProductName=Parvix 2002 Auto Atualização\n"
    "ProductVersion=2.00\n";

}  // namespace

}  // namespace veltrup
