#pragma once
// Self-registration of the library: the four in-process server entry points, with C linkage
// so that an installer or a host reaches them with dlsym, and the C++ functions behind them.
//
// The classes are registered under HKEY_LOCAL_MACHINE\Software\Classes of the registry store
// (the machine-wide part of the classes root):
//
//   TypeLib\{libid}\1.0                 @ help string; FLAGS, HELPDIR, <lcid>\linux64 = file
//   Interface\{iid}                     @ name; TypeLib @ libid, "Version" 1.0
//   CLSID\{clsid}                       @ class name; "DefaultInterface", "SourceInterface"
//     InprocServer32                    @ this library's file; "ThreadingModel" Apartment
//     TypeLib, Version                  the library's identity
//     ProgID, Control, MiscStatus\1, ToolboxBitmap32      for the control
//   Carvo.DownLoad                      @ class name; CLSID @ {clsid}
//
// Every entry comes from the type-library table; unregistering removes exactly these values
// and then the keys they leave empty.

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

// A class identifier as C sees it (the layout of the platform's GUID).
typedef struct carvo_guid {
    uint32_t data1;
    uint16_t data2;
    uint16_t data3;
    uint8_t data4[8];
} carvo_guid;

// Status codes of the entry points (HRESULT values).
#define CARVO_S_OK 0
#define CARVO_S_FALSE 1
#define CARVO_E_INVALIDARG ((int32_t)0x80070057)
#define CARVO_E_ACCESSDENIED ((int32_t)0x80070005)
#define CARVO_E_OUTOFMEMORY ((int32_t)0x8007000E)
#define CARVO_CLASS_E_CLASSNOTAVAILABLE ((int32_t)0x80040111)
#define CARVO_SELFREG_E_CLASS ((int32_t)0x80040201)
// The registry store would grow past the size a store may have (kMaxStoreBytes), or already
// has: nothing was written.
#define CARVO_E_FILETOOLARGE ((int32_t)0x800700DF)

// Register in, or remove from, the machine-wide registry store.
__attribute__((visibility("default"))) int32_t DllRegisterServer(void);
__attribute__((visibility("default"))) int32_t DllUnregisterServer(void);
// factory points to a std::shared_ptr<carvo::ClassFactory> owned by the caller (a C++ host),
// which receives the class's factory, or is reset for a CLSID the library does not serve
// (CARVO_CLASS_E_CLASSNOTAVAILABLE). The caller's pointer owns its reference: nothing to free.
__attribute__((visibility("default"))) int32_t DllGetClassObject(const carvo_guid* clsid,
                                                                 void* factory);
// CARVO_S_OK when no object of the library is alive and no factory is locked, else S_FALSE.
__attribute__((visibility("default"))) int32_t DllCanUnloadNow(void);

// The same registration into a given store file (staging, tests).
__attribute__((visibility("default"))) int32_t CarvoRegisterServerIn(const char* storeFile);
__attribute__((visibility("default"))) int32_t CarvoUnregisterServerIn(const char* storeFile);
// Bitmap resource id as a complete .bmp file (30000 is the toolbox bitmap). *size gives the
// buffer's capacity and receives the resource's size; the bytes are copied when they fit.
// S_OK when copied, S_FALSE when buffer is null or too small, E_INVALIDARG for an unknown id
// or a null size.
__attribute__((visibility("default"))) int32_t CarvoLoadBitmap(int32_t id, uint8_t* buffer,
                                                               size_t* size);

#ifdef __cplusplus
}  // extern "C"

#include <filesystem>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "automation/Guid.h"

namespace carvo {

inline constexpr const char* kClassesRoot = "HKEY_LOCAL_MACHINE\\Software\\Classes";

// A key path from its parts: regKey({kClassesRoot, "CLSID", clsid}).
inline std::string regKey(std::initializer_list<std::string_view> parts) {
    std::string path;
    for (std::string_view p : parts) {
        if (!path.empty()) path += '\\';
        path += p;
    }
    return path;
}

// One text value the registration writes ("" names a key's default value).
struct RegistrationEntry {
    std::string key;
    std::string name;
    std::string value;
};

// Everything registering this library file writes, from the type-library table.
std::vector<RegistrationEntry> registrationEntries(const std::filesystem::path& libraryFile);

// Throws std::system_error when the store cannot be written.
void registerServer(const std::filesystem::path& storeFile,
                    const std::filesystem::path& libraryFile);
void unregisterServer(const std::filesystem::path& storeFile);

// The file this library was loaded from, as an absolute path.
std::filesystem::path thisLibraryFile();

inline carvo_guid toCGuid(const Guid& g) {
    carvo_guid c{g.data1, g.data2, g.data3, {}};
    for (std::size_t i = 0; i < 8; ++i) c.data4[i] = g.data4[i];
    return c;
}
inline Guid fromCGuid(const carvo_guid& c) {
    Guid g;
    g.data1 = c.data1;
    g.data2 = c.data2;
    g.data3 = c.data3;
    for (std::size_t i = 0; i < 8; ++i) g.data4[i] = c.data4[i];
    return g;
}

}  // namespace carvo
#endif
