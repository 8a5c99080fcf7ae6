#pragma once
// The library as an in-process server: its class factories and the count of live objects
// and factory locks that tells whether it may be unloaded.

#include <memory>

#include <carvo/CarvoExport.h>
#include <carvo/automation/ClassFactory.h>
#include <carvo/automation/Guid.h>

namespace carvo {

// Every object the library hands out (class factories included) holds one of these for its
// life, so that a host keeping any of them also keeps the library's code loaded.
class LiveObject {
  public:
    LiveObject();
    ~LiveObject();
    LiveObject(const LiveObject&) = delete;
    LiveObject& operator=(const LiveObject&) = delete;
};

long liveObjectCount();
long serverLockCount();
// Nests like a counter; an unlock without a lock is ignored.
void lockServer(bool lock);
// True when no object of the library is alive and no factory lock is held.
bool canUnloadNow();

// The factory for one of the library's three classes (DownLoad, DownLoad_Properties, About);
// nullptr for any other CLSID.
CARVO_API std::shared_ptr<ClassFactory> getClassObject(const Guid& clsid);
// Creates an object of one of the library's classes (a control still to be given its
// new-instance defaults or its saved state by its container); throws
// ComError(ClassNotAvailable) for another CLSID.
CARVO_API std::shared_ptr<Dispatch> createObject(const Guid& clsid);

}  // namespace carvo
