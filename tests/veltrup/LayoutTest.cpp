// The window as it is drawn: every control's kind, place, size, caption, state at start, font,
// colour and alignment, checked against the design's own numbers (in twips, 15 a pixel).

#include <gtest/gtest.h>

#include <QFontDatabase>
#include <QFrame>
#include <QGuiApplication>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <cmath>

#include "TypeLib.h"
#include "WizardHarness.h"

using namespace veltrup;
using namespace veltrup::test;

namespace {

enum class Kind { Picture, Label, Line, Button, Panel, Shape, Progress, Text };
enum class Edge { None, Left, Right };  // a label sized to its text keeps this edge

struct Row {
    const char* name;
    const char* parent;
    Kind kind;
    int left, top, width, height;  // twips
    const char* caption;
    bool shown;
    bool enabled;
    double points;
    bool bold;
    bool italic;
    QColor colour;
    Qt::Alignment align;
    Edge autoSize;
};

const QColor black(0, 0, 0), white(255, 255, 255), red(255, 0, 0), navy(0, 0, 128),
    green(0, 128, 0);
constexpr auto L = Qt::AlignLeft;
constexpr auto R = Qt::AlignRight;
constexpr auto C = Qt::AlignHCenter;

// clang-format off
const Row kRows[] = {
    {"imgBack", "frmMain", Kind::Picture, -120, 0, 2430, 4710, "", true, true, 8.25, false, false, black, L, Edge::None},
    {"lblProductName", "frmMain", Kind::Label, 15, 3720, 2265, 345, "Parvix 2002", true, true, 14.25, true, true, white, C, Edge::None},
    {"lblAA", "frmMain", Kind::Label, 0, 4080, 2295, 255, "Auto Atualização", true, true, 12, true, true, white, C, Edge::None},
    {"lblCopyRight", "frmMain", Kind::Label, 15, 4500, 1725, 180, nullptr, true, true, 6.75, true, false, white, L, Edge::Left},
    {"lblWelcome_0", "frmMain", Kind::Label, 2400, 120, 5175, 615, "Bem Vindo ao Programa de Atualização do Parvix 2002.", true, true, 12, true, false, black, L, Edge::None},
    {"lblWelcome_1", "frmMain", Kind::Label, 2400, 960, 5175, 615, "Este programa irá checar (via Internet) se existe uma versão do Parvix 2002 mais nova do que esta que você está usando no momento.", true, true, 8.25, false, false, black, L, Edge::None},
    {"lblWelcome_2", "frmMain", Kind::Label, 2400, 1680, 4815, 615, "Caso exista uma nova versão, o programa fará o download desta e logo em seguida instalará em seu sistema.", true, true, 8.25, false, false, black, L, Edge::None},
    {"lblWelcome_3", "frmMain", Kind::Label, 2400, 2400, 5130, 435, "OBS: Este programa requer que você esteja conectado a Internet para funcionar corretamente.", true, true, 8.25, true, false, black, L, Edge::None},
    {"lneWelcome", "frmMain", Kind::Line, 2400, 3000, 5160, 0, "", true, true, 8.25, false, false, black, L, Edge::None},
    {"lblWelcome_4", "frmMain", Kind::Label, 2400, 3240, 5055, 495, "Quando você estiver pronto para iniciar a Atualização, aperte o botão \"Avançar\".", true, true, 8.25, false, false, black, L, Edge::None},
    {"lblVerAtual", "frmMain", Kind::Label, 6960, 4440, 645, 195, "Versão Atual: 2.0", true, true, 8.25, false, false, black, R, Edge::Right},
    {"cmdBarra", "frmMain", Kind::Button, 0, 4680, 7815, 615, "", true, false, 8.25, false, false, black, L, Edge::None},
    {"Command1", "frmMain", Kind::Button, 480, 4800, 975, 375, "S&obre", true, true, 8.25, false, false, black, L, Edge::None},
    {"cmdAvancar", "frmMain", Kind::Button, 5400, 4800, 1215, 375, "&Avançar >>", true, true, 8.25, false, false, black, L, Edge::None},
    {"cmdSair", "frmMain", Kind::Button, 6600, 4800, 975, 375, "&Sair", true, true, 8.25, false, false, black, L, Edge::None},
    {"fraPos1", "frmMain", Kind::Panel, 1440, 4920, 5415, 4695, "", false, true, 8.25, false, false, black, L, Edge::None},
    {"fraPos2", "frmMain", Kind::Panel, -3480, 0, 5415, 4695, "", false, true, 8.25, false, false, black, L, Edge::None},
    {"fraPos3", "frmMain", Kind::Panel, 7320, 0, 5415, 4695, "", false, true, 8.25, false, false, black, L, Edge::None},

    {"lblStep1", "fraPos1", Kind::Label, 120, 120, 3495, 375, "1 - Comparando Versões", true, true, 12, true, false, black, L, Edge::None},
    {"lblStatusTit", "fraPos1", Kind::Label, 120, 840, 780, 240, "Status:", true, true, 9.75, true, false, black, L, Edge::None},
    {"lblStatus", "fraPos1", Kind::Label, 120, 1080, 780, 240, "Status:", true, true, 9.75, true, false, black, L, Edge::Left},
    {"lblErrorTit", "fraPos1", Kind::Label, 120, 1560, 480, 195, "Erro:", false, true, 8.25, true, false, red, L, Edge::None},
    {"lblError", "fraPos1", Kind::Label, 120, 1800, 5175, 555, "Não foi possível....", false, true, 8.25, false, false, black, L, Edge::None},
    {"lblWhatToDoTit", "fraPos1", Kind::Label, 120, 2280, 1245, 195, "O Que Fazer:", false, true, 8.25, true, false, navy, L, Edge::None},
    {"lblWhatToDo", "fraPos1", Kind::Label, 120, 2520, 5175, 615, "Clique o botão....", false, true, 8.25, false, false, black, L, Edge::None},
    {"lblNewVerTit", "fraPos1", Kind::Label, 120, 3120, 2370, 195, "Nova Versão Disponível!", false, true, 8.25, true, false, green, L, Edge::None},
    {"lblNewVer", "fraPos1", Kind::Label, 120, 3360, 5175, 615, "O programa determinou que existe uma versão mais atualizada do Parvix 2002 disponível. Clique o botão Avançar para iniciar o download!", false, true, 8.25, false, false, black, L, Edge::None},
    {"Shape1", "fraPos1", Kind::Shape, 120, 4310, 5175, 255, "", true, true, 8.25, false, false, black, L, Edge::None},
    {"lblVersion2", "fraPos1", Kind::Label, 240, 4320, 1155, 195, "Sua Versão:", true, true, 8.25, true, false, black, L, Edge::Left},
    {"lblLastVer", "fraPos1", Kind::Label, 2670, 4320, 2505, 195, "Última Versão Disponível:", true, true, 8.25, true, false, black, R, Edge::Right},

    {"lblStep2", "fraPos2", Kind::Label, 120, 120, 4680, 270, "2 - Puxando Arquivo de Atualização", true, true, 12, true, false, black, L, Edge::None},
    {"lblStatus2", "fraPos2", Kind::Label, 120, 600, 930, 240, "Status...", true, true, 9.75, true, false, black, L, Edge::Left},
    // One pixel shorter than designed, so that the figures below never overlap the bar.
    {"pb1", "fraPos2", Kind::Progress, 120, 840, 5175, 360, "", true, true, 8.25, false, false, black, L, Edge::None},
    {"lblDLReceived", "fraPos2", Kind::Label, 120, 1200, 855, 195, "Recebido:", true, true, 8.25, false, false, black, L, Edge::Left},
    {"lblDLTimeLeft", "fraPos2", Kind::Label, 3765, 1200, 1470, 195, "Tempo Restante:", true, true, 8.25, false, false, black, R, Edge::Right},
    {"lblDLRate", "fraPos2", Kind::Label, 120, 1440, 1005, 195, "Velocidade:", true, true, 8.25, false, false, black, L, Edge::Left},
    {"lblDLPercent", "fraPos2", Kind::Label, 3135, 1440, 2100, 195, "Porcentagem Concluída:", true, true, 8.25, false, false, black, R, Edge::Right},
    {"cmdDLCancel", "fraPos2", Kind::Button, 3120, 1680, 2175, 255, "Cancelar o Download...", true, false, 8.25, false, false, black, L, Edge::None},
    {"lblErrorTit2", "fraPos2", Kind::Label, 120, 1800, 480, 195, "Erro:", false, true, 8.25, true, false, red, L, Edge::None},
    {"lblError2", "fraPos2", Kind::Label, 120, 2040, 5175, 555, "Descrição do erro...", false, true, 8.25, false, false, black, L, Edge::None},
    {"lblWhatToDoTit2", "fraPos2", Kind::Label, 120, 2640, 1245, 195, "O Que Fazer:", false, true, 8.25, true, false, navy, L, Edge::None},
    {"lblWhatToDo2", "fraPos2", Kind::Label, 120, 2880, 5115, 675, "Instruções...", false, true, 8.25, false, false, black, L, Edge::None},
    {"lblDLFinishTit", "fraPos2", Kind::Label, 120, 3600, 2010, 195, "Download Concluído!", false, true, 8.25, true, false, green, L, Edge::None},
    {"lblDLFinish", "fraPos2", Kind::Label, 120, 3840, 5235, 675, "O Programa terminou de puxar o arquivo de atualização. Clique o botão 'Avançar' logo abaixo para começar a atualização do Parvix 2002.", false, true, 8.25, false, false, black, L, Edge::None},

    {"lblStep3", "fraPos3", Kind::Label, 120, 120, 3060, 270, "3 - Instalar Atualização", true, true, 12, true, false, black, L, Edge::None},
    {"lblInstall1", "fraPos3", Kind::Label, 120, 480, 5175, 495, "O Programa terminou o download dos arquivos necessários com sucesso e está pronto para começar a Atualização.", true, true, 8.25, false, false, black, L, Edge::None},
    {"lblInstall2", "fraPos3", Kind::Label, 120, 960, 5175, 615, "Antes de começar, certifique-se de que o Parvix 2002 não está rodando. Isto pode afetar o programa de Atualização e causar danos.", true, true, 8.25, false, false, black, L, Edge::None},
    {"lblInstall3", "fraPos3", Kind::Label, 120, 1680, 5175, 615, "Ao apertar o botão 'Instalar' abaixo, este programa se fechará automaticamente para evitar que problemas aconteçam durante o processo de Atualização.", true, true, 8.25, false, false, black, L, Edge::None},
    {"lblInstall4", "fraPos3", Kind::Label, 120, 2400, 5175, 255, "Quando estiver pronto para começar, clique em 'Instalar'.", true, true, 8.25, false, false, black, L, Edge::None},
    {"Line1", "fraPos3", Kind::Line, 120, 2760, 5160, 0, "", true, true, 8.25, false, false, black, L, Edge::None},
    {"lblInstall5", "fraPos3", Kind::Label, 120, 2880, 5175, 855, "Caso você não queira executar o programa de Atualização neste momento, anote a linha em Azul logo abaixo, e quando quiser Atualizar, basta ir até o menu Iniciar, clicar em Executar, fornecer a linha abaixo e clicar em OK.", true, true, 8.25, false, false, black, L, Edge::None},
    {"txtInstallPath", "fraPos3", Kind::Text, 120, 3720, 5175, 495, nullptr, true, true, 8.25, true, false, navy, L, Edge::None},
    {"lblThanks", "fraPos3", Kind::Label, 120, 4320, 4260, 195, "Muito Obrigado Por Utilizar o Parvix 2002!", true, true, 8.25, true, false, black, L, Edge::Left},
};
// clang-format on

int px(int twipsValue) { return static_cast<int>(std::lround(twipsValue / 15.0)); }

QString expectedFace() {
    return QFontDatabase::hasFamily("Verdana") ? QStringLiteral("Verdana")
                                               : QStringLiteral("DejaVu Sans");
}

bool captionFits(const QLabel& l, const QRect& box) {
    const QFontMetrics fm(l.font());
    if (!l.wordWrap())
        return fm.horizontalAdvance(l.text()) <= box.width() && fm.height() <= box.height();
    const QRect needed = fm.boundingRect(
        QRect(0, 0, box.width(), 10000), Qt::TextWordWrap | Qt::AlignLeft, l.text());
    return needed.width() <= box.width() && needed.height() <= box.height();
}

// No label of the window cuts its caption, whatever the state of the wizard.
void expectCaptionsFit(frmMain& form) {
    for (auto* label : form.findChildren<QLabel*>()) {
        auto* l = dynamic_cast<FormLabel*>(label);
        if (!l || l->autoSize()) continue;
        EXPECT_TRUE(captionFits(*l, l->geometry())) << l->objectName().toStdString();
    }
}

class VeltrupLayout : public ::testing::Test {
protected:
    void SetUp() override {
        wizard.setInstalled("\"Version\"=\"2.0\"");
        wizard.open();
    }
    Wizard wizard;
};

}  // namespace

