// Walks Veltrup's wizard on its own, where nobody is there to press the buttons (a machine
// without a screen, under a virtual X server): the real window, real controls, the machine's
// registry store and the real start of the installer, as the program has them, in the given
// program folder. It presses "next" like a person would, answers any message box with its
// default, and saves a picture of each step.
//
//   veltrup_demo PROGRAM-FOLDER PICTURE-FOLDER
//
// Exit status 0 when the wizard ended the way it should (installer started, or nothing to
// update), 1 otherwise.

#include <QApplication>
#include <QProgressBar>
#include <QPushButton>
#include <cstdio>
#include <filesystem>
#include <string>

#include "Program.h"
#include "host/QtHost.h"
#include "mdlRegistry.h"

namespace {

// The Qt host, with every message box answered by its default button and told on stdout.
class UnattendedHost : public carvo::QtHost {
public:
    carvo::MsgBoxResult messageBox(std::string_view text, int style, std::string_view title) override {
        std::printf("[caixa] %.*s: %.*s\n", static_cast<int>(title.size()), title.data(),
                    static_cast<int>(text.size()), text.data());
        return (style & carvo::mb::ButtonMask) == carvo::mb::YesNo ? carvo::MsgBoxResult::Yes
                                                                    : carvo::MsgBoxResult::Ok;
    }
    void yield() override {
        carvo::QtHost::yield();
        if (onYield) onYield();
    }
    std::function<void()> onYield;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s PROGRAM-FOLDER PICTURE-FOLDER\n", argv[0]);
        return 2;
    }
    QApplication app(argc, argv);
    const auto qtTexts = veltrup::portugueseQtTexts();  // as the program speaks
    const std::string folder = veltrup::folderOf(std::filesystem::path(argv[1]) / "Veltrup");
    const std::filesystem::path pictures = argv[2];
    std::filesystem::create_directories(pictures);

    UnattendedHost host;
    const auto windows = veltrup::desktopWindows();
    veltrup::MainEnvironment env = veltrup::programEnvironment(folder, host, windows.get());
    bool ended = false;
    env.endProgram = [&ended] { ended = true; };
    env.anotherCopyRunning = [] { return false; };
    veltrup::frmMain form(std::move(env));
    host.setParentWindow(&form);
    if (!form.Form_Load()) return 1;
    form.show();

    int shots = 0;
    auto shot = [&](const char* name, const char* says) {
        QApplication::processEvents();
        const auto file = pictures / ("veltrup-" + std::to_string(++shots) + "-" + name + ".png");
        form.grab().save(QString::fromStdString(file.string()));
        std::printf("Passo %d: %s (%s)\n", shots, says, file.string().c_str());
        std::fflush(stdout);
    };
    auto press = [&] { form.cmdAvancar->click(); };

    shot("boas-vindas", "a janela abre com a versão instalada");
    press();
    if (form.intStep() == 3) {
        shot("atualizada", "a versão instalada é a mais nova");
        press();
        return ended ? 0 : 1;
    }
    if (form.intStep() != 1) {
        shot("falha", "a verificação de versão falhou");
        return 1;
    }
    shot("nova-versao", "uma versão nova foi encontrada");

    bool halfway = false;
    host.onYield = [&] {
        if (!halfway && form.pb1->value() * 2 >= form.pb1->maximum() && form.pb1->value() > 0) {
            halfway = true;
            shot("baixando", "o arquivo de atualização está chegando");
        }
    };
    press();
    host.onYield = nullptr;
    if (form.intStep() != 2) {
        shot("falha", "o download falhou");
        return 1;
    }
    shot("download-concluido", "o arquivo de atualização chegou");
    press();
    shot("instalar", "pronto para instalar");
    press();
    if (!ended) {
        std::printf("O programa de atualização não foi iniciado.\n");
        return 1;
    }
    std::printf("O programa de atualização foi iniciado e o Veltrup terminou.\n");
    return 0;
}
