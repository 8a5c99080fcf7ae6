#include "DownLoad.h"

#include "Formatting.h"
#include "TypeLib.h"
#include "host/ConsoleHost.h"

namespace carvo {

namespace {

// The services of a control that has no site yet: nobody to ask, nothing to yield to.
class SitelessHost : public HostServices {
public:
    void yield() override {}
    MsgBoxResult messageBox(std::string_view, int style, std::string_view) override {
        return (style & mb::ButtonMask) == mb::YesNo ? MsgBoxResult::No : MsgBoxResult::Ok;
    }
    std::string inputBox(std::string_view, std::string_view, std::string_view) override {
        return {};
    }
    bool canAsk() const override { return false; }
    double monotonicSeconds() override { return steadySeconds(); }
};

// A boolean argument keeps its 16-bit value as given (Pause(1) stores 1, which does not
// pause); texts such as "True" and other types go through the automation conversion.
VBool rawBool(const Variant& v) {
    switch (v.type()) {
        case VarType::Integer:
        case VarType::Boolean: return static_cast<VBool>(v.toLong());
        case VarType::Long: {
            std::int32_t l = v.toLong();
            if (l >= INT16_MIN && l <= INT16_MAX) return static_cast<VBool>(l);
            return v.toBool();
        }
        default: return v.toBool();
    }
}

}  // namespace

DownLoad::DownLoad(DownLoadEnvironment env)
    : env_(std::move(env)),
      decimalPoint_(env_.decimalPoint ? env_.decimalPoint : userDecimalPoint()),
      events_(downLoadEventInterface()),
      fallbackHost_(std::make_unique<SitelessHost>()) {
    YieldFn yield = [this] { host().yield(); };
    i1_ = env_.makeTransfer ? env_.makeTransfer(yield) : makeCurlTransfer(yield);
    // A cancel or a pause made while i1 waits for a piece acts at once, however slowly the
    // server sends: i1 hands back what it has, and the loop's next pass honours the request.
    i1_->setStopRequest([this] {
        if (ccancel_ == VFalse && CPause_ != VTrue) return false;
        stopSeen_ = true;
        return true;
    });
}

DownLoad::~DownLoad() = default;

HostServices& DownLoad::host() {
    HostServices* h = site_ ? site_->hostServices() : nullptr;
    return h ? *h : *fallbackHost_;
}

const InterfaceInfo& DownLoad::typeInfo() const { return downLoadInterface(); }

std::uint32_t DownLoad::miscStatus() const { return kDownLoadMiscStatus; }

std::vector<Guid> DownLoad::propertyPages() const {
    return {clsidDownLoadProperties(), clsidAbout()};
}

// ---- properties ---------------------------------------------------------------------------

void DownLoad::notify(std::string_view name) {
    if (site_) site_->onPropertyChanged(name);
}

std::string DownLoad::FileName() const { return GFN(Url_); }

void DownLoad::setROLLBACK(std::int32_t v) {
    ROLLBACK_ = v;
    notify("ROLLBACK");
}
void DownLoad::setPromptOverwrite(VBool v) {
    PromptOverwrite_ = v;
    notify("PromptOverwrite");
}
void DownLoad::setOnlineCheck(VBool v) {
    OnlineCheck_ = v;
    notify("OnlineCheck");
}
void DownLoad::setKeepType(VBool v) {
    KeepType_ = v;
    notify("KeepType");
}
void DownLoad::setUrl(std::string v) {
    Url_ = std::move(v);
    notify("Url");
}
void DownLoad::setCHUNK(std::int32_t v) {
    CHUNK_ = v;
    notify("CHUNK");
}
void DownLoad::setSaveLocation(std::string v) {
    SaveLocation_ = std::move(v);
    notify("SaveLocation");
}

Variant DownLoad::invoke(DispId id, InvokeKind kind, std::span<Variant> args) {
    const MemberInfo& m = checkInvoke(downLoadInterface(), id, kind, args.size());
    if (m.kind == MemberKind::PropertyPut) {
        const Variant& v = args[0];
        switch (id) {
            case dispid::ROLLBACK: setROLLBACK(v.toLong()); break;
            case dispid::PromptOverwrite: setPromptOverwrite(rawBool(v)); break;
            case dispid::OnlineCheck: setOnlineCheck(rawBool(v)); break;
            case dispid::KeepType: setKeepType(rawBool(v)); break;
            case dispid::SaveLocation: setSaveLocation(v.toString()); break;
            case dispid::CHUNK: setCHUNK(v.toLong()); break;
            case dispid::Url: setUrl(v.toString()); break;
            default: throw ComError(hr::MemberNotFound, "Member not found");
        }
        return {};
    }
    switch (id) {
        case dispid::FileName: return FileName();
        case dispid::InDL: return Variant::fromBool(InDL_);
        case dispid::AResume:
        case dispid::ResumeSupported: return Variant::fromBool(ResumeSupported_);
        case dispid::CPause: return Variant::fromBool(CPause_);
        case dispid::ccancel: return Variant::fromBool(ccancel_);
        case dispid::ROLLBACK: return ROLLBACK_;
        case dispid::Connected: return Variant::fromBool(Connected_);
        case dispid::PromptOverwrite: return Variant::fromBool(PromptOverwrite_);
        case dispid::OnlineCheck: return Variant::fromBool(OnlineCheck_);
        case dispid::KeepType: return Variant::fromBool(KeepType_);
        case dispid::FileExists: return Variant::fromBool(FileExists_);
        case dispid::FileSize: return FileSize_;
        case dispid::Url: return Url_;
        case dispid::CHUNK: return CHUNK_;
        case dispid::SaveLocation: return SaveLocation_;
        case dispid::DownLoad: DownLoadFile(); return {};
        case dispid::GetFileInformation: GetFileInformation(); return {};
        case dispid::Cancel: Cancel(); return {};
        case dispid::DLResume: DLResume(); return {};
        case dispid::Pause: {
            VBool b = rawBool(args[0]);
            args[0] = Variant::fromBool(b);  // by reference: the caller sees the Boolean
            Pause(b);
            return {};
        }
        case dispid::GFN: {
            std::string text = args[0].toString();
            args[0] = text;
            return GFN(text);
        }
        default: break;
    }
    throw ComError(hr::MemberNotFound, "Member not found");
}

// ---- container side -----------------------------------------------------------------------

void DownLoad::initNew() {
    Url_ = kDefaultUrl;
    CHUNK_ = kDefaultChunk;
    SaveLocation_ = kDefaultSaveLocation;
    KeepType_ = VFalse;
    OnlineCheck_ = VFalse;
    PromptOverwrite_ = VFalse;
}

void DownLoad::load(PropertyBag& bag) {
    // Each key is stored as soon as it is converted, so a bad value ends the load with the
    // properties before it already loaded.
    Url_ = bag.read("URL", Variant(kDefaultUrl)).toString();
    CHUNK_ = bag.read("CHUNK", Variant(static_cast<std::int16_t>(kDefaultChunk))).toLong();
    SaveLocation_ = bag.read("SaveLocation", Variant(kDefaultSaveLocation)).toString();
    KeepType_ = bag.read("KeepType", Variant::fromBool(VFalse)).toBool();
    OnlineCheck_ = bag.read("OnlineCheck", Variant::fromBool(VFalse)).toBool();
    PromptOverwrite_ = bag.read("PromptOverwrite", Variant::fromBool(VFalse)).toBool();
}

void DownLoad::save(PropertyBag& bag) {
    bag.write("URL", Url_, Variant(kDefaultUrl));
    bag.write("CHUNK", CHUNK_, Variant(static_cast<std::int16_t>(kDefaultChunk)));
    bag.write("SaveLocation", SaveLocation_, Variant(kDefaultSaveLocation));
    bag.write("KeepType", Variant::fromBool(KeepType_), Variant::fromBool(VFalse));
    bag.write("OnlineCheck", Variant::fromBool(OnlineCheck_), Variant::fromBool(VFalse));
    bag.write("PromptOverwrite", Variant::fromBool(PromptOverwrite_), Variant::fromBool(VFalse));
}

void DownLoad::resize(const Extent& requested) {
    extent_ = requested;
    const Extent fixed{kControlExtentTwips, kControlExtentTwips};
    if (extent_ == fixed) return;  // already our size: the container's echo ends here
    if (site_) site_->requestExtent(fixed);
    extent_ = fixed;
}

// ---- events -------------------------------------------------------------------------------

void DownLoad::raise(DispId id, Variant arg) {
    Variant args[1] = {std::move(arg)};
    events_.fire(id, args);
}

void DownLoad::raise(DispId id) { events_.fire(id, {}); }

void DownLoad::raiseStatus(std::string text) { raise(eventid::StatusChange, std::move(text)); }
void DownLoad::raiseCode(std::int32_t code) { raise(eventid::DLECode, code); }
void DownLoad::raiseError(std::string text) { raise(eventid::DLError, std::move(text)); }

// ---- cancel and pause ---------------------------------------------------------------------

void DownLoad::executeRequest(std::string_view extraHeaders) {
    ++requestSerial_;
    i1_->execute("GET", extraHeaders);
}

void DownLoad::cancelRequest() {
    ++requestSerial_;
    i1_->cancel();
}

void DownLoad::Cancel() {
    auto alive = keepAlive();
    ccancel_ = VTrue;
    raiseStatus("Cancelando..");
}

void DownLoad::Pause(VBool blnPause) {
    auto alive = keepAlive();
    CPause_ = blnPause;
    if (blnPause == VFalse) raiseStatus("Despausando");
}

// ---- connection check ---------------------------------------------------------------------

std::int16_t DownLoad::CheckConnection() {
    ConnectedState state = env_.connectionQuery ? env_.connectionQuery() : queryConnectedState();
    if (state.flags & conn::Modem) raise(eventid::ConnectionState, "Conectado Via Modem.");
    if (state.flags & conn::Lan) raise(eventid::ConnectionState, "Conectado Via LAN.");
    if (state.flags & conn::Proxy) raise(eventid::ConnectionState, "Conectado Através de Proxy.");
    return state.connected ? 1 : 0;
}

std::shared_ptr<DownLoad> createDownLoad() { return std::make_shared<DownLoad>(); }

}  // namespace carvo
