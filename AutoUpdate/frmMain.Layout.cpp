// frmMain's window as it was designed: every control with its name, caption, place and size in
// twips, face and colour, in the order the form lists them. Only the look is here; what the
// controls do is in frmMain.cpp and the step files.

#include "frmMain.h"

#include <QFontDatabase>
#include <QFrame>
#include <QGuiApplication>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QSvgRenderer>
#include <QTextDocument>
#include <cmath>

namespace veltrup {

namespace {

QRect twipsRect(int left, int top, int width, int height) {
    return {twips(left), twips(top), twips(width), twips(height)};
}

const QColor kWhite(255, 255, 255);
const QColor kRed(255, 0, 0);
const QColor kDarkBlue(0, 0, 128);
const QColor kGreen(0, 128, 0);

// The form was drawn in Verdana; DejaVu Sans has nearly the same metrics where it is missing.
QString formFace() {
    return QFontDatabase::hasFamily(QStringLiteral("Verdana")) ? QStringLiteral("Verdana")
                                                               : QStringLiteral("DejaVu Sans");
}

// Point sizes are the designer's, at 96 dots per inch; the fonts get the matching pixel size
// so that text keeps its proportion to the pixel layout on any screen.
QFont formFont(const QString& face, double points, bool bold = false, bool italic = false) {
    QFont f(face);
    f.setPixelSize(static_cast<int>(std::lround(points * 96.0 / 72.0)));
    f.setWeight(bold ? QFont::Bold : QFont::Normal);
    f.setItalic(italic);
    return f;
}

struct LabelStyle {
    double points = 8.25;
    bool bold = false;
    bool italic = false;
    QColor colour = Qt::black;
    Qt::Alignment align = Qt::AlignLeft;
    bool autoSize = false;
    bool visible = true;
};

FormLabel* makeLabel(QWidget* parent, const char* name, QRect geometry, const QString& caption,
                     const QString& face, const LabelStyle& style = {}) {
    auto* l = new FormLabel(parent, name);
    l->setFont(formFont(face, style.points, style.bold, style.italic));
    l->setDesignGeometry(geometry);
    QPalette p = l->palette();
    p.setColor(QPalette::WindowText, style.colour);
    l->setPalette(p);
    l->setAlignment(style.align | Qt::AlignTop);
    l->setAutoSize(style.autoSize);
    l->setCaption(caption);
    l->setVisible(style.visible);
    return l;
}

QPushButton* makeButton(QWidget* parent, const char* name, QRect geometry, const QString& caption) {
    auto* b = new QPushButton(caption, parent);
    b->setObjectName(name);
    b->setGeometry(geometry);
    // Enter presses the focused button, as it does in the form designer's windows; without a
    // focused button it reaches the window, which presses the default one.
    b->setAutoDefault(true);
    return b;
}

QFrame* makePanel(QWidget* parent, const char* name, QRect geometry) {
    auto* f = new QFrame(parent);
    f->setObjectName(name);
    f->setFrameShape(QFrame::NoFrame);
    f->setAutoFillBackground(true);
    f->setGeometry(geometry);
    f->hide();
    return f;
}

QPixmap renderPicture(const QString& resource, QSize size) {
    QPixmap pixmap(size);
    pixmap.fill(Qt::transparent);
    QSvgRenderer renderer(resource);
    QPainter painter(&pixmap);
    renderer.render(&painter);
    return pixmap;
}

}  // namespace

void frmMain::buildWindow() {
    const QString face = formFace();
    setObjectName("frmMain");
    setWindowTitle(qs(kTitle));
    // No close command: the user leaves through Sair or at the end of the wizard.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint);
    setFixedSize(twips(7665), twips(5265));
    QPalette p = palette();
    p.setColor(QPalette::Window, kWhite);
    p.setColor(QPalette::Base, kWhite);
    setPalette(p);
    setAutoFillBackground(true);
    setFont(formFont(face, 8.25));
    setWindowIcon(QIcon(renderPicture(QStringLiteral(":/main/icon.svg"), QSize(32, 32))));

    imgBack = new QLabel(this);
    imgBack->setObjectName("imgBack");
    imgBack->setGeometry(twipsRect(-120, 0, 2430, 4710));
    imgBack->setPixmap(renderPicture(QStringLiteral(":/main/strip.svg"), QSize(162, 314)));

    lblProductName =
        makeLabel(this, "lblProductName", twipsRect(15, 3720, 2265, 345), "Parvix 2002", face,
                  {.points = 14.25,
                   .bold = true,
                   .italic = true,
                   .colour = kWhite,
                   .align = Qt::AlignHCenter});
    lblAA = makeLabel(
        this, "lblAA", twipsRect(0, 4080, 2295, 255), "Auto Atualização", face,
        {.points = 12, .bold = true, .italic = true, .colour = kWhite, .align = Qt::AlignHCenter});
    lblCopyRight =
        makeLabel(this, "lblCopyRight", twipsRect(15, 4500, 1725, 180), "Copyright © 2002 Parvix",
                  face, {.points = 6.75, .bold = true, .colour = kWhite, .autoSize = true});

    const char* welcomeNames[] = {"lblWelcome_0", "lblWelcome_1", "lblWelcome_2", "lblWelcome_3",
                                  "lblWelcome_4"};
    lblWelcome[0] = makeLabel(this, welcomeNames[0], twipsRect(2400, 120, 5175, 615),
                              "Bem Vindo ao Programa de Atualização do Parvix 2002.", face,
                              {.points = 12, .bold = true});
    lblWelcome[1] = makeLabel(this, welcomeNames[1], twipsRect(2400, 960, 5175, 615),
                              "Este programa irá checar (via Internet) se existe uma versão do "
                              "Parvix 2002 mais nova do que esta que você está usando no momento.",
                              face);
    lblWelcome[2] =
        makeLabel(this, welcomeNames[2], twipsRect(2400, 1680, 4815, 615),
                  "Caso exista uma nova versão, o programa fará o download desta e logo "
                  "em seguida instalará em seu sistema.",
                  face);
    lblWelcome[3] = makeLabel(this, welcomeNames[3], twipsRect(2400, 2400, 5130, 435),
                              "OBS: Este programa requer que você esteja conectado a Internet para "
                              "funcionar corretamente.",
                              face, {.bold = true});
    lneWelcome = new FormLine(this, "lneWelcome");
    lneWelcome->setGeometry(twips(2400), twips(3000), twips(7560 - 2400), 1);
    lblWelcome[4] = makeLabel(this, welcomeNames[4], twipsRect(2400, 3240, 5055, 495),
                              "Quando você estiver pronto para iniciar a Atualização, aperte o "
                              "botão \"Avançar\".",
                              face);
    lblVerAtual = makeLabel(this, "lblVerAtual", twipsRect(6960, 4440, 645, 195), "", face,
                            {.align = Qt::AlignRight, .autoSize = true});

    cmdBarra = makeButton(this, "cmdBarra", twipsRect(0, 4680, 7815, 615), "");
    cmdBarra->setEnabled(false);
    Command1 = makeButton(this, "Command1", twipsRect(480, 4800, 975, 375), "S&obre");
    cmdAvancar = makeButton(this, "cmdAvancar", twipsRect(5400, 4800, 1215, 375), "&Avançar >>");
    cmdAvancar->setDefault(true);
    cmdSair = makeButton(this, "cmdSair", twipsRect(6600, 4800, 975, 375), "&Sair");

    buildPanel1();
    buildPanel2();
    buildPanel3();

    setTabOrder(cmdBarra, Command1);
    setTabOrder(Command1, cmdAvancar);
    setTabOrder(cmdAvancar, cmdSair);
    cmdAvancar->setFocus();

    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        move(area.center() - QPoint(width() / 2, height() / 2));
    }
}

