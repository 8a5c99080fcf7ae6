#pragma once
// carvo-propsheet's window: the controls of one form, a selection of one or several of them,
// their property sheet, and saving the form.

#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QWidget>
#include <filesystem>
#include <functional>
#include <memory>

#include "pages/PropertySheetDialog.h"
#include "tools/PropertySheet.h"

namespace carvo::pages {

// Where the window gets its objects from (the registry store, in the program).
struct FormServices {
    ObjectCreator createControl;
    PropertySheet::PageCreator createPage;
    // The toolbox bitmap (.bmp bytes) of a control's class; may be empty.
    std::function<std::vector<std::uint8_t>(const std::string& progId)> toolboxBitmap;
};

class FormWindow : public QWidget {
    Q_OBJECT

  public:
    // Opens the form file; throws FormFileError or ComError when it cannot be opened.
    FormWindow(std::filesystem::path formFile, FormServices services, QWidget* parent = nullptr);

    DesignForm& form() { return *form_; }
    // The selected controls in the form's order (the first of them is the one the pages load).
    std::vector<std::shared_ptr<Dispatch>> selection() const;
    QString sheetCaption() const;

    // Shows the sheet over the selection, modal; false when nothing is selected or the sheet
    // could not load. The runner shows the dialog (exec() unless replaced, for tests).
    bool showProperties();
    void setSheetRunner(std::function<void(PropertySheetDialog&)> run) {
        runSheet_ = std::move(run);
    }
    // Writes the form file atomically; false (and a message) when it cannot.
    bool save();
    void setErrorReporter(std::function<void(const QString&)> report) {
        report_ = std::move(report);
    }

    QListWidget* controlList;
    QPushButton* propertiesButton;
    QPushButton* saveButton;
    QPushButton* closeButton;
    QLabel* statusLabel;

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    void updateState();

    std::filesystem::path file_;
    FormServices services_;
    std::unique_ptr<DesignForm> form_;
    std::function<void(PropertySheetDialog&)> runSheet_;
    std::function<void(const QString&)> report_;
};

}  // namespace carvo::pages
