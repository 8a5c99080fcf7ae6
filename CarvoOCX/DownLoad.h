#pragma once
// The DownLoad control: fetches one file over HTTP into a local file and tells its host
// everything through events. Hosts reach it late-bound (Dispatch) and hear it through its
// connection point; the container drives its persistence and size (OleControl).

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "automation/Container.h"
#include "automation/Dispatch.h"
#include "automation/Events.h"
#include "automation/PropertyBag.h"
#include "host/HostServices.h"
#include "inet/ConnectionState.h"
#include "inet/Transfer.h"
#include "Library.h"
#include "TypeLib.h"

namespace carvo {

// What the control needs from its surroundings; every piece can be replaced in tests.
struct DownLoadEnvironment {
    // Creates the transfer component i1; it yields through the function it is given.
    std::function<std::unique_ptr<Transfer>(YieldFn)> makeTransfer;
    // The connected-state query behind CheckConnection.
    ConnectionQuery connectionQuery;
    // The decimal separator of rates; 0 takes the user's regional settings.
    char decimalPoint = 0;
};

inline constexpr const char* kDefaultUrl = "http://www.carvo-software.com.br/";
inline constexpr const char* kDefaultSaveLocation = "C:\\Arquivo.tmp";
inline constexpr std::int32_t kDefaultChunk = 1024;

class DownLoad final : public Dispatch, public OleControl, public std::enable_shared_from_this<DownLoad> {
public:
    explicit DownLoad(DownLoadEnvironment env = {});
    ~DownLoad() override;
    DownLoad(const DownLoad&) = delete;
    DownLoad& operator=(const DownLoad&) = delete;

    // Dispatch
    const InterfaceInfo& typeInfo() const override;
    Variant invoke(DispId id, InvokeKind kind, std::span<Variant> args) override;

    // OleControl
    void setClientSite(ContainerSite* site) override { site_ = site; }
    void initNew() override;
    void load(PropertyBag& bag) override;
    void save(PropertyBag& bag) override;
    void resize(const Extent& requested) override;
    Extent extent() const override { return extent_; }
    bool visibleAtRunTime() const override { return false; }
    std::uint32_t miscStatus() const override;
    std::vector<Guid> propertyPages() const override;
    ConnectionPoint& connectionPoint() override { return events_; }

    // The members of _DownLoad, callable directly by C++ hosts and tests.
    std::string FileName() const;
    VBool InDL() const { return InDL_; }
    VBool AResume() const { return ResumeSupported_; }
    VBool CPause() const { return CPause_; }
    VBool ccancel() const { return ccancel_; }
    std::int32_t ROLLBACK() const { return ROLLBACK_; }
    void setROLLBACK(std::int32_t v);
    VBool ResumeSupported() const { return ResumeSupported_; }
    VBool Connected() const { return Connected_; }
    VBool PromptOverwrite() const { return PromptOverwrite_; }
    void setPromptOverwrite(VBool v);
    VBool OnlineCheck() const { return OnlineCheck_; }
    void setOnlineCheck(VBool v);
    VBool KeepType() const { return KeepType_; }
    void setKeepType(VBool v);
    VBool FileExists() const { return FileExists_; }
    std::int32_t FileSize() const { return FileSize_; }
    std::string Url() const { return Url_; }
    void setUrl(std::string v);
    std::int32_t CHUNK() const { return CHUNK_; }
    void setCHUNK(std::int32_t v);
    std::string SaveLocation() const { return SaveLocation_; }
    void setSaveLocation(std::string v);

    void GetFileInformation();
    void DownLoadFile();  // the method DownLoad (the class name takes the plain name)
    void Cancel();
    void DLResume();
    void Pause(VBool blnPause);

    // Run-time fields without a property, for hosts written in C++ and for tests.
    std::int32_t BytesReceived() const { return BytesReceived_; }
    float BytesPerSecond() const { return BytesPerSecond_; }
    float SecondsLeft() const { return SecondsLeft_; }
    Transfer& i1() { return *i1_; }