void frmMain::buildPanel1() {
    const QString face = formFace();
    fraPos1 = makePanel(this, "fraPos1", twipsRect(1440, 4920, 5415, 4695));
    QWidget* f = fraPos1;
    lblStep1 = makeLabel(f, "lblStep1", twipsRect(120, 120, 3495, 375), "1 - Comparando Versões",
                         face, {.points = 12, .bold = true});
    lblStatusTit = makeLabel(f, "lblStatusTit", twipsRect(120, 840, 780, 240), "Status:", face,
                             {.points = 9.75, .bold = true});
    lblStatus = makeLabel(f, "lblStatus", twipsRect(120, 1080, 780, 240), "Status:", face,
                          {.points = 9.75, .bold = true, .autoSize = true});
    lblErrorTit = makeLabel(f, "lblErrorTit", twipsRect(120, 1560, 480, 195), "Erro:", face,
                            {.bold = true, .colour = kRed, .visible = false});
    lblError = makeLabel(f, "lblError", twipsRect(120, 1800, 5175, 555), "Não foi possível....",
                         face, {.visible = false});
    lblWhatToDoTit =
        makeLabel(f, "lblWhatToDoTit", twipsRect(120, 2280, 1245, 195), "O Que Fazer:", face,
                  {.bold = true, .colour = kDarkBlue, .visible = false});
    lblWhatToDo = makeLabel(f, "lblWhatToDo", twipsRect(120, 2520, 5175, 615), "Clique o botão....",
                            face, {.visible = false});
    lblNewVerTit =
        makeLabel(f, "lblNewVerTit", twipsRect(120, 3120, 2370, 195), "Nova Versão Disponível!",
                  face, {.bold = true, .colour = kGreen, .visible = false});
    lblNewVer = makeLabel(f, "lblNewVer", twipsRect(120, 3360, 5175, 615),
                          "O programa determinou que existe uma versão mais atualizada do Parvix "
                          "2002 disponível. Clique o botão Avançar para iniciar o download!",
                          face, {.visible = false});
    Shape1 = new FormShape(f, "Shape1");
    Shape1->setGeometry(twipsRect(120, 4310, 5175, 255));
    lblVersion2 = makeLabel(f, "lblVersion2", twipsRect(240, 4320, 1155, 195), "Sua Versão:", face,
                            {.bold = true, .autoSize = true});
    lblLastVer = makeLabel(f, "lblLastVer", twipsRect(2670, 4320, 2505, 195),
                           "Última Versão Disponível:", face,
                           {.bold = true, .align = Qt::AlignRight, .autoSize = true});
}

