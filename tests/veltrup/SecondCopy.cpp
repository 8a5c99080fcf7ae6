// Starts Veltrup's own program start as if it were the program file named by its argument,
// with a host that answers every message box at once and prints it ("box STYLE TITLE", then
// the text). A test runs it while the real Veltrup runs, to see a second copy refused.

#include <QApplication>
#include <cstdio>
#include <string>

#include "Program.h"
#include "host/HostServices.h"

namespace {

class PrintingHost : public carvo::HostServices {
public:
    void yield() override { QCoreApplication::processEvents(); }
    carvo::MsgBoxResult messageBox(std::string_view text, int style, std::string_view title) override {
        std::printf("box %d %.*s\n%.*s\n", style, static_cast<int>(title.size()), title.data(),
                    static_cast<int>(text.size()), text.data());
        std::fflush(stdout);
        return (style & carvo::mb::ButtonMask) == carvo::mb::YesNo ? carvo::MsgBoxResult::No
                                                                    : carvo::MsgBoxResult::Ok;
    }
    std::string inputBox(std::string_view, std::string_view, std::string_view) override { return {}; }
    double monotonicSeconds() override { return 0; }
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s PROGRAM-FILE\n", argv[0]);
        return 2;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    PrintingHost host;
    return veltrup::runProgram(argv[1], &host);
}
