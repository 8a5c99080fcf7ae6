#pragma once
// Fields, a frame and a container site for testing pages without a screen. Everything that
// happens is written into one log, so orders (and nesting) can be read off it.

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "DownLoad.h"
#include "pages/PropertyPage.h"

namespace carvo::test {

using Log = std::vector<std::string>;

class FakeText : public ComboField {
  public:
    FakeText(Log& log, std::string name, std::string text = {})
        : log_(log), name_(std::move(name)), text_(std::move(text)) {}
    std::string text() const override { return text_; }
    void setText(const std::string& t) override {
        if (t == text_) return;
        text_ = t;
        log_.push_back(name_ + "=" + t);
        changed();
    }
    // A user's typing.
    void type(const std::string& t) { setText(t); }
    void addItem(const std::string& item) override { items_.push_back(item); }
    std::vector<std::string> items() const override { return items_; }

  private:
    Log& log_;
    std::string name_;
    std::string text_;
    std::vector<std::string> items_;
};

class FakeCheck : public CheckField {
  public:
    FakeCheck(Log& log, std::string name) : log_(log), name_(std::move(name)) {}
    int value() const override { return value_; }
    void setValue(int v) override {
        if (v == value_) return;
        value_ = v;
        log_.push_back(name_ + " click " + std::to_string(v));
        changed();
    }

  private:
    Log& log_;
    std::string name_;
    int value_ = Unchecked;
};

// The six fields of DownLoad_Properties, as its window starts.
struct PropertiesFields {
    explicit PropertiesFields(Log& log)
        : txtUrl(log, "txtUrl"),
          txtSaveLocation(log, "txtSaveLocation"),
          ChunkCombo(log, "ChunkCombo", "Select Chunk Size*"),
          Chkpreserve(log, "Chkpreserve"),
          ChkOC(log, "ChkOC"),
          ChkPC(log, "ChkPC") {}
    DownLoad_Properties::Fields fields() {
        return {txtUrl, txtSaveLocation, ChunkCombo, Chkpreserve, ChkOC, ChkPC};
    }
    FakeText txtUrl, txtSaveLocation, ChunkCombo;
    FakeCheck Chkpreserve, ChkOC, ChkPC;
};

class RecordingFrame : public PropertyPageSite {
  public:
    explicit RecordingFrame(Log& log) : log_(log) {}
    void onStatusChange() override { log_.push_back("status"); }

  private:
    Log& log_;
};

// Records the control's change notifications (prefixed with a name, for several controls).
class NamedSite : public ContainerSite {
  public:
    NamedSite(Log& log, std::string prefix) : log_(log), prefix_(std::move(prefix)) {}
    void onPropertyChanged(std::string_view name) override {
        log_.push_back(prefix_ + "changed " + std::string(name));
    }
    void requestExtent(const Extent&) override {}
    HostServices* hostServices() override { return nullptr; }

  private:
    Log& log_;
    std::string prefix_;
};

// A control's dispatch as a page sees it, logging each read by name; it can be told to fail
// one read.
class SpyDispatch : public Dispatch {
  public:
    SpyDispatch(Log& log, std::shared_ptr<Dispatch> inner) : log_(log), inner_(std::move(inner)) {}
    const InterfaceInfo& typeInfo() const override { return inner_->typeInfo(); }
    Variant invoke(DispId id, InvokeKind kind, std::span<Variant> args) override {
        const MemberInfo* m = typeInfo().find(id, MemberKind::PropertyGet);
        const std::string name = m ? std::string(m->name) : "?";
        if (kind == InvokeKind::PropertyGet) {
            log_.push_back("get " + name);
            if (name == failGet) throw ComError(hr::Fail, "read failed");
        }
        return inner_->invoke(id, kind, args);
    }
    std::string failGet;

  private:
    Log& log_;
    std::shared_ptr<Dispatch> inner_;
};

}  // namespace carvo::test
