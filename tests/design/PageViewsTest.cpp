// The pages' windows, the property sheet and carvo-propsheet's window on an offscreen screen:
// layout and captions, the Qt fields behaving as the page expects, the About link's colours,
// cursor and opener, Apply's enabling and failures, and a whole design session ending in a
// host (another process) loading the saved control. Screenshots go to the build folder.

#include <gtest/gtest.h>

#include <QApplication>
#include <QMouseEvent>
#include <QStyleOptionButton>
#include <QTest>

#include "ComHost.h"
#include "DownLoad.h"
#include "NginxServer.h"
#include "Registration.h"
#include "TypeLib.h"
#include "pages/AboutView.h"
#include "pages/DownLoadPropertiesView.h"
#include "pages/FormWindow.h"
#include "pages/PropertySheetDialog.h"

namespace carvo::test {
namespace {

using pages::AboutView;
using pages::DownLoadPropertiesView;

void screenshot(QWidget& w, const char* name) {
    const QByteArray dir = qgetenv("CARVO_BUILD_DIR");
    if (dir.isEmpty()) return;
    const auto folder = std::filesystem::path(dir.toStdString()) / "screenshots";
    std::filesystem::create_directories(folder);
    w.grab().save(QString::fromStdString((folder / name).string()));
}

Variant entry(const TextPropertyBag& bag, std::string_view key) {
    for (const auto& [k, v] : bag.entries())
        if (k == key) return v;
    return {};
}

QRect twips(int l, int t, int w, int h) { return {l / 15, t / 15, w / 15, h / 15}; }

std::shared_ptr<DownLoad> newControl() {
    auto c = createDownLoad();
    c->initNew();
    return c;
}

void move(QWidget* target, QPoint at) {
    QMouseEvent e(QEvent::MouseMove, at, target->mapToGlobal(at), Qt::NoButton, Qt::NoButton,
                  Qt::NoModifier);
    QApplication::sendEvent(target, &e);
}

TEST(PropertiesView, EveryFieldWhereTheLayoutPutsItWithItsCaptionAndTabOrder) {
    auto page = std::make_shared<DownLoad_Properties>();
    DownLoadPropertiesView view(page);
    EXPECT_EQ(view.size(), QSize(386, 217));
    struct Expect {
        const char* name;
        QRect geometry;
        const char* caption;
    };
    const Expect fields[] = {
        {"lblUrl", twips(120, 120, 2775, 255), "URL do Arquivo:"},
        {"txtUrl", twips(120, 360, 5535, 375), ""},
        {"lblCHUNK", twips(120, 840, 2775, 255), "Tamanho do CHUNK:"},
        {"lblSaveLocation", twips(120, 1440, 2775, 255), "Save Location:"},
        {"txtSaveLocation", twips(120, 1680, 5535, 375), ""},
        {"ChunkCombo", twips(120, 1080, 2655, 315), "Select Chunk Size*"},
        {"Label1", twips(0, 3000, 4065, 195),
         "* Nota - O melhor CHUNK para conexões de 56K é 1024."},
        {"Chkpreserve", twips(3120, 1080, 2535, 375), "Marque para preservar extensão do arquivo"},
        {"ChkOC", twips(120, 2160, 2055, 615),
         "Marque para testar conexão com a Internet antes do download"},
        {"ChkPC", twips(3120, 2160, 2415, 615),
         "Marque para perguntar ao usuário se ele(a) quer substituir arquivos"},
    };
    for (const auto& f : fields) {
        auto* w = view.findChild<QWidget*>(f.name);
        ASSERT_NE(w, nullptr) << f.name;
        EXPECT_EQ(w->geometry(), f.geometry) << f.name;
        QString caption;
        if (auto* l = qobject_cast<QLabel*>(w)) caption = l->text();
        if (auto* e = qobject_cast<QLineEdit*>(w)) caption = e->text();
        if (auto* c = qobject_cast<QComboBox*>(w)) caption = c->currentText();
        if (auto* b = qobject_cast<QCheckBox*>(w)) {
            caption = b->text();
            EXPECT_EQ(b->checkState(), Qt::Unchecked) << f.name;
            // The wrapped caption fits beside the indicator.
            QStyleOptionButton opt;
            opt.initFrom(b);
            const int indent =
                b->style()->subElementRect(QStyle::SE_CheckBoxIndicator, &opt, b).right() + 6;
            const QRect wrapped = QFontMetrics(b->font()).boundingRect(
                QRect(0, 0, b->width() - indent, 1000), Qt::TextWordWrap, b->text());
            EXPECT_LE(wrapped.height(), b->height()) << f.name;
        }
        EXPECT_EQ(caption, QString::fromUtf8(f.caption)) << f.name;
    }
    // The note fits its box on one line.
    EXPECT_LE(QFontMetrics(view.Label1->font()).horizontalAdvance(view.Label1->text()),
              view.Label1->width());

    EXPECT_TRUE(view.ChunkCombo->isEditable());
    QStringList items;
    for (int i = 0; i < view.ChunkCombo->count(); ++i) items << view.ChunkCombo->itemText(i);
    EXPECT_EQ(items, (QStringList{"256", "512", "1024", "2048"}));

    // Tab goes through the editable fields in their order.
    const QList<QWidget*> order{view.txtUrl,      view.txtSaveLocation, view.ChunkCombo,
                                view.Chkpreserve, view.ChkOC,           view.ChkPC};
    QList<QWidget*> seen;
    for (QWidget* w = view.txtUrl; seen.size() < order.size(); w = w->nextInFocusChain())
        if (order.contains(w) && !seen.contains(w)) seen << w;
    EXPECT_EQ(seen, order);
    EXPECT_FALSE(page->changed());
    screenshot(view, "design-DownLoad_Properties-new.png");
}

TEST(PropertiesView, QtFieldsReportChangesAsThePageExpects) {
    auto control = newControl();
    control->setKeepType(VTrue);
    control->setCHUNK(4096);
    auto page = std::make_shared<DownLoad_Properties>();
    page->setObjects({control});
    DownLoadPropertiesView view(page);
    view.show();

    EXPECT_EQ(view.ChunkCombo->currentText(), "4096");
    EXPECT_EQ(view.Chkpreserve->checkState(), Qt::Checked);
    EXPECT_EQ(page->keepTypeFlag(), VTrue);
    EXPECT_EQ(view.ChunkCombo->count(), 4);  // loading never touches the list
    page->apply();
    ASSERT_FALSE(page->changed());

    // Loading the same values again changes no field.
    page->setObjects({control});
    EXPECT_FALSE(page->changed());

    // Typing into the combo's text part, even pressing Enter, marks the page and leaves the
    // list alone.
    view.ChunkCombo->lineEdit()->clear();
    QTest::keyClicks(view.ChunkCombo->lineEdit(), "3000");
    QTest::keyClick(view.ChunkCombo->lineEdit(), Qt::Key_Return);
    EXPECT_TRUE(page->changed());
    EXPECT_EQ(view.ChunkCombo->count(), 4);
    page->apply();
    EXPECT_EQ(control->CHUNK(), 3000);

    // Choosing from the list changes the text part, which is what the page hears.
    view.ChunkCombo->setCurrentIndex(1);
    EXPECT_EQ(view.ChunkCombo->currentText(), "512");
    EXPECT_TRUE(page->changed());

    // A click on a box (anywhere on its wrapped caption) sets the page's flag.
    QTest::mouseClick(view.ChkOC, Qt::LeftButton, {}, QPoint(view.ChkOC->width() - 5, 30));
    EXPECT_EQ(view.ChkOC->checkState(), Qt::Checked);
    EXPECT_EQ(page->onlineCheckFlag(), VTrue);
    QTest::mouseClick(view.Chkpreserve, Qt::LeftButton);
    EXPECT_EQ(page->keepTypeFlag(), VFalse);
    QTest::keyClicks(view.txtUrl, "x");
    page->apply();
    EXPECT_EQ(control->OnlineCheck(), VTrue);
    EXPECT_EQ(control->KeepType(), VFalse);
    EXPECT_EQ(control->CHUNK(), 512);
    EXPECT_EQ(control->Url(), std::string(kDefaultUrl) + "x");
    screenshot(view, "design-DownLoad_Properties-edited.png");
}

TEST(AboutView, LabelsFontsCursorAndTheLinksColours) {
    auto about = std::make_shared<About>();
    std::vector<std::string> opened;
    about->setOpener([&](const std::string& url) { opened.push_back(url); });
    AboutView view(about);
    view.show();
    EXPECT_EQ(view.size(), QSize(353, 66));
    EXPECT_EQ(view.Label1->geometry(), twips(360, 120, 4590, 270));
    EXPECT_EQ(view.Label2->geometry(), twips(120, 600, 5025, 195));
    EXPECT_TRUE(view.Label1->text().startsWith("Carvo OCX - Feita por "));
    EXPECT_EQ(view.Label2->text().toStdString(), "Visite Meu Site: " + std::string(kDefaultUrl));
    for (QLabel* l : {view.Label1, view.Label2}) {
        const QString family = QFontInfo(l->font()).family();
        EXPECT_TRUE(family == "Verdana" || family == "DejaVu Sans") << family.toStdString();
        EXPECT_TRUE(l->font().bold());
        // Both texts fit their labels.
        EXPECT_LE(QFontMetrics(l->font()).horizontalAdvance(l->text()), l->width());
    }
    EXPECT_EQ(view.Label1->font().pointSizeF(), 12.0);
    EXPECT_EQ(view.Label2->font().pointSizeF(), 8.25);

    const QCursor cursor = view.Label2->cursor();
    EXPECT_EQ(cursor.shape(), Qt::BitmapCursor);
    EXPECT_EQ(cursor.hotSpot(), QPoint(12, 1));
    EXPECT_EQ(cursor.pixmap().size(), QSize(32, 32));
    EXPECT_EQ(view.Label1->cursor().shape(), Qt::ArrowCursor);

    auto colour = [&] { return view.Label2->palette().color(QPalette::WindowText); };
    EXPECT_EQ(colour(), QColor(Qt::black));
    move(view.Label2, {5, 5});
    EXPECT_EQ(colour(), QColor(0, 0, 255));
    EXPECT_EQ(about->Label2ForeColor(), 0xFF0000u);
    screenshot(view, "design-About-hover.png");
    move(view.Label1, {5, 5});  // straight onto Label1: it stays blue
    EXPECT_EQ(colour(), QColor(0, 0, 255));
    move(&view, {340, 60});  // the page's own surface
    EXPECT_EQ(colour(), QColor(Qt::black));
    screenshot(view, "design-About.png");

    // Each click launches once more; a press that ends off the label is no click.
    QTest::mouseClick(view.Label2, Qt::LeftButton, {}, QPoint(10, 5));
    QTest::mouseClick(view.Label2, Qt::LeftButton, {}, QPoint(10, 5));
    QTest::mouseClick(view.Label1, Qt::LeftButton, {}, QPoint(10, 5));
    EXPECT_EQ(opened, (std::vector<std::string>{kDefaultUrl, kDefaultUrl}));
    QTest::mousePress(view.Label2, Qt::LeftButton, {}, QPoint(10, 5));
    QTest::mouseRelease(view.Label2, Qt::LeftButton, {}, QPoint(400, 5));
    EXPECT_EQ(opened.size(), 2u);

    QImage big = pages::handCursor().pixmap().toImage().scaled(128, 128);
    const QByteArray dir = qgetenv("CARVO_BUILD_DIR");
    if (!dir.isEmpty()) big.save(dir + "/screenshots/design-hand-cursor.png");
}

TEST(SheetDialog, TabsForBothPagesAndApplyFollowsTheChangedMark) {
    auto first = newControl();
    auto second = newControl();
    PropertySheet sheet({first, second}, [](const Guid& g) { return createObject(g); });
    pages::PropertySheetDialog dialog(sheet, "dl1, dl2 Properties");
    std::vector<QString> errors;
    dialog.setErrorReporter([&](const QString& e) { errors.push_back(e); });
    dialog.show();

    ASSERT_EQ(dialog.tabs->count(), 2);
    EXPECT_EQ(dialog.tabs->tabText(0), "DownLoad_Properties");
    EXPECT_EQ(dialog.tabs->tabText(1), "About");
    EXPECT_EQ(dialog.okButton->text(), "OK");
    EXPECT_EQ(dialog.cancelButton->text(), "Cancel");
    EXPECT_TRUE(dialog.applyButton->isEnabled());  // the load filled the empty fields
    screenshot(dialog, "design-sheet.png");

    auto* view = dialog.findChild<DownLoadPropertiesView*>();
    ASSERT_NE(view, nullptr);
    QTest::mouseClick(dialog.applyButton, Qt::LeftButton);
    EXPECT_FALSE(dialog.applyButton->isEnabled());
    EXPECT_TRUE(errors.empty());

    view->ChunkCombo->setEditText("Select Chunk Size*");
    view->txtSaveLocation->setText("/tmp/primeiro.bin");
    EXPECT_TRUE(dialog.applyButton->isEnabled());
    dialog.okPressed();  // fails at CHUNK: reported, the sheet stays open
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0], "Type mismatch");
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_TRUE(dialog.applyButton->isEnabled());
    EXPECT_EQ(first->SaveLocation(), "/tmp/primeiro.bin");
    EXPECT_EQ(second->SaveLocation(), "C:\\Arquivo.tmp");

