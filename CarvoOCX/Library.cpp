#include "Library.h"

#include <atomic>

#include "About.h"
#include "DownLoad.h"
#include "DownLoad_Properties.h"
#include "TypeLib.h"

namespace carvo {

namespace {

// The loader asks whether the library may go; these two counts are the answer, and they are
// process-wide by nature.
std::atomic<long> gLiveObjects{0};
std::atomic<long> gServerLocks{0};

std::shared_ptr<Dispatch> newDownLoad() { return createDownLoad(); }
std::shared_ptr<Dispatch> newProperties() { return std::make_shared<DownLoad_Properties>(); }
std::shared_ptr<Dispatch> newAbout() { return std::make_shared<About>(); }

// A factory is an object of the library like any other: while a host holds one, its code
// must stay loaded.
class LibraryClassFactory final : public ClassFactory {
  public:
    using Create = std::shared_ptr<Dispatch> (*)();
    explicit LibraryClassFactory(Create create) : create_(create) {}
    std::shared_ptr<Dispatch> createInstance() override { return create_(); }
    void lockServer(bool lock) override { carvo::lockServer(lock); }

  private:
    LiveObject live_;
    Create create_;
};

}  // namespace

LiveObject::LiveObject() { ++gLiveObjects; }
LiveObject::~LiveObject() { --gLiveObjects; }

long liveObjectCount() { return gLiveObjects.load(); }
long serverLockCount() { return gServerLocks.load(); }

void lockServer(bool lock) {
    if (lock) {
        ++gServerLocks;
        return;
    }
    long n = gServerLocks.load();
    while (n > 0 && !gServerLocks.compare_exchange_weak(n, n - 1)) {
    }
}

bool canUnloadNow() { return liveObjectCount() == 0 && serverLockCount() == 0; }

std::shared_ptr<ClassFactory> getClassObject(const Guid& clsid) {
    LibraryClassFactory::Create create = nullptr;
    if (clsid == clsidDownLoad()) {
        create = &newDownLoad;
    } else if (clsid == clsidDownLoadProperties()) {
        create = &newProperties;
    } else if (clsid == clsidAbout()) {
        create = &newAbout;
    } else {
        return nullptr;
    }
    return std::make_shared<LibraryClassFactory>(create);
}

std::shared_ptr<Dispatch> createObject(const Guid& clsid) {
    auto factory = getClassObject(clsid);
    if (!factory) throw ComError(hr::ClassNotAvailable, "Class not available: " + clsid.toString());
    return factory->createInstance();
}

}  // namespace carvo
