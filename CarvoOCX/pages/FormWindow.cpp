#include "pages/FormWindow.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QImage>
#include <QMessageBox>
#include <QPixmap>
#include <QVBoxLayout>

namespace carvo::pages {

namespace {

QString qs(const std::string& s) { return QString::fromStdString(s); }

}  // namespace

FormWindow::FormWindow(std::filesystem::path formFile, FormServices services, QWidget* parent)
    : QWidget(parent), file_(std::move(formFile)), services_(std::move(services)) {
    form_ = std::make_unique<DesignForm>(FormFile::load(file_), services_.createControl);
    setObjectName("FormWindow");
    setWindowTitle(qs(file_.filename().string()) + " - carvo-propsheet");
    report_ = [this](const QString& text) { QMessageBox::critical(this, windowTitle(), text); };
    runSheet_ = [](PropertySheetDialog& dialog) { dialog.exec(); };

    controlList = new QListWidget(this);
    controlList->setObjectName("controlList");
    controlList->setSelectionMode(QAbstractItemView::ExtendedSelection);
    for (const auto& c : form_->controls()) {
        auto* item = new QListWidgetItem(qs(c.name) + "  (" + qs(c.progId) + ")", controlList);
        if (services_.toolboxBitmap) {
            const auto bmp = services_.toolboxBitmap(c.progId);
            QImage image;
            if (!bmp.empty() && image.loadFromData(bmp.data(), static_cast<int>(bmp.size()), "BMP"))
                item->setIcon(QPixmap::fromImage(image));
        }
    }

    propertiesButton = new QPushButton("&Properties...", this);
    propertiesButton->setObjectName("propertiesButton");
    saveButton = new QPushButton("&Save", this);
    saveButton->setObjectName("saveButton");
    closeButton = new QPushButton("&Close", this);
    closeButton->setObjectName("closeButton");
    statusLabel = new QLabel(this);
    statusLabel->setObjectName("statusLabel");

    auto* buttons = new QVBoxLayout;
    buttons->addWidget(propertiesButton);
    buttons->addWidget(saveButton);
    buttons->addStretch();
    buttons->addWidget(closeButton);
    auto* top = new QHBoxLayout;
    top->addWidget(controlList);
    top->addLayout(buttons);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(statusLabel);

    connect(controlList, &QListWidget::itemSelectionChanged, this, [this] { updateState(); });
    connect(controlList, &QListWidget::itemDoubleClicked, this, [this] { showProperties(); });
    connect(propertiesButton, &QPushButton::clicked, this, [this] { showProperties(); });
    connect(saveButton, &QPushButton::clicked, this, [this] { save(); });
    connect(closeButton, &QPushButton::clicked, this, &QWidget::close);
    if (controlList->count() > 0) controlList->setCurrentRow(0);
    updateState();
}

std::vector<std::shared_ptr<Dispatch>> FormWindow::selection() const {
    std::vector<std::shared_ptr<Dispatch>> out;
    for (int row = 0; row < controlList->count(); ++row)
        if (controlList->item(row)->isSelected())
            out.push_back(form_->controls()[static_cast<std::size_t>(row)].object);
    return out;
}

QString FormWindow::sheetCaption() const {
    QStringList names;
    for (int row = 0; row < controlList->count(); ++row)
        if (controlList->item(row)->isSelected())
            names << qs(form_->controls()[static_cast<std::size_t>(row)].name);
    return names.join(", ") + " Properties";
}

bool FormWindow::showProperties() {
    auto selected = selection();
    if (selected.empty()) return false;
    try {
        PropertySheet sheet(selected, services_.createPage);
        PropertySheetDialog dialog(sheet, sheetCaption(), this);
        runSheet_(dialog);
    } catch (const ComError& e) {
        report_(qs(e.what()));
        updateState();
        return false;
    }
    updateState();
    return true;
}

bool FormWindow::save() {
    try {
        form_->toFormFile().save(file_);
    } catch (const std::exception& e) {
        report_(qs(e.what()));
        return false;
    }
    form_->markSaved();
    updateState();
    return true;
}

void FormWindow::closeEvent(QCloseEvent* event) {
    if (form_->modified()) {
        const auto answer = QMessageBox::question(
            this, windowTitle(), "Save the changes to " + qs(file_.filename().string()) + "?",
            QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel);
        if (answer == QMessageBox::Cancel || (answer == QMessageBox::Save && !save())) {
            event->ignore();
            return;
        }
    }
    event->accept();
}

void FormWindow::updateState() {
    propertiesButton->setEnabled(!selection().empty());
    saveButton->setEnabled(form_->modified());
    statusLabel->setText(form_->modified() ? "Changed since last saved." : "Saved.");
}

}  // namespace carvo::pages
