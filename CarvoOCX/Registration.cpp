#include "Registration.h"

#include <dlfcn.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <system_error>

#include "Library.h"
#include "TypeLib.h"
#include "resources/Pictures.h"
#include "win/RegistryStore.h"

namespace carvo {

namespace {

std::string hexNoPrefix(std::uint32_t n) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%x", n);
    return buf;
}

// Removes the key and then its parents while each holds neither a value nor a sub-key (nor
// anything of another program's that the store keeps without understanding it).
void pruneEmpty(RegistryData& data, std::string path) {
    while (!path.empty() && data.deleteEmptyKey(path)) {
        std::size_t cut = path.rfind('\\');
        if (cut == std::string::npos) return;
        path.resize(cut);
    }
}

int32_t statusOf(const std::exception& e) {
    if (const auto* se = dynamic_cast<const std::system_error*>(&e)) {
        int code = se->code().value();
        if (se->code().category() == std::generic_category() ||
            se->code().category() == std::system_category()) {
            if (code == EACCES || code == EPERM || code == EROFS) return CARVO_E_ACCESSDENIED;
            if (code == EFBIG) return CARVO_E_FILETOOLARGE;
        }
    }
    if (dynamic_cast<const std::bad_alloc*>(&e)) return CARVO_E_OUTOFMEMORY;
    return CARVO_SELFREG_E_CLASS;
}

template <typename F>
int32_t guarded(F&& f) {
    try {
        return f();
    } catch (const std::exception& e) {
        return statusOf(e);
    } catch (...) {
        return CARVO_SELFREG_E_CLASS;
    }
}

}  // namespace

std::vector<RegistrationEntry> registrationEntries(const std::filesystem::path& libraryFile) {
    const TypeLibInfo& lib = carvoTypeLib();
    const std::string file = libraryFile.string();
    const std::string libid = lib.libid.toString();
    const std::string version =
        std::to_string(lib.majorVersion) + "." + std::to_string(lib.minorVersion);
    std::vector<RegistrationEntry> out;
    auto add = [&out](std::string key, std::string name, std::string value) {
        out.push_back({std::move(key), std::move(name), std::move(value)});
    };

    const std::string typeLibKey = regKey({kClassesRoot, "TypeLib", libid, version});
    add(typeLibKey, "", std::string(lib.helpString));
    add(regKey({typeLibKey, "FLAGS"}), "", std::to_string(lib.flags));
    add(regKey({typeLibKey, "HELPDIR"}), "", libraryFile.parent_path().string());
    add(regKey({typeLibKey, hexNoPrefix(lib.lcid), "linux64"}), "", file);

    for (const InterfaceInfo* itf : lib.interfaces) {
        const std::string key = regKey({kClassesRoot, "Interface", itf->iid.toString()});
        add(key, "", std::string(itf->name));
        add(regKey({key, "TypeLib"}), "", libid);
        add(regKey({key, "TypeLib"}), "Version", version);
    }

    for (const CoClassInfo& cls : lib.classes) {
        const std::string clsid = cls.clsid.toString();
        const std::string key = regKey({kClassesRoot, "CLSID", clsid});
        add(key, "", std::string(cls.name));
        if (cls.defaultInterface)
            add(key, "DefaultInterface", cls.defaultInterface->iid.toString());
        if (cls.sourceInterface) add(key, "SourceInterface", cls.sourceInterface->iid.toString());
        add(regKey({key, "InprocServer32"}), "", file);
        add(regKey({key, "InprocServer32"}), "ThreadingModel", "Apartment");
        add(regKey({key, "TypeLib"}), "", libid);
        add(regKey({key, "Version"}), "", version);
        if (!cls.progId.empty()) {
            add(regKey({key, "ProgID"}), "", std::string(cls.progId));
            const std::string progKey = regKey({kClassesRoot, cls.progId});
            add(progKey, "", std::string(cls.name));
            add(regKey({progKey, "CLSID"}), "", clsid);
        }
        if (cls.isControl) {
            add(regKey({key, "Control"}), "", "");
            add(regKey({key, "MiscStatus"}), "", "0");
            add(regKey({key, "MiscStatus", "1"}), "", std::to_string(cls.miscStatus));
        }
        if (cls.toolboxBitmap != 0)
            add(regKey({key, "ToolboxBitmap32"}), "",
                file + ", " + std::to_string(cls.toolboxBitmap));
    }
    return out;
}

