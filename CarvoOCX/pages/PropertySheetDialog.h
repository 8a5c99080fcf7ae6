#pragma once
// The property sheet: one tab a page, OK, Cancel and Apply (enabled while a page is changed).

#include <QDialog>
#include <QPushButton>
#include <QTabWidget>
#include <functional>

#include "tools/PropertySheet.h"

namespace carvo::pages {

// The view of a page object of this library; nullptr for a page it has no view for. A failed
// load of the selection comes back as ComError.
QWidget* createPageView(const std::shared_ptr<Dispatch>& page, QWidget* parent);

class PropertySheetDialog : public QDialog {
    Q_OBJECT

  public:
    PropertySheetDialog(PropertySheet& sheet, const QString& caption, QWidget* parent = nullptr);
    ~PropertySheetDialog() override;
    PropertySheetDialog(const PropertySheetDialog&) = delete;
    PropertySheetDialog& operator=(const PropertySheetDialog&) = delete;

    // How a failure is told; a message box unless replaced.
    void setErrorReporter(std::function<void(const QString&)> report) {
        report_ = std::move(report);
    }

    // Apply's work: true when every changed page took its values.
    bool applyChanges();
    // OK's: apply, and close only when that worked.
    void okPressed();

    QTabWidget* tabs;
    QPushButton* okButton;
    QPushButton* cancelButton;
    QPushButton* applyButton;

  private:
    void updateApply();

    PropertySheet& sheet_;
    std::function<void(const QString&)> report_;
};

}  // namespace carvo::pages