TEST_F(VeltrupLayout, EveryControlHasItsKindPlaceCaptionStateFontAndColour) {
    frmMain& form = *wizard.form;
    for (const Row& row : kRows) {
        SCOPED_TRACE(row.name);
        QWidget* w = wizard.child(row.name);
        ASSERT_NE(w, nullptr);
        ASSERT_NE(w->parentWidget(), nullptr);
        EXPECT_EQ(w->parentWidget()->objectName(), row.parent);

        switch (row.kind) {
            case Kind::Picture: EXPECT_NE(qobject_cast<QLabel*>(w), nullptr); break;
            case Kind::Label: EXPECT_NE(dynamic_cast<FormLabel*>(w), nullptr); break;
            case Kind::Line: EXPECT_NE(dynamic_cast<FormLine*>(w), nullptr); break;
            case Kind::Shape: EXPECT_NE(dynamic_cast<FormShape*>(w), nullptr); break;
            case Kind::Button: EXPECT_NE(qobject_cast<QPushButton*>(w), nullptr); break;
            case Kind::Panel: EXPECT_NE(qobject_cast<QFrame*>(w), nullptr); break;
            case Kind::Progress: EXPECT_NE(qobject_cast<QProgressBar*>(w), nullptr); break;
            case Kind::Text: EXPECT_NE(qobject_cast<QPlainTextEdit*>(w), nullptr); break;
        }

        const QRect g = w->geometry();
        if (row.kind == Kind::Line) {
            EXPECT_EQ(g, QRect(px(row.left), px(row.top), px(row.width), 1));
        } else if (row.autoSize == Edge::None) {
            const QRect design(px(row.left), px(row.top), px(row.width), px(row.height));
            if (auto* l = dynamic_cast<FormLabel*>(w); l && !captionFits(*l, design)) {
                // Only a caption the designed box would cut may make a label grow.
                EXPECT_EQ(g.topLeft(), design.topLeft());
                EXPECT_GE(g.width(), design.width());
                EXPECT_GE(g.height(), design.height());
            } else {
                EXPECT_EQ(g, design);
            }
        } else {
            // Sized to its text, the stated edge kept.
            auto* l = dynamic_cast<QLabel*>(w);
            ASSERT_NE(l, nullptr);
            const QFontMetrics fm(l->font());
            EXPECT_EQ(g.width(), fm.horizontalAdvance(l->text()));
            EXPECT_EQ(g.height(), fm.height());
            EXPECT_EQ(g.top(), px(row.top));
            if (row.autoSize == Edge::Left) { EXPECT_EQ(g.left(), px(row.left)); }
            if (row.autoSize == Edge::Right) {
                EXPECT_EQ(g.left() + g.width(), px(row.left + row.width));
            }
        }

        EXPECT_EQ(w->isVisibleTo(w->parentWidget()), row.shown);
        EXPECT_EQ(w->isEnabled(), row.enabled);

        if (row.caption) {
            if (auto* l = qobject_cast<QLabel*>(w); l && row.kind == Kind::Label) {
                EXPECT_EQ(l->text(), QString::fromUtf8(row.caption));
            }
            if (auto* b = qobject_cast<QPushButton*>(w)) {
                EXPECT_EQ(b->text(), QString::fromUtf8(row.caption));
            }
        }
        if (row.kind == Kind::Label || row.kind == Kind::Text || row.kind == Kind::Button) {
            const QFont f = w->font();
            EXPECT_EQ(f.family(), expectedFace());
            EXPECT_EQ(f.pixelSize(), std::lround(row.points * 96 / 72));
            EXPECT_EQ(f.weight(), row.bold ? 700 : 400);
            EXPECT_EQ(f.italic(), row.italic);
        }
        if (auto* l = qobject_cast<QLabel*>(w); l && row.kind == Kind::Label) {
            EXPECT_EQ(l->palette().color(QPalette::WindowText), row.colour);
            EXPECT_EQ(l->alignment() & Qt::AlignHorizontal_Mask, row.align);
            EXPECT_EQ(l->textFormat(), Qt::PlainText);
            EXPECT_FALSE(l->autoFillBackground());  // transparent over the window and panels
        }
    }
    (void)form;
}

