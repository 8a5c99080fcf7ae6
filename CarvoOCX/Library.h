#pragma once
// The library as an in-process server: its class factories and the count of live objects
// and factory locks that tells whether it may be unloaded.

#include <memory>

#include "automation/ClassFactory.h"
#include "automation/Guid.h"

namespace carvo {

// Every object the library hands out holds one of these for its life.
class LiveObject {
public:
    LiveObject();
    ~LiveObject();
    LiveObject(const LiveObject&) = delete;
    LiveObject& operator=(const LiveObject&) = delete;
};

long liveObjectCount();
long serverLockCount();
void lockServer(bool lock);

// The factory for one of the library's classes; nullptr for any other CLSID.
std::shared_ptr<ClassFactory> getClassObject(const Guid& clsid);
// Creates an object of one of the library's classes, with the new-instance defaults applied
// to a control; throws ComError(ClassNotAvailable) for another CLSID.
std::shared_ptr<Dispatch> createObject(const Guid& clsid);

}  // namespace carvo
