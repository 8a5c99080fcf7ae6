// Veltrup: the Parvix 2002 update wizard. Its settings come from files beside it and from the
// registry store, never from the command line or the environment.

#include <QApplication>
#include <cstdio>
#include <optional>
#include <string_view>

#include "EndingSignals.h"
#include "Program.h"
#include "win/RegistryStore.h"

namespace {

// --help and --version, answered before QApplication exists: an administrator asks them over
// ssh or from a package script, where there is no display and Qt would abort. Any other
// argument is left to Qt (its own options) or ignored, as it always was.
std::optional<int> answerInformationRequest(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--") break;
        if (arg == "-h" || arg == "--help") {
            std::printf(
                "uso: Veltrup [--help | --version]\n"
                "\n"
                "Assistente de atualização do Parvix 2002: verifica na Internet se há uma versão\n"
                "mais nova, baixa o instalador e o executa. As configurações vêm do arquivo\n"
                "links.ini ao lado do programa e do registro em %s;\n"
                "não há opções.\n"
                "\n"
                "  -h, --help   mostra este texto.\n"
                "  --version    mostra o nome e a versão do programa.\n"
                "\n"
                "Qualquer outro argumento é ignorado e o assistente abre na tela.\n",
                carvo::defaultRegistryPath().c_str());
            return 0;
        }
        if (arg == "--version") {
            std::printf("Veltrup (Carvo) %s\n", CARVO_VERSION);
            return 0;
        }
    }
    return std::nullopt;
}

}  // namespace

int main(int argc, char** argv) {
    if (const auto answered = answerInformationRequest(argc, argv)) return *answered;
    QApplication app(argc, argv);
    QApplication::setApplicationName("Veltrup");
    QApplication::setApplicationVersion("2.00");
    QApplication::setOrganizationName("Parvix");
    // Without the package the boxes keep Qt's English buttons; everything else is the same.
    const auto qtTexts = veltrup::portugueseQtTexts();
    // Ended from outside (a logout, kill), the program still leaves no hidden partial file.
    const auto endings = veltrup::endOnSignals(&veltrup::endBySignal);
    return veltrup::runProgram(veltrup::runningExecutable());
}
