// Veltrup: the Parvix 2002 update wizard. Its settings come from files beside it and from the
// registry store, never from the command line or the environment.

#include <QApplication>

#include "EndingSignals.h"
#include "Program.h"

int main(int argc, char** argv) {
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
