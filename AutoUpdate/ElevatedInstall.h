#pragma once
// Installing with the administrator's rights: where the product folder is root's, "Instalar"
// runs pkexec, which asks for the administrator's password (polkit) and then starts
// veltrup-install-helper as root. The helper checks everything again on its own (the maker's
// key from the product's links.ini, the signature, the installed version) and starts the
// installer from a copy of its own.

#include <string>

namespace carvo {
class HostServices;
}

namespace veltrup {

struct ElevationPlaces {
    std::string pkexec = "/usr/bin/pkexec";
    std::string helper = VELTRUP_INSTALL_HELPER;
};

// The outcome of one try: pkexec's (or the helper's) exit status, or -1 with startError when
// pkexec itself could not be started.
struct ElevationOutcome {
    int status = -1;
    int startError = 0;  // an errno
};

// Runs pkexec helper PRODUCT-FOLDER VERSION-FILE INSTALLER and waits for it, yielding to the
// host meanwhile, so that the window keeps drawing while the password is asked for.
ElevationOutcome runElevated(const ElevationPlaces& places, const std::string& productFolder,
                             const std::string& versionFile, const std::string& installer,
                             carvo::HostServices& host);

// What the message box says after a try that did not start the installer: "" for a start.
// pkexec's own 126 (the password prompt was dismissed) and 127 (not authorized, or no agent
// to ask for the password) and each refusal of the helper have texts of their own; each says
// that the downloaded file stays, and what the user can do.
std::string elevationFailure(const ElevationOutcome& outcome);

// True for the helper's refusal of the installer's bytes (they changed since Veltrup checked
// them): the wizard then deletes the file and goes back to the download step.
bool refusedByHelperCheck(const ElevationOutcome& outcome);

// Said instead of asking for the password when links.ini holds no maker's key: an installer
// is never run as root unsigned.
inline constexpr const char* kUnsignedForAdministrator =
    "Esta atualização não pode ser instalada com os direitos do administrador, porque ela não "
    "é assinada: o Parvix 2002 não tem a chave do fabricante para conferi-la. O arquivo de "
    "atualização continua guardado; peça ao administrador do computador que o instale.";

}  // namespace veltrup
