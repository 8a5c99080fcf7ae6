#pragma once
// DownLoad_Properties: the control's first property page. It edits the six persistent
// properties of the first selected control, reading and writing them through the control's
// dispatch interface by name. Only the behaviour lives here; a view supplies the fields.

#include <memory>
#include <string>

#include "Library.h"
#include "automation/Dispatch.h"
#include "pages/PropertyPage.h"

namespace carvo {

// Page size in twips and its caption.
inline constexpr int kPropertiesPageWidth = 5790;
inline constexpr int kPropertiesPageHeight = 3255;
inline constexpr const char* kChunkComboInitialText = "Select Chunk Size*";

class DownLoad_Properties final : public Dispatch, public PropertyPageBase {
  public:
    // The editable fields of the page's window.
    struct Fields {
        TextField& txtUrl;
        TextField& txtSaveLocation;
        ComboField& ChunkCombo;
        CheckField& Chkpreserve;
        CheckField& ChkOC;
        CheckField& ChkPC;
    };

    DownLoad_Properties() = default;
    ~DownLoad_Properties() override;
    DownLoad_Properties(const DownLoad_Properties&) = delete;
    DownLoad_Properties& operator=(const DownLoad_Properties&) = delete;

    // Dispatch: the page has no members of its own.
    const InterfaceInfo& typeInfo() const override;
    Variant invoke(DispId id, InvokeKind kind, std::span<Variant> args) override;

    PageInfo pageInfo() const override;

    // The page's window was created with these fields: fills the chunk list, listens to the
    // fields and loads a selection given before. The fields must outlive the activation;
    // deactivate() before they go. May throw as a selection change does.
    void activate(const Fields& fields);
    void deactivate();
    bool active() const { return fields_ != nullptr; }

    // The page's own flags, written to the control on apply (not read from the boxes then).
    VBool keepTypeFlag() const { return keepType_; }
    VBool onlineCheckFlag() const { return onlineCheck_; }
    VBool promptOverwriteFlag() const { return promptOverwrite_; }

  private:
    void selectionChanged() override;
    void applyChanges() override;

    // The fields' handlers.
    void txtUrl_Change();
    void txtSaveLocation_Change();
    void ChunkCombo_Change();
    void Chkpreserve_Click();
    void ChkOC_Click();
    void ChkPC_Click();

    LiveObject live_;
    std::unique_ptr<Fields> fields_;
    VBool keepType_ = VFalse;
    VBool onlineCheck_ = VFalse;
    VBool promptOverwrite_ = VFalse;
};

}  // namespace carvo
