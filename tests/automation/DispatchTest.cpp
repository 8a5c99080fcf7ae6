#include <gtest/gtest.h>

#include "automation/Dispatch.h"
#include "automation/Events.h"

using namespace carvo;

namespace {

const InterfaceInfo kIface{"_Thing", Guid{}, 0, false,
                           {
                               {1, "Size", MemberKind::PropertyGet, 10, VType::Long, {}},
                               {2, "Size", MemberKind::PropertyPut, 10, VType::Long, {}},
                               {3, "Twice", MemberKind::Method, 20, VType::Long, {{"n", VType::Long, true}}},
                           }};

class Recorder : public EventSink {
public:
    std::vector<std::pair<DispId, std::string>> seen;
    std::function<void()> during;
    void onEvent(DispId id, std::span<Variant> args) override {
        seen.emplace_back(id, args.empty() ? "" : args[0].toString());
        if (!args.empty()) args[0] = "changed by sink";
        if (during) during();
    }
};

}  // namespace

TEST(Dispatch, CheckInvokeFindsMembersByKindAndCount) {
    EXPECT_EQ(checkInvoke(kIface, 10, InvokeKind::PropertyGet, 0).slot, 1);
    EXPECT_EQ(checkInvoke(kIface, 10, InvokeKind::PropertyPut, 1).slot, 2);
    EXPECT_EQ(checkInvoke(kIface, 20, InvokeKind::Method, 1).slot, 3);
    auto code = [](DispId id, InvokeKind k, std::size_t n) {
        try {
            checkInvoke(kIface, id, k, n);
        } catch (const ComError& e) {
            return e.code();
        }
        return hr::Ok;
    };
    EXPECT_EQ(code(11, InvokeKind::PropertyGet, 0), hr::MemberNotFound);
    EXPECT_EQ(code(20, InvokeKind::PropertyPut, 1), hr::MemberNotFound);
    EXPECT_EQ(code(10, InvokeKind::PropertyGet, 1), hr::BadParamCount);
    EXPECT_EQ(code(20, InvokeKind::Method, 0), hr::BadParamCount);
    EXPECT_EQ(kIface.findByName("twice")->dispid, 20);
    EXPECT_EQ(kIface.findByName("nothing"), nullptr);
}

TEST(Events, SinksRunInOrderWithArgumentsByReferenceAndMayUnadviseWhileFiring) {
    ConnectionPoint cp(kIface);
    auto a = std::make_shared<Recorder>();
    auto b = std::make_shared<Recorder>();
    std::uint32_t ca = cp.advise(a);
    std::uint32_t cb = cp.advise(b);
    a->during = [&] { cp.unadvise(cb); };  // b is removed during the first fire
    Variant args[1] = {"hello"};
    cp.fire(5, args);
    EXPECT_EQ(a->seen.size(), 1u);
    EXPECT_EQ(b->seen.size(), 1u);  // the snapshot still reaches b this time
    EXPECT_EQ(b->seen[0].second, "changed by sink");  // a wrote into the argument first
    EXPECT_EQ(args[0].toString(), "changed by sink");
    cp.fire(5, args);
    EXPECT_EQ(b->seen.size(), 1u);
    EXPECT_TRUE(cp.unadvise(ca));
    EXPECT_FALSE(cp.unadvise(ca));
    EXPECT_EQ(cp.sinkCount(), 0u);
}
