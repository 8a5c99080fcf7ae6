#pragma once
// Creating objects by class identifier: a library hands out one factory per class.

#include <memory>

#include <carvo/CarvoExport.h>
#include <carvo/automation/Dispatch.h>
#include <carvo/automation/Guid.h>

namespace carvo {

class CARVO_API ClassFactory {
public:
    virtual ~ClassFactory() = default;
    virtual std::shared_ptr<Dispatch> createInstance() = 0;
    // Keeps the library loaded while true; calls nest like a counter.
    virtual void lockServer(bool lock) = 0;
};

// A factory for one class with a plain creation function and a shared lock counter.
class CARVO_API SimpleClassFactory : public ClassFactory {
public:
    using Create = std::shared_ptr<Dispatch> (*)();
    using Lock = void (*)(bool);
    SimpleClassFactory(Create create, Lock lock) : create_(create), lock_(lock) {}
    std::shared_ptr<Dispatch> createInstance() override { return create_(); }
    void lockServer(bool lock) override {
        if (lock_) lock_(lock);
    }

private:
    Create create_;
    Lock lock_;
};

}  // namespace carvo
