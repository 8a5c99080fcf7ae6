// A host in a process of its own, linked without libcarvo: it creates a control by ProgID
// through a registry store (finding, loading and asking the registered library), gives it
// either its new-instance defaults or a control's bag from a saved form, and prints the six
// persistent properties and whether the library could go when it is done.
//   design_host_probe STORE PROGID [FORMFILE NAME]

#include <cstdio>
#include <iostream>

#include "ComHost.h"
#include "automation/Container.h"
#include "tools/FormFile.h"

using namespace carvo;

int main(int argc, char** argv) {
    if (argc != 3 && argc != 5) {
        std::cerr << "usage: design_host_probe STORE PROGID [FORMFILE NAME]\n";
        return 2;
    }
    try {
        ComHost host(argv[1]);
        auto clsid = host.classIdOf(argv[2]);
        std::shared_ptr<InprocServer> server;
        {
            auto object = host.createInstance(argv[2]);
            auto* control = dynamic_cast<OleControl*>(object.get());
            if (control == nullptr) {
                std::cerr << "not a control\n";
                return 4;
            }
            if (argc == 5) {
                const FormFile form = FormFile::load(argv[3]);
                bool found = false;
                for (const auto& c : form.controls) {
                    if (c.name != argv[4]) continue;
                    TextPropertyBag bag = c.bag;
                    control->load(bag);
                    found = true;
                }
                if (!found) {
                    std::cerr << "no control " << argv[4] << "\n";
                    return 4;
                }
            } else {
                control->initNew();
            }
            std::cout << "CLSID=" << (clsid ? clsid->toString() : "?") << '\n';
            for (const char* name :
                 {"Url", "CHUNK", "SaveLocation", "KeepType", "OnlineCheck", "PromptOverwrite"})
                std::cout << name << '=' << getProperty(*object, name).toString() << '\n';
            server = InprocServer::load(host.serverFile(*clsid));
            std::cout << "CanUnloadWhileAlive=" << server->canUnloadNow() << '\n';
        }
        std::cout << "CanUnloadAfter=" << server->canUnloadNow() << '\n';
    } catch (const ComError& e) {
        std::fprintf(stderr, "%s (0x%08X)\n", e.what(), static_cast<unsigned>(e.code()));
        return 3;
    } catch (const std::exception& e) {
        std::cerr << e.what() << '\n';
        return 3;
    }
    return 0;
}
