// carvo-propsheet: sets the properties of the DownLoad controls of a saved form through the
// controls' own property pages, as a form designer does, and saves the form.
//   carvo-propsheet FORMFILE
// The controls' classes are found in the machine-wide registry store: register libcarvo
// first (carvo-regsvr).

#include <QApplication>
#include <QMessageBox>
#include <iostream>
#include <string_view>

#include "ComHost.h"
#include "pages/FormWindow.h"
#include "win/RegistryStore.h"

int main(int argc, char** argv) {
    // Answered before the application starts, so that it needs no screen.
    if (argc == 2 && (std::string_view(argv[1]) == "-h" || std::string_view(argv[1]) == "--help")) {
        std::cout << "usage: carvo-propsheet FORMFILE\n"
                     "\n"
                     "Sets the properties of the DownLoad controls of a saved form through the\n"
                     "controls' own property pages, as a form designer does, and saves the form.\n"
                     "The controls' classes are found in the machine-wide registry store: register\n"
                     "libcarvo first (carvo-regsvr).\n"
                     "\n"
                     "  -h, --help    show this text.\n"
                     "  --version     show the program's version.\n"
                     "\n"
                     "Exit status: 0 the window was closed, 1 the form could not be opened,\n"
                     "2 wrong command line.\n";
        return 0;
    }
    if (argc == 2 && std::string_view(argv[1]) == "--version") {
        std::cout << "carvo-propsheet " << CARVO_TOOLS_VERSION << '\n';
        return 0;
    }
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 2) {
        std::cerr << "usage: carvo-propsheet FORMFILE\n";
        return 2;
    }
    carvo::ComHost host(carvo::defaultRegistryPath());
    carvo::pages::FormServices services{
        [&host](std::string_view progId) { return host.createInstance(progId); },
        [&host](const carvo::Guid& clsid) { return host.createInstance(clsid); },
        [&host](const std::string& progId) {
            auto clsid = host.classIdOf(progId);
            return clsid ? host.toolboxBitmap(*clsid) : std::vector<std::uint8_t>{};
        },
    };
    try {
        carvo::pages::FormWindow window(args[1].toStdString(), services);
        window.show();
        return app.exec();
    } catch (const std::exception& e) {
        std::cerr << args[1].toStdString() << ": " << e.what() << '\n';
        QMessageBox::critical(nullptr, "carvo-propsheet", QString::fromStdString(e.what()));
        return 1;
    }
}
