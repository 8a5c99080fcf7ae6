#pragma once
// The host's side of in-process servers: find a class's library through the registry store,
// load it, ask its factory, and keep the library loaded while anything it handed out lives.
// A host built on this never links the control's library; it finds it as a system would.

#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <carvo/CarvoExport.h>
#include <carvo/automation/ClassFactory.h>
#include <carvo/automation/ComError.h>
#include <carvo/automation/Guid.h>

namespace carvo {

namespace hr {
inline constexpr HResult InvalidClassString = static_cast<HResult>(0x800401F3);
inline constexpr HResult DllNotFound = static_cast<HResult>(0x800401F8);
inline constexpr HResult ErrorInDll = static_cast<HResult>(0x800401F9);
}  // namespace hr

// One library file, loaded with dlopen for as long as this object and everything obtained
// from it live.
class CARVO_API InprocServer : public std::enable_shared_from_this<InprocServer> {
  public:
    // Throws ComError(DllNotFound) when the file cannot be loaded.
    static std::shared_ptr<InprocServer> load(const std::filesystem::path& file);
    ~InprocServer();
    InprocServer(const InprocServer&) = delete;
    InprocServer& operator=(const InprocServer&) = delete;

    const std::filesystem::path& file() const { return file_; }

    // The entry points; ComError(ErrorInDll) when the library lacks the one asked for.
    HResult registerServer();
    HResult unregisterServer();
    HResult registerServerIn(const std::filesystem::path& storeFile);
    HResult unregisterServerIn(const std::filesystem::path& storeFile);
    HResult canUnloadNow();
    // A bitmap resource of the library as a .bmp file; empty when it has none by that number.
    std::vector<std::uint8_t> loadBitmap(int id);
    // The factory, keeping this library loaded while it or an object it made lives;
    // ComError(ClassNotAvailable) when the library does not serve the class.
    std::shared_ptr<ClassFactory> getClassObject(const Guid& clsid);

  private:
    struct Loaded {};  // only load() makes one

  public:
    InprocServer(Loaded, std::filesystem::path file, void* handle)
        : file_(std::move(file)), handle_(handle) {}

  private:
    void* symbol(const char* name) const;

    std::filesystem::path file_;
    void* handle_;
};

// Creates objects by CLSID or ProgID through one registry store.
class CARVO_API ComHost {
  public:
    explicit ComHost(std::filesystem::path storeFile);

    // The CLSID registered for a ProgID, or the text itself when it is a CLSID in braces;
    // nullopt when neither.
    std::optional<Guid> classIdOf(std::string_view progIdOrClsid) const;
    // The class's in-process server file; ComError(ClassNotRegistered) when not registered.
    std::filesystem::path serverFile(const Guid& clsid) const;

    std::shared_ptr<ClassFactory> getClassObject(const Guid& clsid);
    std::shared_ptr<Dispatch> createInstance(const Guid& clsid);
    // The class's toolbox bitmap ("file, number" under ToolboxBitmap32); empty when the class
    // has none or it cannot be read.
    std::vector<std::uint8_t> toolboxBitmap(const Guid& clsid);
    // ComError(InvalidClassString) for a name that is neither registered nor a CLSID.
    std::shared_ptr<Dispatch> createInstance(std::string_view progIdOrClsid);

  private:
    std::shared_ptr<InprocServer> server(const std::filesystem::path& file);

    std::filesystem::path storeFile_;
    // Libraries already loaded, by file; a library goes when its last object goes.
    std::map<std::filesystem::path, std::weak_ptr<InprocServer>> servers_;
};

}  // namespace carvo
