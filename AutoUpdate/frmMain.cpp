#include "frmMain.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "UpdateVerifier.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QFileInfo>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QFrame>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLibraryInfo>
#include <QPainter>
#include <QPlainTextEdit>
#include <QTextDocument>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSocketNotifier>
#include <QSvgRenderer>
#include <QTranslator>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <utility>

#include "Library.h"
#include "TypeLib.h"
#include "automation/ComError.h"
#include "automation/Container.h"
#include "host/HostServices.h"
#include "mdlRegistry.h"
#include "win/UniqueFd.h"

namespace veltrup {

using carvo::Variant;

int twips(int t) { return static_cast<int>(std::lround(static_cast<double>(t) / kTwipsPerPixel)); }

namespace {

QRect twipsRect(int left, int top, int width, int height) {
    return {twips(left), twips(top), twips(width), twips(height)};
}

QString qs(std::string_view s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
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

struct FailureTexts {
    const char* title;
    const char* text;
    const char* advice;
};

constexpr const char* kAdviceRetry = "Você pode clicar o botão 'Avançar' para tentar novamente.";
constexpr const char* kAdviceLater =
    "Você pode clicar o botão 'Avançar' para tentar novamente agora, ou pode aguardar e repetir o "
    "processo mais tarde. O Servidor pode estar sob manutenção.";
constexpr const char* kAdviceRestart = "Você pode clicar o botão 'Avançar' para reiniciar o Download.";
constexpr const char* kAdviceConnect =
    "Você deve se conectar a Internet, e em seguida clicar o botão 'Avançar'.";

// The failures the wizard explains; any other code is not shown.
std::optional<FailureTexts> failureTexts(std::int32_t code) {
    switch (code) {
        case 1:
            return FailureTexts{"Erro:",
                                "Não foi possível acessar o arquivo, tenha certeza de que você está "
                                "conectado a Internet!",
                                kAdviceRetry};
        case 2: return FailureTexts{"Erro:", "O Arquivo não foi encontrado no servidor.", kAdviceLater};
        case 3:
            return FailureTexts{
                "Erro:", "O tempo máximo para se estabelecer a conexão foi atingido, sem sucesso.",
                kAdviceLater};
        case 4:
            return FailureTexts{"Download Cancelado!", "Você optou por cancelar o Download.",
                                kAdviceRestart};
        case 5:
            return FailureTexts{"Erro:", "Não foi detectada conexão com a Internet!", kAdviceConnect};
        case 401: return FailureTexts{"Erro:", "Acesso Não Autorizado.", kAdviceLater};
        case 403: return FailureTexts{"Erro:", "Acesso Negado.", kAdviceLater};
        default: return std::nullopt;
    }
}

// Which file a path names and how it was left: opened without following a link, regular
// files only.
struct FileIdentity {
    std::uint64_t device = 0, inode = 0;
    std::int64_t length = 0, modified = 0;
};

std::optional<FileIdentity> fileIdentity(const std::string& path) {
    const carvo::UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
    struct stat st {};
    if (fd.get() < 0 || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    return FileIdentity{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino),
                        static_cast<std::int64_t>(st.st_size),
                        static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}

// The status line after the downloaded file was refused by its check.
constexpr const char* kRefusedStatus = "Arquivo de Atualização Recusado!";

}  // namespace

// ---- controls of the form -----------------------------------------------------------------

FormLabel::FormLabel(QWidget* parent, const char* name) : QLabel(parent) {
    setObjectName(name);
    // Captions come partly from downloaded files: never read them as markup.
    setTextFormat(Qt::PlainText);
    setWordWrap(true);
}

void FormLabel::setAutoSize(bool on) {
    autoSize_ = on;
    setWordWrap(!on);
    if (on) fit();
}

namespace {
// Posted to a live label or the bar when it holds a value not yet shown.
const QEvent::Type kShowLatest = static_cast<QEvent::Type>(QEvent::User + 15);
}  // namespace

void FormLabel::setCaption(const QString& text) {
    if (live_ && isVisible()) {
        if (text == caption_) return;
        caption_ = text;
        if (!pending_) {
            pending_ = true;
            QCoreApplication::postEvent(this, new QEvent(kShowLatest));
        }
        return;
    }
    caption_ = text;
    pending_ = false;
    setText(text);
    fit();
}

void FormLabel::showNow() {
    if (!pending_) return;
    pending_ = false;
    setText(caption_);
    fit();
}

bool FormLabel::event(QEvent* e) {
    if (e->type() == kShowLatest) {
        showNow();
        return true;
    }
    return QLabel::event(e);
}

FormProgressBar::FormProgressBar(QWidget* parent, const char* name) : QProgressBar(parent) {
    setObjectName(name);
}

void FormProgressBar::setValue(int value) {
    if (value == value_) return;
    value_ = value;
    if (!isVisible()) {
        showNow();
        return;
    }
    if (!pending_) {
        pending_ = true;
        QCoreApplication::postEvent(this, new QEvent(kShowLatest));
    }
}

void FormProgressBar::setMaximum(int maximum) {
    QProgressBar::setMaximum(maximum);
    value_ = std::clamp(value_, minimum(), QProgressBar::maximum());
    pending_ = true;
    showNow();
}

void FormProgressBar::showNow() {
    if (!pending_) return;
    pending_ = false;
    QProgressBar::setValue(value_);
    update();  // the whole bar, whatever painted part of it since
}

bool FormProgressBar::event(QEvent* e) {
    if (e->type() == kShowLatest) {
        showNow();
        return true;
    }
    return QProgressBar::event(e);
}

void FormLabel::setCaption(std::string_view text) { setCaption(qs(text)); }

void FormLabel::setDesignGeometry(const QRect& geometry) {
    design_ = geometry;
    setGeometry(geometry);
    fit();
}

void FormLabel::fit() {
    const QFontMetrics fm(font());
    if (autoSize_) {
        const int w = fm.horizontalAdvance(text());
        const int h = fm.height();
        if (alignment() & Qt::AlignRight) {
            setGeometry(x() + width() - w, y(), w, h);
        } else {
            setGeometry(x(), y(), w, h);
        }
        if (partner_) keepApartFromPartner();
        return;
    }
    QRect r = design_;
    bool wrap = true;
    const QRect wrapped =
        fm.boundingRect(QRect(0, 0, r.width(), INT_MAX / 2), Qt::TextWordWrap, text());
    if (wrapped.width() > r.width() || wrapped.height() > r.height()) {
        if (r.height() < 2 * fm.lineSpacing()) {
            wrap = false;
            r.setWidth(std::max(r.width(), fm.horizontalAdvance(text())));
            r.setHeight(std::max(r.height(), fm.height()));
        } else {
            r.setWidth(std::max(r.width(), wrapped.width()));
            r.setHeight(wrapped.height());
        }
    }
    setWordWrap(wrap);
    setGeometry(r);
}

void FormLabel::shareRow(FormLabel& left, FormLabel& right) {
    left.partner_ = &right;
    right.partner_ = &left;
    left.rowFont_ = right.rowFont_ = left.font();
}

void FormLabel::keepApartFromPartner() {
    constexpr int kGap = 6;       // pixels kept free between the two captions
    constexpr int kSmallest = 7;  // below this the digits would no longer read
    FormLabel& left = (alignment() & Qt::AlignRight) ? *partner_ : *this;
    FormLabel& right = &left == this ? *partner_ : *this;
    // What each shows now (a live partner may still wait for its repaint: it refits then).
    const QString leftText = left.QLabel::text(), rightText = right.QLabel::text();
    const int rightEdge = right.x() + right.width();
    const int room = rightEdge - left.x() - kGap;
    QFont face = rowFont_;
    while (face.pixelSize() > kSmallest) {
        const QFontMetrics fm(face);
        if (fm.horizontalAdvance(leftText) + fm.horizontalAdvance(rightText) <= room) break;
        face.setPixelSize(face.pixelSize() - 1);
    }
    const QFontMetrics fm(face);
    for (FormLabel* l : {&left, &right}) {
        if (l->font() != face) l->setFont(face);
        const int w = fm.horizontalAdvance(l == &left ? leftText : rightText);
        l->setGeometry(l == &right ? rightEdge - w : l->x(), l->y(), w, fm.height());
    }
}

FormLine::FormLine(QWidget* parent, const char* name) : QWidget(parent) { setObjectName(name); }

void FormLine::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setPen(QPen(Qt::black, 1));
    p.drawLine(0, 0, width(), 0);
}

FormShape::FormShape(QWidget* parent, const char* name) : QWidget(parent) { setObjectName(name); }

void FormShape::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setPen(QPen(Qt::black, 1));
    p.setBrush(Qt::NoBrush);
    p.drawRect(0, 0, width() - 1, height() - 1);
}

// ---- helpers ------------------------------------------------------------------------------

// ---- the window's link to its controls ----------------------------------------------------

class frmMain::Site : public carvo::ContainerSite {
public:
    explicit Site(carvo::HostServices* host) : host_(host) {}
    void onPropertyChanged(std::string_view) override {}
    void requestExtent(const carvo::Extent&) override {}
    carvo::HostServices* hostServices() override { return host_; }

private:
    carvo::HostServices* host_;
};

class frmMain::Events : public carvo::EventSink {
public:
    Events(frmMain* form, int which) : form_(form), which_(which) {}
    void onEvent(carvo::DispId id, std::span<Variant> args) override {
        if (form_) form_->onControlEvent(which_, id, args);
    }

private:
    QPointer<frmMain> form_;
    int which_;
};

// ---- construction -------------------------------------------------------------------------

frmMain::frmMain(MainEnvironment env, QWidget* parent)
    : QWidget(parent), env_(std::move(env)), site_(std::make_unique<Site>(env_.host)) {
    buildWindow();
    dl1_ = makeControl(1);
    dl2_ = makeControl(2);
}

frmMain::~frmMain() {
    for (int which = 1; which <= 2; ++which) {
        auto& dl = which == 1 ? dl1_ : dl2_;
        if (auto ctl = std::dynamic_pointer_cast<carvo::OleControl>(dl)) {
            ctl->connectionPoint().unadvise(cookies_[static_cast<std::size_t>(which - 1)]);
            ctl->setClientSite(nullptr);
        }
    }
}

std::shared_ptr<carvo::Dispatch> frmMain::makeControl(int which) {
    auto object = env_.createControl ? env_.createControl()
                                     : carvo::createObject(carvo::clsidDownLoad());
    auto control = std::dynamic_pointer_cast<carvo::OleControl>(object);
    if (!control) throw std::runtime_error("the download control is not a control");
    control->setClientSite(site_.get());
    // The window keeps only the controls' size, so both start from the control's defaults.
    control->initNew();
    cookies_[static_cast<std::size_t>(which - 1)] =
        control->connectionPoint().advise(std::make_shared<Events>(this, which));
    return object;
}

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