void registerServer(const std::filesystem::path& storeFile,
                    const std::filesystem::path& libraryFile) {
    const auto entries = registrationEntries(libraryFile);
    RegistryStore(storeFile).update([&](RegistryData& data) {
        for (const auto& e : entries) data.setValue(e.key, e.name, RegValue::sz(e.value));
    });
}

// Removes the values by name whatever they hold now (a later registration of another copy of
// the library is ours to remove too), then the keys left empty, shared parents included: a
// store that had none of them before registering is back to what it was.
void unregisterServer(const std::filesystem::path& storeFile) {
    const auto entries = registrationEntries(thisLibraryFile());
    RegistryStore(storeFile).update([&](RegistryData& data) {
        std::vector<std::string> keys;
        for (const auto& e : entries) {
            data.deleteValue(e.key, e.name);
            if (std::find(keys.begin(), keys.end(), e.key) == keys.end()) keys.push_back(e.key);
        }
        // Deepest first, so that a key's own sub-keys are gone before it is looked at.
        std::sort(keys.begin(), keys.end(), [](const std::string& a, const std::string& b) {
            return std::count(a.begin(), a.end(), '\\') > std::count(b.begin(), b.end(), '\\');
        });
        for (const auto& k : keys) pruneEmpty(data, k);
    });
}

std::filesystem::path thisLibraryFile() {
    Dl_info info{};
    if (::dladdr(reinterpret_cast<void*>(&DllRegisterServer), &info) == 0 ||
        info.dli_fname == nullptr)
        throw std::runtime_error("cannot find the library's own file");
    return std::filesystem::absolute(info.dli_fname).lexically_normal();
}

}  // namespace carvo

using carvo::guarded;

extern "C" {

int32_t DllRegisterServer(void) {
    return guarded([] {
        carvo::registerServer(carvo::defaultRegistryPath(), carvo::thisLibraryFile());
        return CARVO_S_OK;
    });
}

int32_t DllUnregisterServer(void) {
    return guarded([] {
        carvo::unregisterServer(carvo::defaultRegistryPath());
        return CARVO_S_OK;
    });
}

int32_t CarvoRegisterServerIn(const char* storeFile) {
    if (storeFile == nullptr || *storeFile == '\0') return CARVO_E_INVALIDARG;
    return guarded([storeFile] {
        carvo::registerServer(storeFile, carvo::thisLibraryFile());
        return CARVO_S_OK;
    });
}

int32_t CarvoUnregisterServerIn(const char* storeFile) {
    if (storeFile == nullptr || *storeFile == '\0') return CARVO_E_INVALIDARG;
    return guarded([storeFile] {
        carvo::unregisterServer(storeFile);
        return CARVO_S_OK;
    });
}

int32_t DllGetClassObject(const carvo_guid* clsid, void* factory) {
    if (clsid == nullptr || factory == nullptr) return CARVO_E_INVALIDARG;
    auto& out = *static_cast<std::shared_ptr<carvo::ClassFactory>*>(factory);
    try {
        out = carvo::getClassObject(carvo::fromCGuid(*clsid));
    } catch (const std::bad_alloc&) {
        out.reset();
        return CARVO_E_OUTOFMEMORY;
    }
    return out ? CARVO_S_OK : CARVO_CLASS_E_CLASSNOTAVAILABLE;
}

int32_t DllCanUnloadNow(void) { return carvo::canUnloadNow() ? CARVO_S_OK : CARVO_S_FALSE; }

int32_t CarvoLoadBitmap(int32_t id, uint8_t* buffer, size_t* size) {
    if (size == nullptr) return CARVO_E_INVALIDARG;
    try {
        const auto bytes = carvo::bitmapResource(id);
        if (bytes.empty()) return CARVO_E_INVALIDARG;
        const std::size_t capacity = *size;
        *size = bytes.size();
        if (buffer == nullptr || capacity < bytes.size()) return CARVO_S_FALSE;
        std::memcpy(buffer, bytes.data(), bytes.size());
        return CARVO_S_OK;
    } catch (const std::bad_alloc&) {
        return CARVO_E_OUTOFMEMORY;
    }
}

}  // extern "C"
