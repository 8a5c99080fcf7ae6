#include "pages/PropertySheetDialog.h"

#include <QHBoxLayout>
#include <QMessageBox>
#include <QVBoxLayout>

#include "pages/AboutView.h"
#include "pages/DownLoadPropertiesView.h"

namespace carvo::pages {

QWidget* createPageView(const std::shared_ptr<Dispatch>& page, QWidget* parent) {
    if (auto p = std::dynamic_pointer_cast<DownLoad_Properties>(page))
        return new DownLoadPropertiesView(std::move(p), parent);
    if (auto a = std::dynamic_pointer_cast<About>(page)) return new AboutView(std::move(a), parent);
    return nullptr;
}

PropertySheetDialog::PropertySheetDialog(PropertySheet& sheet, const QString& caption,
                                         QWidget* parent)
    : QDialog(parent), sheet_(sheet) {
    setObjectName("PropertySheet");
    setWindowTitle(caption);
    report_ = [this](const QString& text) { QMessageBox::critical(this, windowTitle(), text); };

    tabs = new QTabWidget(this);
    tabs->setObjectName("tabs");
    for (const auto& p : sheet_.pages()) {
        QWidget* view = createPageView(p.object, nullptr);
        const QString title =
            QString::fromUtf8(p.page->pageInfo().title.data(),
                              static_cast<qsizetype>(p.page->pageInfo().title.size()));
        if (view == nullptr) view = new QWidget;
        // Each page keeps its own size at the top left of its tab, as the sheet sizes itself
        // to the largest page.
        auto* holder = new QWidget;
        view->setParent(holder);
        view->move(0, 0);
        holder->setMinimumSize(view->size());
        tabs->addTab(holder, title);
    }

    okButton = new QPushButton("OK", this);
    okButton->setObjectName("okButton");
    okButton->setDefault(true);
    cancelButton = new QPushButton("Cancel", this);
    cancelButton->setObjectName("cancelButton");
    applyButton = new QPushButton("&Apply", this);
    applyButton->setObjectName("applyButton");

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(okButton);
    buttons->addWidget(cancelButton);
    buttons->addWidget(applyButton);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(tabs);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    connect(okButton, &QPushButton::clicked, this, [this] { okPressed(); });
    connect(cancelButton, &QPushButton::clicked, this, &QDialog::reject);
    connect(applyButton, &QPushButton::clicked, this, [this] { applyChanges(); });
    sheet_.setStatusListener([this] { updateApply(); });
    updateApply();
}

PropertySheetDialog::~PropertySheetDialog() { sheet_.setStatusListener(nullptr); }

bool PropertySheetDialog::applyChanges() {
    auto failure = sheet_.apply();
    updateApply();
    if (failure) {
        report_(QString::fromStdString(*failure));
        return false;
    }
    return true;
}

void PropertySheetDialog::okPressed() {
    if (applyChanges()) accept();
}

void PropertySheetDialog::updateApply() { applyButton->setEnabled(sheet_.applyEnabled()); }

}  // namespace carvo::pages
