#include "Library.h"

#include <atomic>

#include "DownLoad.h"
#include "TypeLib.h"

namespace carvo {

namespace {

// The loader asks whether the library may go; these two counts are the answer, and they are
// process-wide by nature.
std::atomic<long> gLiveObjects{0};
std::atomic<long> gServerLocks{0};

std::shared_ptr<Dispatch> newDownLoad() { return createDownLoad(); }

}  // namespace

LiveObject::LiveObject() { ++gLiveObjects; }
LiveObject::~LiveObject() { --gLiveObjects; }

long liveObjectCount() { return gLiveObjects.load(); }
long serverLockCount() { return gServerLocks.load(); }

void lockServer(bool lock) {
    if (lock) {
        ++gServerLocks;
    } else if (gServerLocks.load() > 0) {
        --gServerLocks;
    }
}

std::shared_ptr<ClassFactory> getClassObject(const Guid& clsid) {
    if (clsid == clsidDownLoad()) return std::make_shared<SimpleClassFactory>(&newDownLoad, &lockServer);
    return nullptr;
}

std::shared_ptr<Dispatch> createObject(const Guid& clsid) {
    auto factory = getClassObject(clsid);
    if (!factory) throw ComError(hr::ClassNotAvailable, "Class not available: " + clsid.toString());
    return factory->createInstance();
}

}  // namespace carvo
