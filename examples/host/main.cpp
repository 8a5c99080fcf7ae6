// carvo-host-example: fetches one file with the DownLoad control, as a program outside Carvo's
// tree hosts it. The control is created by its ProgID through the registry store where
// libcarvo registered itself (carvo-regsvr), reached late-bound by name, and heard through
// its events.
//   carvo-host-example STORE URL SAVE_LOCATION
// Exit status 0 when the control raised DLComplete, 1 when it raised DLECode, 2 otherwise.

#include <carvo/ComHost.h>
#include <carvo/automation/Container.h>
#include <carvo/automation/Dispatch.h>
#include <carvo/host/ConsoleHost.h>

#include <iostream>
#include <memory>
#include <optional>
#include <string>

namespace {

// Everything the control says comes through here, by the names of its event interface.
class Sink : public carvo::EventSink {
  public:
    explicit Sink(const carvo::InterfaceInfo& events) : events_(events) {}

    void onEvent(carvo::DispId id, std::span<carvo::Variant> args) override {
        const carvo::MemberInfo* event = events_.find(id, carvo::MemberKind::Method);
        const std::string_view name = event ? event->name : "?";
        if (name == "DLComplete") completed = true;
        if (name == "DLECode" && !args.empty()) failure = args[0].toLong();
        // The transfer repeats its sentence for every piece: a new one is worth a line.
        if (name == "StatusChange" && !args.empty() && args[0].toString() != status) {
            status = args[0].toString();
            std::cout << status << '\n';
        }
    }

    bool completed = false;
    std::optional<std::int32_t> failure;
    std::string status;

  private:
    const carvo::InterfaceInfo& events_;
};

// The container's side: the control asks it for the host services (yielding, message boxes).
class Site : public carvo::ContainerSite {
  public:
    void onPropertyChanged(std::string_view) override {}
    void requestExtent(const carvo::Extent&) override {}
    carvo::HostServices* hostServices() override { return &host_; }

  private:
    carvo::ConsoleHost host_;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::cerr << "usage: carvo-host-example STORE URL SAVE_LOCATION\n";
        return 2;
    }
    try {
        carvo::ComHost host(argv[1]);
        std::shared_ptr<carvo::Dispatch> object = host.createInstance("Carvo.DownLoad");
        auto control = std::dynamic_pointer_cast<carvo::OleControl>(object);
        if (!control) {
            std::cerr << "Carvo.DownLoad is not a control\n";
            return 2;
        }
        Site site;
        control->setClientSite(&site);
        control->initNew();
        auto sink = std::make_shared<Sink>(control->connectionPoint().interfaceInfo());
        const std::uint32_t cookie = control->connectionPoint().advise(sink);

        carvo::putProperty(*object, "Url", carvo::Variant(argv[2]));
        carvo::putProperty(*object, "SaveLocation", carvo::Variant(argv[3]));
        carvo::putProperty(*object, "CHUNK", carvo::Variant(std::int32_t{65536}));
        carvo::callMethod(*object, "GetFileInformation");
        std::cout << "FileSize " << carvo::getProperty(*object, "FileSize").toString() << '\n';
        if (!sink->failure) carvo::callMethod(*object, "DownLoad");

        control->connectionPoint().unadvise(cookie);
        control->setClientSite(nullptr);
        if (sink->failure) {
            std::cerr << "DLECode " << *sink->failure << '\n';
            return 1;
        }
        return sink->completed ? 0 : 2;
    } catch (const carvo::ComError& e) {
        std::cerr << e.what() << " (" << std::hex << static_cast<std::uint32_t>(e.code()) << ")\n";
        return 2;
    }
}
