// A small host of the control: creates a DownLoad by its class identifier, sets and reads its
// properties by dispatch identifier, listens to its events, and saves and reloads it through
// a property bag file.

#include <cstdio>
#include <filesystem>
#include <iostream>

#include "DownLoad.h"
#include "Library.h"
#include "TypeLib.h"

using namespace carvo;

namespace {

class PrintingSink : public EventSink {
public:
    void onEvent(DispId id, std::span<Variant> args) override {
        const MemberInfo* m = downLoadEventInterface().find(id, MemberKind::Method);
        std::cout << "  event " << (m ? m->name : "?");
        for (auto& a : args) std::cout << '\t' << a.toString();
        std::cout << '\n';
    }
};

class PrintingSite : public ContainerSite {
public:
    void onPropertyChanged(std::string_view name) override {
        std::cout << "  changed " << name << '\n';
    }
    void requestExtent(const Extent&) override {}
    HostServices* hostServices() override { return nullptr; }
};

}  // namespace

int main() {
    auto object = createObject(clsidDownLoad());
    auto control = std::dynamic_pointer_cast<OleControl>(object);
    PrintingSite site;
    control->setClientSite(&site);
    control->initNew();
    control->connectionPoint().advise(std::make_shared<PrintingSink>());

    std::cout << "Created " << clsidDownLoad().toString() << " (Carvo.DownLoad)\n";
    putProperty(*object, dispid::Url, "http://127.0.0.1/pacotes/setup.exe");
    putProperty(*object, dispid::CHUNK, 4096);
    putProperty(*object, dispid::KeepType, Variant::fromBool(VTrue));
    for (const auto& m : downLoadInterface().members) {
        if (m.kind != MemberKind::PropertyGet) continue;
        std::cout << "  " << m.name << " = " << getProperty(*object, m.dispid).toString() << '\n';
    }
    callMethod(*object, dispid::Cancel);

    auto path = std::filesystem::temp_directory_path() / "carvo-demo.bag";
    TextPropertyBag bag;
    control->save(bag);
    bag.saveFile(path);
    std::cout << "Saved to " << path << ":\n" << bag.serialize();

    auto again = std::dynamic_pointer_cast<DownLoad>(createObject(clsidDownLoad()));
    auto loaded = TextPropertyBag::loadFile(path);
    again->load(loaded);
    std::cout << "Reloaded: Url=" << again->Url() << " CHUNK=" << again->CHUNK()
              << " FileName=" << again->FileName() << '\n';
    std::filesystem::remove(path);
    return 0;
}
