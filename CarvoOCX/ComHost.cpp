#include "ComHost.h"

#include <dlfcn.h>

#include "Registration.h"
#include "win/RegistryStore.h"

namespace carvo {

namespace {

using RegisterFn = int32_t (*)();
using RegisterInFn = int32_t (*)(const char*);
using GetClassObjectFn = int32_t (*)(const carvo_guid*, void*);
using CanUnloadFn = int32_t (*)();
using LoadBitmapFn = int32_t (*)(int32_t, uint8_t*, size_t*);

std::optional<std::string> readText(const RegistryStore& store, std::string_view key) {
    auto v = store.read(key, "");
    if (!v || (v->type != RegType::Sz && v->type != RegType::ExpandSz)) return std::nullopt;
    std::string s(v->data.begin(), v->data.end());
    while (!s.empty() && s.back() == '\0') s.pop_back();
    return s;
}

// Objects handed out hold their library: the library's own reference goes first, then ours.
template <typename T>
std::shared_ptr<T> holdingServer(std::shared_ptr<T> object, std::shared_ptr<InprocServer> server) {
    if (!object) return nullptr;
    T* raw = object.get();
    return std::shared_ptr<T>(raw,
                              [object = std::move(object), server = std::move(server)](T*) mutable {
                                  object.reset();
                                  server.reset();
                              });
}

class HostedFactory final : public ClassFactory {
  public:
    HostedFactory(std::shared_ptr<ClassFactory> inner, std::shared_ptr<InprocServer> server)
        : inner_(std::move(inner)), server_(std::move(server)) {}
    std::shared_ptr<Dispatch> createInstance() override {
        return holdingServer(inner_->createInstance(), server_);
    }
    void lockServer(bool lock) override { inner_->lockServer(lock); }

  private:
    std::shared_ptr<ClassFactory> inner_;
    std::shared_ptr<InprocServer> server_;
};

}  // namespace

std::shared_ptr<InprocServer> InprocServer::load(const std::filesystem::path& file) {
    void* handle = ::dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const char* why = ::dlerror();
        throw ComError(hr::DllNotFound,
                       "Cannot load " + file.string() + (why ? ": " + std::string(why) : ""));
    }
    std::unique_ptr<void, int (*)(void*)> guard(handle, &::dlclose);
    auto server = std::make_shared<InprocServer>(Loaded{}, file, handle);
    guard.release();
    return server;
}

// The library stays mapped when it says it cannot go yet (an object escaped our count): code
// that may still run must not be unmapped under it.
InprocServer::~InprocServer() {
    auto canUnload = reinterpret_cast<CanUnloadFn>(::dlsym(handle_, "DllCanUnloadNow"));
    if (canUnload == nullptr || canUnload() == CARVO_S_OK) ::dlclose(handle_);
}

void* InprocServer::symbol(const char* name) const {
    void* p = ::dlsym(handle_, name);
    if (p == nullptr) throw ComError(hr::ErrorInDll, file_.string() + " has no " + name);
    return p;
}

HResult InprocServer::registerServer() {
    return reinterpret_cast<RegisterFn>(symbol("DllRegisterServer"))();
}
HResult InprocServer::unregisterServer() {
    return reinterpret_cast<RegisterFn>(symbol("DllUnregisterServer"))();
}
HResult InprocServer::registerServerIn(const std::filesystem::path& storeFile) {
    return reinterpret_cast<RegisterInFn>(symbol("CarvoRegisterServerIn"))(storeFile.c_str());
}
HResult InprocServer::unregisterServerIn(const std::filesystem::path& storeFile) {
    return reinterpret_cast<RegisterInFn>(symbol("CarvoUnregisterServerIn"))(storeFile.c_str());
}
HResult InprocServer::canUnloadNow() {
    return reinterpret_cast<CanUnloadFn>(symbol("DllCanUnloadNow"))();
}

std::vector<std::uint8_t> InprocServer::loadBitmap(int id) {
    auto load = reinterpret_cast<LoadBitmapFn>(::dlsym(handle_, "CarvoLoadBitmap"));
    if (load == nullptr) return {};
    std::size_t size = 0;
    if (load(id, nullptr, &size) != CARVO_S_FALSE || size == 0) return {};
    std::vector<std::uint8_t> bytes(size);
    if (load(id, bytes.data(), &size) != CARVO_S_OK || size != bytes.size()) return {};
    return bytes;
}

std::shared_ptr<ClassFactory> InprocServer::getClassObject(const Guid& clsid) {
    auto get = reinterpret_cast<GetClassObjectFn>(symbol("DllGetClassObject"));
    const carvo_guid c = toCGuid(clsid);
    std::shared_ptr<ClassFactory> factory;
    HResult status = get(&c, &factory);
    if (status != CARVO_S_OK || !factory)
        throw ComError(status < 0 ? status : hr::ClassNotAvailable,
                       "Class not available: " + clsid.toString());
    return std::make_shared<HostedFactory>(std::move(factory), shared_from_this());
}

ComHost::ComHost(std::filesystem::path storeFile) : storeFile_(std::move(storeFile)) {}

std::optional<Guid> ComHost::classIdOf(std::string_view name) const {
    if (!name.empty() && name.front() == '{') return Guid::parse(name);
    if (name.empty() || name.find('\\') != std::string_view::npos) return std::nullopt;
    auto text = readText(RegistryStore(storeFile_), regKey({kClassesRoot, name, "CLSID"}));
    if (!text) return std::nullopt;
    return Guid::parse(*text);
}

std::filesystem::path ComHost::serverFile(const Guid& clsid) const {
    const std::string key = regKey({kClassesRoot, "CLSID", clsid.toString(), "InprocServer32"});
    auto file = readText(RegistryStore(storeFile_), key);
    if (!file || file->empty())
        throw ComError(hr::ClassNotRegistered, "Class not registered: " + clsid.toString());
    return *file;
}

std::shared_ptr<InprocServer> ComHost::server(const std::filesystem::path& file) {
    std::shared_ptr<InprocServer> s = servers_[file].lock();
    if (!s) {
        s = InprocServer::load(file);
        servers_[file] = s;
    }
    return s;
}

std::shared_ptr<ClassFactory> ComHost::getClassObject(const Guid& clsid) {
    return server(serverFile(clsid))->getClassObject(clsid);
}

std::vector<std::uint8_t> ComHost::toolboxBitmap(const Guid& clsid) {
    const std::string key = regKey({kClassesRoot, "CLSID", clsid.toString(), "ToolboxBitmap32"});
    auto text = readText(RegistryStore(storeFile_), key);
    if (!text) return {};
    const auto comma = text->rfind(',');
    if (comma == std::string::npos) return {};
    int id = 0;
    try {
        std::size_t used = 0;
        id = std::stoi(text->substr(comma + 1), &used);
    } catch (const std::exception&) {
        return {};
    }
    try {
        return server(text->substr(0, comma))->loadBitmap(id);
    } catch (const ComError&) {
        return {};
    }
}

std::shared_ptr<Dispatch> ComHost::createInstance(const Guid& clsid) {
    return getClassObject(clsid)->createInstance();
}

std::shared_ptr<Dispatch> ComHost::createInstance(std::string_view progIdOrClsid) {
    auto clsid = classIdOf(progIdOrClsid);
    if (!clsid)
        throw ComError(hr::InvalidClassString,
                       "Invalid class string: " + std::string(progIdOrClsid));
    return createInstance(*clsid);
}

}  // namespace carvo
