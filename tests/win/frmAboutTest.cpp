#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFontDatabase>
#include <QTimer>
#include <QtTest/QTest>

#include "TempDir.h"
#include "frmAbout.h"

using carvo::test::TempDir;

namespace {

struct Opened {
    QWidget* owner = nullptr;
    std::string target;
};

class AboutWindow : public ::testing::Test {
protected:
    std::unique_ptr<frmAbout> make(std::optional<std::string> links) {
        if (links) dir_.write("links.ini", *links);
        return std::make_unique<frmAbout>(dir_.path(), nullptr,
                                          [this](QWidget* owner, const std::string& target) {
                                              opened_.push_back({owner, target});
                                          });
    }
    std::vector<Opened> doubleClickLink(frmAbout& w) {
        opened_.clear();
        QTest::mouseDClick(w.lblLink, Qt::LeftButton);
        return opened_;
    }

    TempDir dir_;
    std::vector<Opened> opened_;
};

QString text(QLabel* l) { return l->text(); }

}  // namespace

TEST_F(AboutWindow, WithoutALinksFileShowsTheDefaultsAndOpensNothing) {
    auto w = make(std::nullopt);
    EXPECT_EQ(text(w->lblLink), QStringLiteral("Não há página..."));
    EXPECT_EQ(text(w->lblMail), QStringLiteral("Não há email..."));
    EXPECT_TRUE(doubleClickLink(*w).empty());
    // A file without the keys is the same.
    dir_.write("links.ini", "[MAIN]\nUpdateFile=http://127.0.0.1/Update.ini\n");
    auto w2 = make(std::nullopt);
    EXPECT_EQ(text(w2->lblLink), QStringLiteral("Não há página..."));
    EXPECT_EQ(text(w2->lblMail), QStringLiteral("Não há email..."));
}

TEST_F(AboutWindow, OpensThePageOnlyWhenItStartsWithLowerCaseHttp) {
    auto w = make("\xEF\xBB\xBF[main]\r\nOfficialPage = \"http://127.0.0.1/parvix/\"\r\n"
                  "OfficialMail=suporte@parvix.example\r\n");
    EXPECT_EQ(text(w->lblLink), QStringLiteral("http://127.0.0.1/parvix/"));
    EXPECT_EQ(text(w->lblMail), QStringLiteral("suporte@parvix.example"));
    auto opened = doubleClickLink(*w);
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0].target, "http://127.0.0.1/parvix/");
    EXPECT_EQ(opened[0].owner, w.get());

    // Whatever follows the four letters goes to the opener as it is.
    EXPECT_EQ(make("[MAIN]\nOfficialPage=httpx\n")->lblLink->text(), QStringLiteral("httpx"));
    auto odd = make("[MAIN]\nOfficialPage=httpx\n");
    EXPECT_EQ(doubleClickLink(*odd).size(), 1u);

    for (const char* page : {"HTTP://127.0.0.1/", "Http://127.0.0.1/", "www.parvix.example",
                             "htt", "", " http://x"}) {
        auto other = make(std::string("[MAIN]\nOfficialPage=\"") + page + "\"\n");
        EXPECT_TRUE(doubleClickLink(*other).empty()) << page;
    }
    // A present empty key empties the label; the default is for a missing key only.
    EXPECT_EQ(make("[MAIN]\nOfficialPage=\nOfficialMail=\n")->lblMail->text(), QString());
    // A single click does nothing.
    opened_.clear();
    QTest::mouseClick(w->lblLink, Qt::LeftButton);
    EXPECT_TRUE(opened_.empty());
}

TEST_F(AboutWindow, CaptionsFromTheFileAreNeverMarkup) {
    auto w = make("[MAIN]\nOfficialPage=http://x/<b>bold</b>\nOfficialMail=<img src=x>\n");
    EXPECT_EQ(w->lblLink->textFormat(), Qt::PlainText);
    EXPECT_EQ(w->lblMail->textFormat(), Qt::PlainText);
    EXPECT_EQ(text(w->lblMail), QStringLiteral("<img src=x>"));
    // A value longer than a profile value may be is cut at 127 characters.
    auto longer = make("[MAIN]\nOfficialMail=" + std::string(60, 'a') + std::string(100, 'e') +
                       "\n");
    EXPECT_EQ(longer->lblMail->text().size(), 127);
}