    // The three numbers of a Content-Range "bytes first-last/total" (digits only, each within
    // range, first <= last < total); false when it is not exactly that.
    static bool parseContentRange(std::string_view contentRange, long long& first, long long& last,
                                  long long& total);

private:
    HostServices& host();
    void notify(std::string_view name);
    std::int16_t CheckConnection();

    // Every request the control starts or ends on i1 gets a new serial, so a loop can tell
    // that a call made from a yield or an event handler replaced the response it reads.
    void executeRequest(std::string_view extraHeaders = {});
    void cancelRequest();
    // Held for the length of a method: a host may release the control from an event handler.
    std::shared_ptr<DownLoad> keepAlive() { return weak_from_this().lock(); }

    // The transfer loops share their pass; only their texts and the offset differ.
    struct LoopTexts {
        const char* receiving;
        const char* paused;
        const char* done;
    };
    // False (after raising code 5) when OnlineCheck is on and no probe found a connection.
    bool passesConnectionGate(const char* errorText);
    // Reads the body of the response with serial `request` into file from offset on.
    void pieceLoop(class TargetFile& file, std::uint64_t request, std::int32_t chunk,
                   std::int32_t offset, const LoopTexts& texts);
    void waitWhilePaused(class TargetFile& file, const char* pausedText);
    // True when a header block names one length only: Content-Length lines that all agree,
    // and no Transfer-Encoding that would make the body follow another rule.
    static bool lengthIsAgreed(std::string_view headerBlock);
    // What If-Range may carry to name the version of the current response's file: its ETag
    // when strong, else (without any ETag) its Last-Modified date when the response's Date
    // shows it to be strong. Empty when there is no such validator: a resume then cannot ask
    // for the rest of this very version, and is refused.
    std::string strongValidator();

    // Events.
    void raise(DispId id, Variant arg);
    void raise(DispId id);
    void raiseStatus(std::string text);
    void raiseCode(std::int32_t code);
    void raiseError(std::string text);

    LiveObject live_;
    ContainerSite* site_ = nullptr;
    DownLoadEnvironment env_;
    char decimalPoint_;
    ConnectionPoint events_;
    Extent extent_{kControlExtentTwips, kControlExtentTwips};
    std::unique_ptr<HostServices> fallbackHost_;
    std::unique_ptr<Transfer> i1_;

    // Instance state, in declaration order.
    VBool ResumeSupported_ = VFalse;
    VBool ccancel_ = VFalse;
    VBool CPause_ = VFalse;
    std::string Url_;
    std::int32_t FileSize_ = 0;
    std::int32_t CHUNK_ = 0;
    VBool FileExists_ = VFalse;
    std::int32_t BytesReceived_ = 0;
    std::string SaveLocation_;
    VBool KeepType_ = VFalse;
    VBool OnlineCheck_ = VFalse;
    VBool PromptOverwrite_ = VFalse;
    VBool Connected_ = VFalse;
    std::int32_t ROLLBACK_ = 0;
    VBool InDL_ = VFalse;
    double StartTime_ = 0;  // a monotonic reading, not a time of day

    // The file this control last wrote, with the address and the strongValidator() of the
    // response it came from (empty when it had none): a resume of that file asks for the rest
    // only of the same version of it (If-Range), so a file changed on the server between two
    // transfers is never spliced, and without a validator it is not resumed at all.
    struct Written {
        std::string url, path, tag;
    } written_;
    float SecondsLeft_ = 0;
    float BytesPerSecond_ = 0;

    std::uint64_t requestSerial_ = 0;
    // Set when i1 asked whether to stop waiting and was told yes: the piece it handed back is
    // then short because of a cancel or a pause, not because the body ended.
    bool stopSeen_ = false;
    // The serial of the response a successful probe left open and nothing has read yet; 0 for
    // none. DownLoad saves only such a response.
    std::uint64_t unreadProbedRequest_ = 0;
};

// Creates a DownLoad with the real transfer component and connection query.
std::shared_ptr<DownLoad> createDownLoad();

}  // namespace carvo