TEST_F(VeltrupLayout, TheWindowItselfAndTheControlsWithOwnDetails) {
    frmMain& form = *wizard.form;
    EXPECT_EQ(form.objectName(), "frmMain");
    EXPECT_EQ(form.windowTitle(), QString::fromUtf8("Parvix 2002 :: Auto Atualização"));
    EXPECT_EQ(form.size(), QSize(511, 351));  // 7665 x 5265 twips
    EXPECT_EQ(form.minimumSize(), form.maximumSize());
    EXPECT_FALSE(form.windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_EQ(form.palette().color(QPalette::Window), QColor(255, 255, 255));
    EXPECT_TRUE(form.autoFillBackground());
    EXPECT_FALSE(form.windowIcon().isNull());
    EXPECT_FALSE(form.windowIcon().pixmap(32, 32).isNull());
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_LE(std::abs(form.geometry().center().x() - screen.center().x()), 10);  // the frame may shift it
    EXPECT_LE(std::abs(form.geometry().center().y() - screen.center().y()), 10);

    EXPECT_EQ(form.imgBack->pixmap().size(), QSize(162, 314));
    EXPECT_TRUE(form.cmdAvancar->isDefault());
    EXPECT_EQ(form.focusWidget(), form.cmdAvancar);
    EXPECT_EQ(form.lblWelcome[0]->objectName(), "lblWelcome_0");
    EXPECT_EQ(form.lblWelcome[4]->objectName(), "lblWelcome_4");
    EXPECT_FALSE(form.lblCopyRight->text().isEmpty());
    EXPECT_EQ(form.cmdDLCancel->toolTip(), "Clique aqui para cancelar o download...");
    EXPECT_EQ(form.cmdDLCancel->palette().color(QPalette::Button), QColor(255, 255, 255));
    EXPECT_EQ(form.txtInstallPath->toolTip(),
              QString::fromUtf8("Dica: Você pode selecionar esta linha, clicar com o botão "
                                "Direito do mouse e selecionar a opção Copiar."));
    EXPECT_EQ(form.txtInstallPath->palette().color(QPalette::Text), QColor(0, 0, 128));
    EXPECT_EQ(form.pb1->minimum(), 0);
    EXPECT_EQ(form.pb1->value(), 0);
    // Each panel covers the welcome area when shown and lies over the welcome controls.
    EXPECT_GT(form.children().indexOf(form.fraPos1), form.children().indexOf(form.lblWelcome[4]));
    saveScreen(form, "0-welcome");
}

TEST_F(VeltrupLayout, InstalledVersionLabelGrowsLeftAndIsEmptyWithoutARecord) {
    EXPECT_EQ(wizard.form->lblVerAtual->text(), QString::fromUtf8("Versão Atual: 2.0"));
    EXPECT_EQ(wizard.form->lblVerAtual->geometry().right() + 1, 507);

    Wizard none;  // no registry store at all
    none.open();
    EXPECT_EQ(none.form->lblVerAtual->text(), QString::fromUtf8("Versão Atual: "));
    EXPECT_EQ(none.form->lblVerAtual->geometry().right() + 1, 507);
    EXPECT_LT(none.form->lblVerAtual->width(), wizard.form->lblVerAtual->width());

    Wizard dword;
    dword.setInstalled("\"Version\"=dword:00000007");
    dword.open();
    EXPECT_EQ(dword.form->lblVerAtual->text(), QString::fromUtf8("Versão Atual: 7"));
    EXPECT_EQ(dword.form->intStep(), 0);
}

TEST_F(VeltrupLayout, EnterPressesTheDefaultButtonUnlessAnotherButtonHasFocus) {
    wizard.writeLinks("http://127.0.0.1/Update.ini");
    // The focused About button takes Enter for itself.
    QTest::keyClick(wizard.form->Command1, Qt::Key_Return);
    EXPECT_EQ(wizard.aboutShown, 1);
    EXPECT_TRUE(wizard.calls.empty());
    // Anywhere else in the window, Enter is the next step.
    QTest::keyClick(wizard.form.get(), Qt::Key_Return);
    ASSERT_FALSE(wizard.calls.empty());
    EXPECT_EQ(wizard.calls.back(), "dl1 DownLoad");
}

TEST_F(VeltrupLayout, NoCaptionIsCutInAnyStateOfTheWizard) {
    expectCaptionsFit(*wizard.form);

    Wizard w;
    w.setInstalled("\"Version\"=\"3\"");
    w.open();
    w.dl1->onDownLoad = [&] { w.dl1->fire(carvo::eventid::DLECode, 2); };
    w.press();  // the longest failure texts
    expectCaptionsFit(*w.form);
    w.writeVersionFile("Version=3\r\nFile=http://127.0.0.1:1/x\r\nShell=x\r\n");
    w.dl1->onDownLoad = [&] { w.dl1->fire(carvo::eventid::DLComplete); };
    w.press();  // up to date
    ASSERT_EQ(w.form->intStep(), 3);
    expectCaptionsFit(*w.form);
}