    view->ChunkCombo->setEditText("2048");
    dialog.okPressed();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(first->CHUNK(), 2048);
    EXPECT_EQ(second->CHUNK(), 1024);
}

TEST(PropertySheetProgram, ADesignSessionEndsInAHostLoadingTheSavedValues) {
    ScratchFolder dir;
    const auto store = dir / "registry.reg";
    registerServer(store, CARVO_LIBRARY_FILE);
    const auto formFile = dir / "frmMain.frm";
    storeBytes(formFile,
               "Begin Carvo.DownLoad dl1\n    _ExtentX = Long 847\n    _ExtentY = Long 847\nEnd\n"
               "Begin Carvo.DownLoad dl2\n    CHUNK = Long 2048\nEnd\n"
               "Begin Carvo.DownLoad dl3\nEnd\n");

    ComHost host(store);
    pages::FormServices services{
        [&](std::string_view p) { return host.createInstance(p); },
        [&](const Guid& g) { return host.createInstance(g); },
        [&](const std::string& p) { return host.toolboxBitmap(*host.classIdOf(p)); },
    };
    {
        pages::FormWindow window(formFile, services);
        std::vector<QString> errors;
        window.setErrorReporter([&](const QString& e) { errors.push_back(e); });
        window.show();
        ASSERT_EQ(window.controlList->count(), 3);
        EXPECT_FALSE(window.controlList->item(0)->icon().isNull());  // the toolbox globe
        window.controlList->item(0)->setSelected(true);
        window.controlList->item(2)->setSelected(true);
        EXPECT_EQ(window.sheetCaption(), "dl1, dl3 Properties");
        EXPECT_FALSE(window.saveButton->isEnabled());
        screenshot(window, "design-propsheet.png");

        bool ran = false;
        window.setSheetRunner([&](pages::PropertySheetDialog& dialog) {
            ran = true;
            auto* view = dialog.findChild<DownLoadPropertiesView*>();
            ASSERT_NE(view, nullptr);
            view->txtUrl->setText("http://127.0.0.1:8080/pacote/setup.exe");
            view->txtSaveLocation->setText("C:\\Parvix\\setup.exe");
            view->ChunkCombo->setEditText("4096");
            QTest::mouseClick(view->ChkOC, Qt::LeftButton);
            screenshot(dialog, "design-sheet-edited.png");
            QTest::mouseClick(dialog.okButton, Qt::LeftButton);
            EXPECT_EQ(dialog.result(), QDialog::Accepted);
        });
        ASSERT_TRUE(window.showProperties());
        EXPECT_TRUE(ran);
        EXPECT_TRUE(window.saveButton->isEnabled());
        EXPECT_TRUE(window.save());
        EXPECT_TRUE(errors.empty());
    }

    const FormFile saved = FormFile::load(formFile);
    ASSERT_EQ(saved.controls.size(), 3u);
    EXPECT_EQ(entry(saved.controls[1].bag, "CHUNK").toLong(), 2048);
    EXPECT_EQ(saved.controls[2].bag.entries().size(), 2u);  // dl3 was selected second: untouched

    auto probe =
        runProcess({DESIGN_HOST_PROBE, store.string(), "Carvo.DownLoad", formFile.string(), "dl1"});
    ASSERT_EQ(probe.exitStatus, 0) << probe.err;
    EXPECT_NE(probe.out.find("Url=http://127.0.0.1:8080/pacote/setup.exe\n"), std::string::npos);
    EXPECT_NE(probe.out.find("CHUNK=4096\n"), std::string::npos);
    EXPECT_NE(probe.out.find("SaveLocation=C:\\Parvix\\setup.exe\n"), std::string::npos);
    EXPECT_NE(probe.out.find("OnlineCheck=True\n"), std::string::npos);
    EXPECT_NE(probe.out.find("KeepType=False\n"), std::string::npos);
    unregisterServer(store);
}

TEST(PropertySheetProgram, AFormThatCannotBeOpenedIsRefused) {
    ScratchFolder dir;
    const auto formFile = dir / "quebrado.frm";
    storeBytes(formFile, "Begin Carvo.DownLoad dl1\n");
    ComHost host(dir / "vazio.reg");
    pages::FormServices services{[&](std::string_view p) { return host.createInstance(p); },
                                 [&](const Guid& g) { return host.createInstance(g); },
                                 {}};
    EXPECT_THROW(pages::FormWindow(formFile, services), FormFileError);
    storeBytes(formFile, "Begin Carvo.DownLoad dl1\nEnd\n");  // well formed, class not registered
    EXPECT_THROW(pages::FormWindow(formFile, services), ComError);
}

}  // namespace
}  // namespace carvo::test

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