void frmMain::buildPanel2() {
    const QString face = formFace();
    fraPos2 = makePanel(this, "fraPos2", twipsRect(-3480, 0, 5415, 4695));
    QWidget* f = fraPos2;
    lblStep2 = makeLabel(f, "lblStep2", twipsRect(120, 120, 4680, 270),
                         "2 - Puxando Arquivo de Atualização", face, {.points = 12, .bold = true});
    lblStatus2 = makeLabel(f, "lblStatus2", twipsRect(120, 600, 930, 240), "Status...", face,
                           {.points = 9.75, .bold = true, .autoSize = true});
    pb1 = new FormProgressBar(f, "pb1");
    // The designed bar reaches one pixel into the row of figures below it; it ends where they
    // begin, so that their repaints never touch it.
    pb1->setGeometry(twipsRect(120, 840, 5175, 375).adjusted(0, 0, 0, -1));
    pb1->setTextVisible(false);
    pb1->setRange(0, 100);
    pb1->setValue(0);
    lblDLReceived = makeLabel(f, "lblDLReceived", twipsRect(120, 1200, 855, 195), "Recebido:", face,
                              {.autoSize = true});
    lblDLTimeLeft = makeLabel(f, "lblDLTimeLeft", twipsRect(3765, 1200, 1470, 195),
                              "Tempo Restante:", face, {.align = Qt::AlignRight, .autoSize = true});
    lblDLRate = makeLabel(f, "lblDLRate", twipsRect(120, 1440, 1005, 195), "Velocidade:", face,
                          {.autoSize = true});
    lblDLPercent =
        makeLabel(f, "lblDLPercent", twipsRect(3135, 1440, 2100, 195),
                  "Porcentagem Concluída:", face, {.align = Qt::AlignRight, .autoSize = true});
    for (FormLabel* l : {lblStatus2, lblDLReceived, lblDLTimeLeft, lblDLRate, lblDLPercent})
        l->setLive(true);
    FormLabel::shareRow(*lblDLReceived, *lblDLTimeLeft);
    FormLabel::shareRow(*lblDLRate, *lblDLPercent);
    cmdDLCancel =
        makeButton(f, "cmdDLCancel", twipsRect(3120, 1680, 2175, 255), "Cancelar o Download...");
    {
        // A graphical-style button, so that its white face shows.
        QPalette bp = cmdDLCancel->palette();
        bp.setColor(QPalette::Button, kWhite);
        cmdDLCancel->setPalette(bp);
    }
    cmdDLCancel->setToolTip("Clique aqui para cancelar o download...");
    cmdDLCancel->setEnabled(false);
    lblErrorTit2 = makeLabel(f, "lblErrorTit2", twipsRect(120, 1800, 480, 195), "Erro:", face,
                             {.bold = true, .colour = kRed, .visible = false});
    lblError2 = makeLabel(f, "lblError2", twipsRect(120, 2040, 5175, 555), "Descrição do erro...",
                          face, {.visible = false});
    lblWhatToDoTit2 =
        makeLabel(f, "lblWhatToDoTit2", twipsRect(120, 2640, 1245, 195), "O Que Fazer:", face,
                  {.bold = true, .colour = kDarkBlue, .visible = false});
    lblWhatToDo2 = makeLabel(f, "lblWhatToDo2", twipsRect(120, 2880, 5115, 675), "Instruções...",
                             face, {.visible = false});
    lblDLFinishTit =
        makeLabel(f, "lblDLFinishTit", twipsRect(120, 3600, 2010, 195), "Download Concluído!", face,
                  {.bold = true, .colour = kGreen, .visible = false});
    lblDLFinish = makeLabel(f, "lblDLFinish", twipsRect(120, 3840, 5235, 675),
                            "O Programa terminou de puxar o arquivo de atualização. Clique o botão "
                            "'Avançar' logo abaixo para começar a atualização do Parvix 2002.",
                            face, {.visible = false});
}

