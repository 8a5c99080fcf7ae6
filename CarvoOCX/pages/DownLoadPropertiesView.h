#pragma once
// The window of the DownLoad_Properties page: its fields where the page's layout puts them,
// made the page's fields. Each widget carries its name as its objectName.

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QWidget>
#include <memory>

#include "DownLoad_Properties.h"
#include "pages/PageWidgets.h"

namespace carvo::pages {

class DownLoadPropertiesView : public QWidget {
    Q_OBJECT

  public:
    // Activates the page on this window (which fills the list and loads a selection already
    // given); a failed load comes back as ComError.
    explicit DownLoadPropertiesView(std::shared_ptr<DownLoad_Properties> page,
                                    QWidget* parent = nullptr);
    ~DownLoadPropertiesView() override;
    DownLoadPropertiesView(const DownLoadPropertiesView&) = delete;
    DownLoadPropertiesView& operator=(const DownLoadPropertiesView&) = delete;

    DownLoad_Properties& page() { return *page_; }

    QLabel* lblUrl;
    QLineEdit* txtUrl;
    QLabel* lblCHUNK;
    QLabel* lblSaveLocation;
    QLineEdit* txtSaveLocation;
    QComboBox* ChunkCombo;
    QLabel* Label1;
    QCheckBox* Chkpreserve;
    QCheckBox* ChkOC;
    QCheckBox* ChkPC;

  private:
    std::shared_ptr<DownLoad_Properties> page_;
    LineEditField urlField_;
    LineEditField saveLocationField_;
    ComboBoxField chunkField_;
    CheckBoxField preserveField_;
    CheckBoxField onlineCheckField_;
    CheckBoxField promptField_;
};

}  // namespace carvo::pages
