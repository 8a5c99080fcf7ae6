#include "DownLoad_Properties.h"

#include "TypeLib.h"

namespace carvo {

namespace {

// A box shows checked only for True itself (-1); any other value, 1 included, is unchecked.
int boxStateFor(const Variant& value) {
    return value.toLong() == VTrue ? CheckField::Checked : CheckField::Unchecked;
}

VBool flagFor(const CheckField& box) { return box.value() == CheckField::Checked ? VTrue : VFalse; }

}  // namespace

DownLoad_Properties::~DownLoad_Properties() { deactivate(); }

const InterfaceInfo& DownLoad_Properties::typeInfo() const { return propertiesInterface(); }

Variant DownLoad_Properties::invoke(DispId id, InvokeKind kind, std::span<Variant> args) {
    checkInvoke(propertiesInterface(), id, kind, args.size());  // throws: there are no members
    throw ComError(hr::MemberNotFound, "Member not found");
}

PageInfo DownLoad_Properties::pageInfo() const {
    return {"DownLoad_Properties", kPropertiesPageWidth, kPropertiesPageHeight};
}

void DownLoad_Properties::activate(const Fields& fields) {
    deactivate();
    fields_ = std::make_unique<Fields>(fields);
    fields_->txtUrl.setChangeHandler([this] { txtUrl_Change(); });
    fields_->txtSaveLocation.setChangeHandler([this] { txtSaveLocation_Change(); });
    fields_->ChunkCombo.setChangeHandler([this] { ChunkCombo_Change(); });
    fields_->Chkpreserve.setChangeHandler([this] { Chkpreserve_Click(); });
    fields_->ChkOC.setChangeHandler([this] { ChkOC_Click(); });
    fields_->ChkPC.setChangeHandler([this] { ChkPC_Click(); });
    // The page's window is new: its list is filled once, here, and never cleared afterwards.
    for (const char* size : {"256", "512", "1024", "2048"}) fields_->ChunkCombo.addItem(size);
    // A frame may hand over its selection before the window exists; show it now.
    if (!selectedControls().empty()) selectionChanged();
}

void DownLoad_Properties::deactivate() {
    if (!fields_) return;
    for (PageField* f : std::initializer_list<PageField*>{
             &fields_->txtUrl, &fields_->txtSaveLocation, &fields_->ChunkCombo,
             &fields_->Chkpreserve, &fields_->ChkOC, &fields_->ChkPC})
        f->setChangeHandler(nullptr);
    fields_.reset();
}

// Loads the first selected control only, in a fixed order. Every field set that changes a
// field runs its handler (the boxes' click handlers too, nested inside this load), which is
// the only way the page's flags follow the boxes.
void DownLoad_Properties::selectionChanged() {
    if (!fields_ || selectedControls().empty()) return;
    Dispatch& control = *selectedControls().front();
    fields_->txtSaveLocation.setText(getProperty(control, "SaveLocation").toString());
    fields_->ChunkCombo.setText(std::to_string(getProperty(control, "CHUNK").toLong()));
    fields_->txtUrl.setText(getProperty(control, "Url").toString());
    fields_->Chkpreserve.setValue(boxStateFor(getProperty(control, "KeepType")));
    fields_->ChkOC.setValue(boxStateFor(getProperty(control, "OnlineCheck")));
    fields_->ChkPC.setValue(boxStateFor(getProperty(control, "PromptOverwrite")));
}

// Writes to the first selected control only, in a fixed order, with no check and no trimming.
// The chunk goes as text: the control's let converts it, and a text that is not a number stops
// the apply there with a type mismatch, SaveLocation already written.
void DownLoad_Properties::applyChanges() {
    if (!fields_ || selectedControls().empty()) return;
    Dispatch& control = *selectedControls().front();
    putProperty(control, "SaveLocation", Variant(fields_->txtSaveLocation.text()));
    putProperty(control, "CHUNK", Variant(fields_->ChunkCombo.text()));
    putProperty(control, "Url", Variant(fields_->txtUrl.text()));
    putProperty(control, "KeepType", Variant::fromBool(keepType_));
    putProperty(control, "OnlineCheck", Variant::fromBool(onlineCheck_));
    putProperty(control, "PromptOverwrite", Variant::fromBool(promptOverwrite_));
}

void DownLoad_Properties::txtUrl_Change() { setChanged(true); }
void DownLoad_Properties::txtSaveLocation_Change() { setChanged(true); }
void DownLoad_Properties::ChunkCombo_Change() { setChanged(true); }

void DownLoad_Properties::Chkpreserve_Click() {
    keepType_ = flagFor(fields_->Chkpreserve);
    setChanged(true);
}

void DownLoad_Properties::ChkOC_Click() {
    onlineCheck_ = flagFor(fields_->ChkOC);
    setChanged(true);
}

void DownLoad_Properties::ChkPC_Click() {
    promptOverwrite_ = flagFor(fields_->ChkPC);
    setChanged(true);
}

}  // namespace carvo
