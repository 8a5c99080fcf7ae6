#pragma once
// A DownLoad control wired to a scripted host and a recording site, with every event written
// down as "Name<TAB>argument" in the order raised.

#include <memory>
#include <string>
#include <vector>

#include "DownLoad.h"
#include "FakeTransfer.h"
#include "ScriptedHost.h"
#include "TypeLib.h"

namespace carvo::test {

class RecordingSite : public ContainerSite {
public:
    std::vector<std::string> changes;
    std::vector<Extent> extentRequests;
    bool failNotify = false;
    HostServices* host = nullptr;
    DownLoad* control = nullptr;  // when set, a size request is echoed back as a resize

    void onPropertyChanged(std::string_view name) override {
        changes.emplace_back(name);
        if (failNotify) throw ComError(hr::Fail, "container refused");
    }
    void requestExtent(const Extent& e) override {
        extentRequests.push_back(e);
        if (control) control->resize(e);
    }
    HostServices* hostServices() override { return host; }
};

class EventLog : public EventSink {
public:
    std::vector<std::string> events;
    std::function<void(const std::string&)> onEach;

    void onEvent(DispId id, std::span<Variant> args) override {
        const MemberInfo* m = downLoadEventInterface().find(id, MemberKind::Method);
        std::string line(m ? m->name : "?");
        // Appended in two steps: GCC 12 at -O3 warns falsely (-Wrestrict) on "\t" + text.
        if (!args.empty()) line.append("\t").append(args[0].toString());
        events.push_back(line);
        if (onEach) onEach(line);
    }
    // Events whose name starts with prefix.
    std::vector<std::string> named(std::string_view prefix) const {
        std::vector<std::string> out;
        for (const auto& e : events)
            if (e.rfind(prefix, 0) == 0) out.push_back(e);
        return out;
    }
    std::string last(std::string_view prefix) const {
        auto v = named(prefix);
        return v.empty() ? std::string() : v.back();
    }
};

// The control with a fake transfer component.
struct Harness {
    FakeTransferScript script;
    FakeTransfer* transfer = nullptr;
    ScriptedHost host;
    RecordingSite site;
    std::shared_ptr<EventLog> log = std::make_shared<EventLog>();
    ConnectedState connection{true, conn::Lan};
    std::shared_ptr<DownLoad> dl;

    Harness() {
        DownLoadEnvironment env;
        env.makeTransfer = [this](YieldFn) {
            auto t = std::make_unique<FakeTransfer>(&script);
            transfer = t.get();
            return t;
        };
        env.connectionQuery = [this] { return connection; };
        env.decimalPoint = '.';
        dl = std::make_shared<DownLoad>(std::move(env));
        site.host = &host;
        dl->setClientSite(&site);
        dl->initNew();
        dl->connectionPoint().advise(log);
        site.changes.clear();
    }
};

}  // namespace carvo::test