void frmMain::buildPanel3() {
    const QString face = formFace();
    fraPos3 = makePanel(this, "fraPos3", twipsRect(7320, 0, 5415, 4695));
    QWidget* f = fraPos3;
    lblStep3 = makeLabel(f, "lblStep3", twipsRect(120, 120, 3060, 270), "3 - Instalar Atualização",
                         face, {.points = 12, .bold = true});
    lblInstall1 = makeLabel(f, "lblInstall1", twipsRect(120, 480, 5175, 495),
                            "O Programa terminou o download dos arquivos necessários com sucesso e "
                            "está pronto para começar a Atualização.",
                            face);
    lblInstall2 =
        makeLabel(f, "lblInstall2", twipsRect(120, 960, 5175, 615),
                  "Antes de começar, certifique-se de que o Parvix 2002 não está rodando. "
                  "Isto pode afetar o programa de Atualização e causar danos.",
                  face);
    lblInstall3 = makeLabel(f, "lblInstall3", twipsRect(120, 1680, 5175, 615),
                            "Ao apertar o botão 'Instalar' abaixo, este programa se fechará "
                            "automaticamente para evitar que problemas aconteçam durante o "
                            "processo de Atualização.",
                            face);
    lblInstall4 = makeLabel(f, "lblInstall4", twipsRect(120, 2400, 5175, 255),
                            "Quando estiver pronto para começar, clique em 'Instalar'.", face);
    Line1 = new FormLine(f, "Line1");
    Line1->setGeometry(twips(120), twips(2760), twips(5280 - 120), 1);
    lblInstall5 = makeLabel(f, "lblInstall5", twipsRect(120, 2880, 5175, 855),
                            "Caso você não queira executar o programa de Atualização neste "
                            "momento, anote a linha em Azul logo abaixo, e quando quiser "
                            "Atualizar, basta ir até o menu Iniciar, clicar em Executar, fornecer "
                            "a linha abaixo e clicar em OK.",
                            face);
    // Two lines high, wrapping anywhere: a long path shows whole, to be noted down.
    txtInstallPath = new QPlainTextEdit(f);
    txtInstallPath->setObjectName("txtInstallPath");
    txtInstallPath->setGeometry(twipsRect(120, 3720, 5175, 495));
    txtInstallPath->setFont(formFont(face, 8.25, true));
    {
        QPalette tp = txtInstallPath->palette();
        tp.setColor(QPalette::Text, kDarkBlue);
        txtInstallPath->setPalette(tp);
    }
    // Selectable and copyable, but the path is the program's to say.
    txtInstallPath->setReadOnly(true);
    txtInstallPath->setTextInteractionFlags(Qt::TextSelectableByMouse |
                                            Qt::TextSelectableByKeyboard);
    txtInstallPath->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    txtInstallPath->setTabChangesFocus(true);
    txtInstallPath->document()->setDocumentMargin(1);  // two lines fit without a scroll bar
    txtInstallPath->setToolTip(
        "Dica: Você pode selecionar esta linha, clicar com o botão Direito do mouse e selecionar "
        "a opção Copiar.");
    txtInstallPath->setPlainText("Caminho do programa de Atualização");
    lblThanks = makeLabel(f, "lblThanks", twipsRect(120, 4320, 4260, 195),
                          "Muito Obrigado Por Utilizar o Parvix 2002!", face,
                          {.bold = true, .autoSize = true});
}

}  // namespace veltrup