    lblProductName = makeLabel(this, "lblProductName", twipsRect(15, 3720, 2265, 345),
                               "Parvix 2002", face,
                               {.points = 14.25, .bold = true, .italic = true, .colour = kWhite,
                                .align = Qt::AlignHCenter});
    lblAA = makeLabel(this, "lblAA", twipsRect(0, 4080, 2295, 255), "Auto Atualização", face,
                      {.points = 12, .bold = true, .italic = true, .colour = kWhite,
                       .align = Qt::AlignHCenter});
    lblCopyRight = makeLabel(this, "lblCopyRight", twipsRect(15, 4500, 1725, 180),
                             "Copyright © 2002 Parvix", face,
                             {.points = 6.75, .bold = true, .colour = kWhite, .autoSize = true});

    const char* welcomeNames[] = {"lblWelcome_0", "lblWelcome_1", "lblWelcome_2", "lblWelcome_3",
                                  "lblWelcome_4"};
    lblWelcome[0] = makeLabel(this, welcomeNames[0], twipsRect(2400, 120, 5175, 615),
                              "Bem Vindo ao Programa de Atualização do Parvix 2002.", face,
                              {.points = 12, .bold = true});
    lblWelcome[1] = makeLabel(this, welcomeNames[1], twipsRect(2400, 960, 5175, 615),
                              "Este programa irá checar (via Internet) se existe uma versão do "
                              "Parvix 2002 mais nova do que esta que você está usando no momento.",
                              face);
    lblWelcome[2] = makeLabel(this, welcomeNames[2], twipsRect(2400, 1680, 4815, 615),
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

    connect(cmdAvancar, &QPushButton::clicked, this, [this] { guarded([this] { cmdAvancar_Click(); }); });
    connect(cmdSair, &QPushButton::clicked, this, [this] { guarded([this] { cmdSair_Click(); }); });
    connect(Command1, &QPushButton::clicked, this, [this] { guarded([this] { Command1_Click(); }); });
    connect(cmdDLCancel, &QPushButton::clicked, this,
            [this] { guarded([this] { cmdDLCancel_Click(); }); });

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
    lblWhatToDoTit = makeLabel(f, "lblWhatToDoTit", twipsRect(120, 2280, 1245, 195),
                               "O Que Fazer:", face,
                               {.bold = true, .colour = kDarkBlue, .visible = false});
    lblWhatToDo = makeLabel(f, "lblWhatToDo", twipsRect(120, 2520, 5175, 615), "Clique o botão....",
                            face, {.visible = false});
    lblNewVerTit = makeLabel(f, "lblNewVerTit", twipsRect(120, 3120, 2370, 195),
                             "Nova Versão Disponível!", face,
                             {.bold = true, .colour = kGreen, .visible = false});
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
    lblDLReceived = makeLabel(f, "lblDLReceived", twipsRect(120, 1200, 855, 195), "Recebido:",
                              face, {.autoSize = true});
    lblDLTimeLeft = makeLabel(f, "lblDLTimeLeft", twipsRect(3765, 1200, 1470, 195),
                              "Tempo Restante:", face, {.align = Qt::AlignRight, .autoSize = true});
    lblDLRate = makeLabel(f, "lblDLRate", twipsRect(120, 1440, 1005, 195), "Velocidade:", face,
                          {.autoSize = true});
    lblDLPercent = makeLabel(f, "lblDLPercent", twipsRect(3135, 1440, 2100, 195),
                             "Porcentagem Concluída:", face,
                             {.align = Qt::AlignRight, .autoSize = true});
    for (FormLabel* l : {lblStatus2, lblDLReceived, lblDLTimeLeft, lblDLRate, lblDLPercent})
        l->setLive(true);
    FormLabel::shareRow(*lblDLReceived, *lblDLTimeLeft);
    FormLabel::shareRow(*lblDLRate, *lblDLPercent);
    cmdDLCancel = makeButton(f, "cmdDLCancel", twipsRect(3120, 1680, 2175, 255),
                             "Cancelar o Download...");
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
    lblWhatToDoTit2 = makeLabel(f, "lblWhatToDoTit2", twipsRect(120, 2640, 1245, 195),
                                "O Que Fazer:", face,
                                {.bold = true, .colour = kDarkBlue, .visible = false});
    lblWhatToDo2 = makeLabel(f, "lblWhatToDo2", twipsRect(120, 2880, 5115, 675), "Instruções...",
                             face, {.visible = false});
    lblDLFinishTit = makeLabel(f, "lblDLFinishTit", twipsRect(120, 3600, 2010, 195),
                               "Download Concluído!", face,
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
    lblInstall2 = makeLabel(f, "lblInstall2", twipsRect(120, 960, 5175, 615),
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

// ---- plumbing -----------------------------------------------------------------------------

carvo::HostServices& frmMain::host() const { return *env_.host; }

// On Linux the separator between the program folder and a file name is "/". The folder keeps
// a separator only at the root, so there the joined path holds two in a row ("//links.ini"),
// which the system reads as the same file.
std::string frmMain::localPath(std::string_view name) const {
    return env_.programFolder + "/" + std::string(name);
}

Variant frmMain::installedVersion() const {
    return ReadRegValue(HKEY_LOCAL_MACHINE, kVersionKey, kVersionValue, env_.registryStore);
}

void frmMain::guarded(const std::function<void()>& handler) {
    try {
        handler();
    } catch (const std::exception& e) {
        // An exception must not unwind through Qt's event loop; tell it and stay open.
        host().messageBox(std::string("Erro: ") + e.what(), carvo::mb::Critical | carvo::mb::OkOnly,
                          kTitle);
    }
}

void frmMain::onControlEvent(int which, carvo::DispId id, std::span<Variant> args) {
    namespace ev = carvo::eventid;
    const bool hasArg = !args.empty();
    if (which == 1) {
        switch (id) {
            case ev::DLComplete: dl1_DLComplete(); break;
            case ev::DLECode:
                if (hasArg) dl1_DLECode(args[0].toLong());
                break;
            case ev::StatusChange:
                if (hasArg) dl1_StatusChange(args[0].toString());
                break;
            default: break;  // the version check shows no progress figures
        }
        return;
    }
    switch (id) {
        case ev::DLComplete: dl2_DLComplete(); break;
        case ev::DLECode:
            if (hasArg) dl2_DLECode(args[0].toLong());
            break;
        case ev::RecievedBytes:
            if (hasArg) dl2_RecievedBytes(args[0].toLong());
            break;
        case ev::Percent:
            if (hasArg) dl2_Percent(args[0].toLong());
            break;
        case ev::StatusChange:
            if (hasArg) dl2_StatusChange(args[0].toString());
            break;
        case ev::Rate:
            if (hasArg) dl2_Rate(args[0].toString());
            break;
        case ev::TimeLeft:
            if (hasArg) dl2_TimeLeft(args[0].toString());
            break;
        default: break;
    }
}

// ---- load, exit, about --------------------------------------------------------------------

bool frmMain::Form_Load() {
    if (env_.anotherCopyRunning && env_.anotherCopyRunning()) {
        host().messageBox(
            "Erro: Você já está com outra instância deste programa aberta\r\nClique em OK para "
            "fechar",
            carvo::mb::Critical | carvo::mb::OkOnly, kTitle);
        if (env_.endProgram) env_.endProgram();
        return false;
    }
    lblVerAtual->setCaption("Versão Atual: " + RegValueText(installedVersion()));
    intStep_ = 0;
    return true;
}

void frmMain::closeEvent(QCloseEvent* event) {
    // A close request from the window manager asks the exit question instead of closing.
    event->ignore();
    guarded([this] { cmdSair_Click(); });
}

void frmMain::keyPressEvent(QKeyEvent* event) {
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
        cmdAvancar->isEnabled() && cmdAvancar->isVisible()) {
        cmdAvancar->click();
        return;
    }
    QWidget::keyPressEvent(event);
}

void frmMain::cmdSair_Click() {
    const auto answer = host().messageBox(
        "Tem certeza que deseja sair do Programa de Auto Atualização?",
        carvo::mb::Question | carvo::mb::YesNo | carvo::mb::DefaultButton1, kTitle);
    if (answer != carvo::MsgBoxResult::Yes) return;
    carvo::callMethod(*dl1_, carvo::dispid::Cancel);
    carvo::callMethod(*dl2_, carvo::dispid::Cancel);
    // A partial file kept for a resume under a hidden name is of no use once we leave.
    discardHiddenPartial();
    env_.endProgram();
}

void frmMain::Command1_Click() {
    if (env_.showAbout) env_.showAbout(nullptr);
}

// ---- the wizard ---------------------------------------------------------------------------

void frmMain::cmdAvancar_Click() {
    switch (intStep_) {
        case 0:
            for (FormLabel* l : lblWelcome) l->hide();
            lneWelcome->hide();
            lblVerAtual->hide();
            fraPos1->move(twips(2280), 0);
            lblVersion2->setCaption("Sua Versão: " + RegValueText(installedVersion()));
            fraPos1->show();
            cmdAvancar->setEnabled(false);
            StartVersionCheck();
            break;
        case 1:
            fraPos1->hide();
            fraPos2->move(twips(2280), 0);
            fraPos2->show();
            cmdAvancar->setEnabled(false);
            StartUpdateDownload();
            break;
        case 2: {
            fraPos2->hide();
            fraPos3->move(twips(2280), 0);
            fraPos3->show();
            cmdAvancar->setText("&Instalar");
            const std::string saved = carvo::getProperty(*dl1_, carvo::dispid::SaveLocation).toString();
            txtInstallPath->setPlainText(
                qs(localPath(ReadProfileString("MAIN", "Shell", "Erro", saved))));
            txtInstallPath->setFocus();
            intStep_ = 4;
            break;
        }
        case 3: env_.endProgram(); break;
        case 4: handOff(); break;
        default: break;
    }
}

void frmMain::StartVersionCheck() {
    lblError->hide();
    lblErrorTit->hide();
    lblWhatToDo->hide();
    lblWhatToDoTit->hide();
    carvo::Dispatch& dl = *dl1_;
    carvo::putProperty(dl, carvo::dispid::SaveLocation, localPath("Update.ini"));
    carvo::putProperty(dl, carvo::dispid::Url,
                       ReadProfileString("MAIN", "UpdateFile", "Erro", localPath("links.ini")));
    // The outcome comes back as events. After a failed probe (404, refused, cancelled) there
    // is no file to fetch, and the transfer's own failure would hide the probe's reason.
    probeFailed_ = false;
    carvo::callMethod(dl, carvo::dispid::GetFileInformation);
    if (!probeFailed_) carvo::callMethod(dl, carvo::dispid::DownLoad);
}

void frmMain::StartUpdateDownload() {
    // The figures of a download are shown once per repaint; whoever looks once the attempt is
    // over, repainted or not, sees the last of them.
    const struct ShowLatest {
        frmMain& form;
        ~ShowLatest() { form.showLatestFigures(); }
    } showLatest{*this};
    lblErrorTit2->hide();
    lblError2->hide();
    lblWhatToDoTit2->hide();
    lblWhatToDo2->hide();
    const std::string versionFile = localPath("Update.ini");
    const std::string shell = ReadProfileString("MAIN", "Shell", "Erro", versionFile);
    if (!isSafeUpdateName(shell, ownProgramName())) {
        // The name comes from the server: a path in it would write, and later run, a file
        // anywhere, and one of our own names would replace the links file (and the maker's key
        // in it) or the program. Refuse it as a failed transfer; the user may try again.
        dl2_DLECode(1);
        return;
    }
    carvo::Dispatch& dl = *dl2_;
    // With the maker's key in use, the update arrives under a name of its own and takes its
    // real name only once it has passed the check, so a file that fails it never replaces one
    // that was there. Without a key the update is saved under its name, as always.
    updateTarget_ = localPath(shell);
    const bool checked = !ReadProfileString("MAIN", "PublicKey", "", localPath("links.ini")).empty();
    const std::string saveLocation = checked ? localPath("." + shell + ".parcial") : updateTarget_;
    hiddenPartial_ = checked ? saveLocation : std::string();
    const std::string url = ReadProfileString("MAIN", "File", "Erro", versionFile);
    carvo::putProperty(dl, carvo::dispid::SaveLocation, saveLocation);
    carvo::putProperty(dl, carvo::dispid::Url, url);
    const std::optional<ResumePoint> broken = std::exchange(resumePoint_, std::nullopt);
    refused_ = false;
    attemptPosition_ = 0;
    attemptCode_ = 0;
    probeFailed_ = false;
    carvo::callMethod(dl, carvo::dispid::GetFileInformation);
    if (probeFailed_) {
        // The probe's code is on the screen, with the retry offered; the bar and the figures
        // keep what they showed. A broken download waiting to be continued still waits: a
        // retry pressed while the server is still away must not throw its bytes away.
        if (broken && broken->path == saveLocation) {
            resumePoint_ = broken;
            return;
        }
        discardHiddenPartial();
        return;
    }
    const std::int32_t fileSize = carvo::getProperty(dl, carvo::dispid::FileSize).toLong();
    const auto size = static_cast<float>(fileSize);
    // A bar needs a maximum above its minimum; an unknown size (0) leaves it empty until the
    // error code or the first bytes arrive.
    int max = size >= static_cast<float>(INT_MAX) ? INT_MAX : static_cast<int>(size);
    if (max <= pb1->minimum()) max = pb1->minimum() + 1;
    pb1->setMaximum(max);
    cmdDLCancel->setEnabled(true);

    // A retry after a broken transfer goes on from where it stopped when the server said it
    // can, the file there is still the one that transfer left, and the server still has a
    // file of the same size. Anything else, or a refused resume, starts over.
    bool resumed = false;
    if (broken && broken->path == saveLocation && broken->url == url && broken->size == fileSize) {
        const auto now = fileIdentity(saveLocation);
        if (now && now->device == broken->device && now->inode == broken->inode &&
            now->length == broken->length && now->modified == broken->modified &&
            now->length < fileSize) {
            showStartOfAttempt(static_cast<std::int32_t>(now->length));
            resuming_ = true;
            resumeRefused_ = false;
            carvo::callMethod(dl, carvo::dispid::DLResume);
            resuming_ = false;
            resumed = !resumeRefused_;
            if (!resumed) {
                // Starting over needs a probe of its own: the resume used up the last one.
                probeFailed_ = false;
                carvo::callMethod(dl, carvo::dispid::GetFileInformation);
                if (probeFailed_) {
                    discardHiddenPartial();
                    return;
                }
            }
        }
    }
    if (!resumed) {
        showStartOfAttempt(0);
        carvo::callMethod(dl, carvo::dispid::DownLoad);
    }

    if (attemptCode_ == 1 && attemptPosition_ > 0 &&
        carvo::getProperty(dl, carvo::dispid::ResumeSupported).toBool() != 0) {
        if (const auto left = fileIdentity(saveLocation)) {
            resumePoint_ = ResumePoint{saveLocation,   url,          fileSize,      left->device,
                                       left->inode, left->length, left->modified};
            return;  // kept for the retry; the exit deletes a hidden one
        }
    }
    if (attemptCode_ != 0) discardHiddenPartial();
}

void frmMain::showLatestFigures() {
    for (FormLabel* l : {lblStatus2, lblDLReceived, lblDLTimeLeft, lblDLRate, lblDLPercent})
        l->showNow();
    pb1->showNow();
}

void frmMain::showStartOfAttempt(std::int32_t position) {
    dl2_RecievedBytes(position);
    const std::int32_t total = carvo::getProperty(*dl2_, carvo::dispid::FileSize).toLong();
    dl2_Percent(total > 0 ? carvo::roundToLong(static_cast<double>(position) / total * 100.0) : 0);
}

void frmMain::discardHiddenPartial() {
    if (hiddenPartial_.empty()) return;
    std::error_code ec;
    std::filesystem::remove(hiddenPartial_, ec);
}

void frmMain::handOff() {
    if (handingOff_) return;  // a press arrived during our own search's yields
    struct Busy {
        bool& flag;
        explicit Busy(bool& f) : flag(f) { flag = true; }
        ~Busy() { flag = false; }
    } busy(handingOff_);
    std::string running;
    if (env_.windows) {
        const auto window = FindWindowByTitle(*env_.windows, host(), "Parvix 2002 v", false);
        running = GetWindowTitle(*env_.windows, window);
    }
    if (!running.empty()) {
        host().messageBox("Erro! O Parvix 2002 está rodando em seu sistema. Feche-o e tente outra vez!",
                          carvo::mb::Exclamation | carvo::mb::OkOnly, kTitle);
        return;
    }
    const std::string saved = carvo::getProperty(*dl1_, carvo::dispid::SaveLocation).toString();
    const std::string shell = ReadProfileString("MAIN", "Shell", "Erro", saved);
    const std::string installer = localPath(shell);
    std::string failure;
    bool refusedByCheck = false;
    if (!isSafeUpdateName(shell, ownProgramName())) {
        failure = "O nome do programa de Atualização não é válido.";
    } else if (!verifyOrDelete(localPath("Update.ini"), localPath("links.ini"), installer, shell)
                    .ok) {
        // Checked again just before it runs: the file may have changed since it arrived.
        failure = kVerifyFailureText;
        refusedByCheck = true;
    } else if (env_.launchInstaller) {
        failure = env_.launchInstaller(installer);
        // The start checks the bytes it runs once more and deletes a file that fails.
        refusedByCheck = failure == kVerifyFailureText;
    }
    if (!failure.empty()) {
        host().messageBox("Não foi possível iniciar o programa de Atualização:\r\n" + installer +
                              "\r\n" + failure,
                          carvo::mb::Critical | carvo::mb::OkOnly, kTitle);
        if (refusedByCheck) backToDownloadStep();  // the file is gone: offer to fetch it again
        return;
    }
    env_.endProgram();
}

void frmMain::backToDownloadStep() {
    fraPos3->hide();
    fraPos2->move(twips(2280), 0);
    fraPos2->show();
    lblDLFinishTit->hide();
    lblDLFinish->hide();
    cmdAvancar->setText("&Avançar >>");
    showDownloadFailure(kVerifyFailureTitle, kVerifyFailureText, kVerifyFailureAdvice);
    lblStatus2->setCaption(kRefusedStatus);
}

// ---- dl1: the version check ---------------------------------------------------------------

void frmMain::dl1_DLComplete() {
    const Variant installed = installedVersion();
    const std::string saved = carvo::getProperty(*dl1_, carvo::dispid::SaveLocation).toString();
    const std::string available = ReadProfileString("MAIN", "Version", "0.0", saved);
    lblLastVer->setCaption("Última Versão Disponível: " + available);
    std::int32_t offered = 0;
    try {
        offered = versionFromText(available);
    } catch (const carvo::ComError&) {
        // A version the server wrote wrongly cannot be compared: show it as a failed check,
        // which the user may retry.
        dl1_DLECode(1);
        return;
    }
    const std::int32_t have = installedVersionNumber(installed);
    if (have < offered) {
        lblNewVerTit->show();
        lblNewVer->show();
        cmdAvancar->setEnabled(true);
        intStep_ = 1;
    } else if (have == offered) {
        lblNewVerTit->setCaption("Sua Versão Está Atualizada!");
        lblNewVer->setCaption(
            "O Programa determinou que você possui a versão mais atual do Parvix 2002. Sendo "
            "assim, você não precisa de nenhuma Atualização. Clique os botões 'Finalizar' ou "
            "'Sair' para encerrar o programa.");
        lblNewVerTit->show();
        lblNewVer->show();
        cmdAvancar->setText("&Finalizar");
        cmdAvancar->setEnabled(true);
        intStep_ = 3;
    }
}

void frmMain::dl1_DLECode(std::int32_t lErrorCode) {
    probeFailed_ = true;
    const auto texts = failureTexts(lErrorCode);
    if (!texts) return;
    lblErrorTit->setCaption(texts->title);
    lblErrorTit->show();
    lblError->setCaption(texts->text);
    lblError->show();
    lblWhatToDoTit->show();
    lblWhatToDo->setCaption(texts->advice);
    lblWhatToDo->show();
    cmdAvancar->setEnabled(true);
    intStep_ = 0;
}

void frmMain::dl1_StatusChange(const std::string& lpStatus) { lblStatus->setCaption(lpStatus); }

// ---- dl2: the update download -------------------------------------------------------------

void frmMain::dl2_DLComplete() {
    // Never offer an installer that is not the one the maker published; a refused one is
    // deleted at once, so nothing can start it later.
    const std::string downloaded = carvo::getProperty(*dl2_, carvo::dispid::SaveLocation).toString();
    if (!verifyOrDelete(localPath("Update.ini"), localPath("links.ini"), downloaded,
                        std::filesystem::path(updateTarget_).filename().string())
             .ok) {
        showDownloadFailure(kVerifyFailureTitle, kVerifyFailureText, kVerifyFailureAdvice);
        refused_ = true;
        lblStatus2->setCaption(kRefusedStatus);
        return;
    }
    if (!updateTarget_.empty() && downloaded != updateTarget_) {
        std::error_code ec;
        std::filesystem::rename(downloaded, updateTarget_, ec);
        if (ec) {
            std::filesystem::remove(downloaded, ec);
            const auto texts = failureTexts(1);
            showDownloadFailure(texts->title, texts->text, texts->advice);
            return;
        }
    }
    lblDLFinishTit->show();
    lblDLFinish->show();
    cmdDLCancel->setEnabled(false);
    cmdAvancar->setEnabled(true);
    intStep_ = 2;
}

void frmMain::dl2_DLECode(std::int32_t lErrorCode) {
    if (resuming_ && (lErrorCode == 6 || lErrorCode == 7)) {
        resumeRefused_ = true;  // nothing to show: the download starts over
        return;
    }
    probeFailed_ = true;
    if (attemptCode_ == 0) attemptCode_ = lErrorCode;
    const auto texts = failureTexts(lErrorCode);
    if (!texts) return;
    showDownloadFailure(texts->title, texts->text, texts->advice);
}

void frmMain::showDownloadFailure(const char* title, const char* text, const char* advice) {
    lblErrorTit2->setCaption(title);
    lblErrorTit2->show();
    lblError2->setCaption(text);
    lblError2->show();
    lblWhatToDoTit2->show();
    lblWhatToDo2->setCaption(advice);
    lblWhatToDo2->show();
    cmdAvancar->setEnabled(true);
    cmdDLCancel->setEnabled(false);
    intStep_ = 1;
}

void frmMain::dl2_RecievedBytes(std::int32_t lnumBYTES) {
    attemptPosition_ = lnumBYTES;
    const std::int32_t total = carvo::getProperty(*dl2_, carvo::dispid::FileSize).toLong();
    lblDLReceived->setCaption("Recebido: " + std::to_string(lnumBYTES) + "/" + std::to_string(total));
    // A server may send more than it announced: the bar stays within its range.
    const double value = static_cast<float>(lnumBYTES);
    const double clamped = std::clamp(value, static_cast<double>(pb1->minimum()),
                                      static_cast<double>(pb1->maximum()));
    pb1->setValue(static_cast<int>(clamped));
}

void frmMain::dl2_Percent(std::int32_t lPercent) {
    lblDLPercent->setCaption("Porcentagem Concluída: " + std::to_string(lPercent) + "%");
}

void frmMain::dl2_StatusChange(const std::string& lpStatus) {
    if (resuming_ && lpStatus == "Resume Falhou.") resumeRefused_ = true;
    if (refused_) return;  // the control's "done" must not replace the refusal
    lblStatus2->setCaption(lpStatus);
}

void frmMain::dl2_Rate(const std::string& lpRate) { lblDLRate->setCaption("Velocidade: " + lpRate); }

void frmMain::dl2_TimeLeft(const std::string& lpTime) {
    lblDLTimeLeft->setCaption("Tempo Restante: " + lpTime);
}

void frmMain::cmdDLCancel_Click() {
    const auto answer = host().messageBox(
        "Tem certeza que deseja cancelar o Download em curso?",
        carvo::mb::Question | carvo::mb::YesNo | carvo::mb::DefaultButton1, kTitle);
    if (answer == carvo::MsgBoxResult::Yes) carvo::callMethod(*dl2_, carvo::dispid::Cancel);
}

std::unique_ptr<QTranslator> portugueseQtTexts() {
    auto texts = std::make_unique<QTranslator>();
    if (!texts->load(QStringLiteral("qtbase_pt_BR"),
                     QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        return nullptr;
    QCoreApplication::installTranslator(texts.get());
    return texts;
}

namespace {

constexpr std::array<int, 3> kEndingSignals{SIGTERM, SIGHUP, SIGINT};

// The write end of the pipe that a signal handler tells its signal through: a handler can reach
// nothing but a variable of this kind. Set while an endOnSignals watch lives.
std::atomic<int> signalPipe{-1};

extern "C" void tellEndingSignal(int signal) {
    const int saved = errno;
    const auto number = static_cast<unsigned char>(signal);
    if (const int fd = signalPipe.load(); fd >= 0) (void)!::write(fd, &number, 1);
    errno = saved;
}

// The pipe's read end, watched by the message loop; the handlers go with it.
class EndingSignals : public QSocketNotifier {
  public:
    EndingSignals(int read, int write)
        : QSocketNotifier(read, QSocketNotifier::Read), read_(read), write_(write) {
        signalPipe.store(write_.get());
        for (int n : kEndingSignals) {
            struct sigaction old {};
            ::sigaction(n, nullptr, &old);
            if (old.sa_handler == SIG_IGN) continue;  // as nohup left it
            struct sigaction sa {};
            sa.sa_handler = &tellEndingSignal;
            // Once only: should the loop not come round (a wait that does not yield), a
            // second signal ends the program at once, as before.
            sa.sa_flags = SA_RESTART | SA_RESETHAND;
            ::sigemptyset(&sa.sa_mask);
            ::sigaction(n, &sa, nullptr);
            handled_.push_back(n);
        }
    }
    ~EndingSignals() override {
        for (int n : handled_) ::signal(n, SIG_DFL);
        signalPipe.store(-1);
    }
    EndingSignals(const EndingSignals&) = delete;
    EndingSignals& operator=(const EndingSignals&) = delete;
    int readEnd() const { return read_.get(); }

  private:
    carvo::UniqueFd read_, write_;
    std::vector<int> handled_;
};

}  // namespace

std::unique_ptr<QObject> endOnSignals(std::function<void(int signal)> end) {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) return nullptr;
    auto watch = std::make_unique<EndingSignals>(ends[0], ends[1]);
    QObject::connect(watch.get(), &QSocketNotifier::activated, watch.get(),
                     [fd = watch->readEnd(), end = std::move(end)] {
                         unsigned char number = 0;
                         if (::read(fd, &number, 1) != 1) return;
                         // The partial file of a checked update is useless to anyone else.
                         for (QWidget* w : QApplication::topLevelWidgets())
                             if (auto* form = dynamic_cast<frmMain*>(w))
                                 form->discardHiddenPartial();
                         end(number);
                     });
    return watch;
}

void endBySignal(int signal) {
    std::fflush(nullptr);
    ::signal(signal, SIG_DFL);
    ::raise(signal);
    std::_Exit(128 + signal);
}

}  // namespace veltrup
