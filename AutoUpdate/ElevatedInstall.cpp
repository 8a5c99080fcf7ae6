#include "ElevatedInstall.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <thread>

#include "UpdateVerifier.h"
#include "elevate/HelperStatus.h"
#include "host/HostServices.h"
#include "win/UniqueFd.h"

namespace veltrup {

namespace {

constexpr const char* kKept =
    " O arquivo de atualização continua guardado; você pode clicar o botão 'Instalar' para "
    "tentar novamente.";

}  // namespace

ElevationOutcome runElevated(const ElevationPlaces& places, const std::string& productFolder,
                             const std::string& versionFile, const std::string& installer,
                             carvo::HostServices& host) {
    // Made before the fork: between fork and exec a copy of a threaded program may only make
    // plain system calls.
    std::string pkexec = places.pkexec, helper = places.helper, product = productFolder,
                version = versionFile, file = installer;
    std::array<char*, 6> argv{pkexec.data(),  helper.data(), product.data(),
                              version.data(), file.data(),   nullptr};
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) return {-1, errno};
    const carvo::UniqueFd readEnd(pipeFds[0]);
    pid_t child = -1;
    {
        const carvo::UniqueFd writeEnd(pipeFds[1]);
        child = ::fork();
        if (child < 0) return {-1, errno};
        if (child == 0) {
            // The transfers' sockets and the one-copy lock are nobody else's business.
            ::close_range(3, ~0U, CLOSE_RANGE_CLOEXEC);
            ::execv(argv[0], argv.data());
            const int error = errno;
            (void)!::write(writeEnd.get(), &error, sizeof error);
            ::_exit(127);
        }
    }
    int status = 0;
    for (;;) {
        const pid_t done = ::waitpid(child, &status, WNOHANG);
        if (done == child) break;
        if (done < 0 && errno != EINTR) return {-1, errno};
        // The password dialog is another program's window; this one keeps drawing meanwhile.
        host.yield();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    int error = 0;
    if (::read(readEnd.get(), &error, sizeof error) == static_cast<ssize_t>(sizeof error))
        return {-1, error};
    return {WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), 0};
}

bool refusedByHelperCheck(const ElevationOutcome& outcome) {
    return outcome.status == helper::kRefused;
}

std::string elevationFailure(const ElevationOutcome& outcome) {
    if (outcome.status == 0) return {};
    if (outcome.status < 0)
        return std::string(
            "O programa que pede a senha do administrador (pkexec) não pôde ser "
            "executado; ele é instalado com o pacote pkexec. O arquivo de "
            "atualização continua guardado; peça ao administrador do computador "
            "que o instale.");
    switch (outcome.status) {
        case 126:
            return std::string(
                       "O pedido da senha do administrador foi cancelado, e a "
                       "atualização não foi instalada.") +
                   kKept;
        case 127:
            return std::string(
                       "O sistema não autorizou a instalação, ou não há nesta sessão um "
                       "programa que peça a senha do administrador.") +
                   kKept +
                   " Se isso se repetir, peça ao administrador do computador que o instale.";
        case helper::kUnsafeProduct:
        case helper::kUnsafeStore:
            return "A pasta do Parvix 2002 ou o registro do sistema pode ser alterado por outros "
                   "usuários além do administrador; por segurança, a atualização não foi "
                   "instalada. Avise o administrador do computador.";
        case helper::kNotSigned:
            return kUnsignedForAdministrator;
        case helper::kUserFile:
            return std::string("O arquivo de atualização baixado não pôde ser lido.") + kKept;
        case helper::kRefused:
            return kVerifyFailureText;
        case helper::kNotNewer:
            return "A versão oferecida não é mais nova do que a instalada, e não foi instalada.";
        case helper::kStatementRefused:
            return std::string(
                       "O arquivo de versão deixou de ser válido (a sua assinatura pode ter "
                       "expirado), e a atualização não foi instalada. Feche o programa e procure "
                       "atualizações novamente.") +
                   kKept;
        case helper::kNoInstalledVersion:
            return "O registro do sistema não informa a versão instalada do Parvix 2002, e a "
                   "atualização não foi instalada. Reinstale o Parvix 2002 ou avise o "
                   "administrador do computador.";
        default:
            return "O sistema não conseguiu executá-lo.";
    }
}

}  // namespace veltrup