TEST_F(AboutWindow, LooksAsDesigned) {
    auto w = make("[MAIN]\nOfficialPage=http://127.0.0.1/parvix/\n"
                  "OfficialMail=suporte@parvix.example\n");
    EXPECT_EQ(w->windowTitle(), QStringLiteral("Parvix 2002 :: Auto Atualização :: Sobre"));
    EXPECT_EQ(w->palette().color(QPalette::Window), QColor(255, 255, 255));
    EXPECT_EQ(w->size(), QSize(420, 300));

    const char* names[] = {"lblAboutTit", "lblIdeaDesign", "lblProgram", "lblContributed",
                           "lblContributor", "lblHPTit", "lblLink", "lblMailTit",
                           "lblMail", "lblAme", "imgBra", "imgXP",
                           "imgFundo", "lblCopyRight"};
    const QString family = QFontDatabase::hasFamily("Verdana") ? "Verdana" : "DejaVu Sans";
    for (const char* name : names) {
        auto* l = w->findChild<QLabel*>(name);
        ASSERT_NE(l, nullptr) << name;
        EXPECT_TRUE(QRect(QPoint(), w->size()).contains(l->geometry())) << name;
        EXPECT_EQ(l->font().family(), family) << name;
    }
    EXPECT_EQ(w->lblAboutTit->text(),
              QStringLiteral("Programa de Atualização Automática do Parvix 2002"));
    EXPECT_EQ(w->lblContributed->text(), QStringLiteral("Contribuiu:"));
    EXPECT_EQ(w->lblHPTit->text(), QStringLiteral("Página Oficial:"));
    EXPECT_EQ(w->lblMailTit->text(), QStringLiteral("E-Mail:"));
    EXPECT_EQ(w->lblAme->text(), QStringLiteral("Ame o Brasil!"));
    EXPECT_FALSE(w->lblCopyRight->text().isEmpty());
    EXPECT_DOUBLE_EQ(w->lblIdeaDesign->font().pointSizeF(), 8.25);
    // Positions are twips at 15 a pixel.
    EXPECT_EQ(w->lblLink->geometry(), QRect(1800 / 15, 1890 / 15, 4260 / 15, 210 / 15));

    for (QLabel* l : {w->lblLink, w->lblMail})
        EXPECT_EQ(l->palette().color(QPalette::WindowText), QColor(0, 0, 128));
    for (QLabel* l : {w->lblAme, w->lblCopyRight})
        EXPECT_EQ(l->palette().color(QPalette::WindowText), QColor(255, 255, 255));
    // Our own drawn pointer over the link, and our pictures.
    EXPECT_EQ(w->lblLink->cursor().shape(), Qt::BitmapCursor);
    EXPECT_FALSE(w->lblLink->cursor().pixmap().isNull());
    for (QLabel* l : {w->imgBra, w->imgXP, w->imgFundo})
        EXPECT_FALSE(l->pixmap().isNull()) << l->objectName().toStdString();
    // The band is behind what sits on it.
    EXPECT_EQ(w->childAt(w->lblAme->geometry().center()), w->lblAme);
    EXPECT_EQ(w->childAt(w->imgBra->geometry().center()), w->imgBra);

    // Every caption fits its place in the font we use.
    for (QLabel* l : {w->lblHPTit, w->lblMailTit, w->lblContributed, w->lblAme})
        EXPECT_LE(l->sizeHint().width(), l->width()) << l->objectName().toStdString();

    // Pictures for a person to look at, in the build folder.
    w->show();
    QImage shot = w->grab().toImage();
    EXPECT_EQ(shot.pixelColor(5, 5), QColor(255, 255, 255));
    const char* build = std::getenv("CARVO_BUILD_DIR");
    const QString folder = build ? QString::fromUtf8(build) : QDir::currentPath();
    shot.save(folder + "/frmAbout.png");
    w->lblLink->cursor().pixmap().scaled(128, 128).save(folder + "/frmAbout-pointer.png");
}

TEST_F(AboutWindow, RunsModallyUntilClosed) {
    auto w = make("[MAIN]\nOfficialPage=http://127.0.0.1/\n");
    bool wasModal = false;
    bool survivedEscape = false;
    QTimer::singleShot(0, w.get(), [&] {
        wasModal = QApplication::activeModalWidget() == w.get();
        QTest::keyClick(w.get(), Qt::Key_Escape);  // only the frame closes it
        survivedEscape = w->isVisible();
        w->close();
    });
    w->exec();
    EXPECT_TRUE(wasModal);
    EXPECT_TRUE(survivedEscape);
}

int main(int argc, char** argv) {
    // Listing the tests happens without the test environment; never look for a desktop.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
