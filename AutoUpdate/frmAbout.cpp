#include "frmAbout.h"

#include <QCursor>
#include <QEvent>
#include <QFontDatabase>
#include <QKeyEvent>
#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>

#include "mdlRegistry.h"

namespace {

constexpr int kTwipsPerPixel = 15;
constexpr int px(int twips) { return twips / kTwipsPerPixel; }

// Client area and every control's Left, Top, Width, Height, in twips.
constexpr int kClientWidth = 6300;
constexpr int kClientHeight = 4500;

struct Place {
    const char* name;
    int left, top, width, height;
};

constexpr Place kLayout[] = {
    {"lblAboutTit", 240, 240, 4560, 480},
    {"imgXP", 5040, 180, 1080, 1080},
    {"lblIdeaDesign", 240, 900, 4680, 210},
    {"lblProgram", 240, 1155, 4680, 210},
    {"lblContributed", 240, 1410, 1530, 210},
    {"lblContributor", 1800, 1410, 3120, 210},
    {"lblHPTit", 240, 1890, 1530, 210},
    {"lblLink", 1800, 1890, 4260, 210},
    {"lblMailTit", 240, 2145, 1530, 210},
    {"lblMail", 1800, 2145, 4260, 210},
    {"imgFundo", 0, 2760, 6300, 1740},
    {"imgBra", 240, 3090, 600, 420},
    {"lblAme", 960, 3180, 2700, 255},
    {"lblCopyRight", 240, 4050, 5820, 210},
};

// Colours of the window.
const QColor kWhite(255, 255, 255);
const QColor kDarkBlue(0, 0, 128);

QString fontFamily() {
    // The window was drawn for Verdana; DejaVu Sans has the same wide, open shapes.
    return QFontDatabase::hasFamily(QStringLiteral("Verdana")) ? QStringLiteral("Verdana")
                                                               : QStringLiteral("DejaVu Sans");
}

QFont windowFont(qreal points = 8.25, bool bold = false) {
    QFont f(fontFamily());
    f.setPointSizeF(points);
    f.setBold(bold);
    return f;
}

QPixmap picture(const QString& resource, int width, int height) {
    QPixmap pm(width, height);
    pm.fill(Qt::transparent);
    QSvgRenderer svg(resource);
    if (!svg.isValid()) return {};
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    svg.render(&p);
    return pm;
}

QCursor pointingHand() {
    QPixmap hand = picture(QStringLiteral(":/about/mao.svg"), 32, 32);
    if (hand.isNull()) return QCursor(Qt::PointingHandCursor);
    return QCursor(hand, 12, 2);  // the fingertip
}

QString fromUtf8(const std::string& s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

}  // namespace

frmAbout::frmAbout(const std::filesystem::path& programFolder, QWidget* parent, Opener opener)
    : QDialog(parent), opener_(opener ? std::move(opener) : Opener(&veltrup::ShellOpen)) {
    setObjectName(QStringLiteral("frmAbout"));
    setWindowTitle(QStringLiteral("Parvix 2002 :: Auto Atualização :: Sobre"));
    setFixedSize(px(kClientWidth), px(kClientHeight));
    setFont(windowFont());
    QPalette pal = palette();
    pal.setColor(QPalette::Window, kWhite);
    setPalette(pal);
    setAutoFillBackground(true);

    auto label = [this](const char* name, const QString& text) {
        auto* l = new QLabel(this);
        l->setObjectName(QString::fromLatin1(name));
        // Captions come partly from a file: never let Qt read them as markup.
        l->setTextFormat(Qt::PlainText);
        l->setText(text);
        return l;
    };

    // The background band first, so that everything placed on it stays in front.
    imgFundo = label("imgFundo", {});
    imgFundo->setPixmap(picture(QStringLiteral(":/about/fundo.svg"), px(6300), px(1740)));

    lblAboutTit = label("lblAboutTit",
                        QStringLiteral("Programa de Atualização Automática do Parvix 2002"));
    lblAboutTit->setFont(windowFont(9.75, true));
    lblAboutTit->setWordWrap(true);
    lblIdeaDesign = label("lblIdeaDesign", QStringLiteral("Idéia e Design: Helena Vasconcelos"));
    lblProgram = label("lblProgram", QStringLiteral("Programação: Otávio Brandão"));
    lblContributed = label("lblContributed", QStringLiteral("Contribuiu:"));
    lblContributor = label("lblContributor", QStringLiteral("Jussara Figueiredo Lemos"));
    lblHPTit = label("lblHPTit", QStringLiteral("Página Oficial:"));
    lblHPTit->setFont(windowFont(8.25, true));
    lblLink = label("lblLink", QStringLiteral("link"));
    lblMailTit = label("lblMailTit", QStringLiteral("E-Mail:"));
    lblMailTit->setFont(windowFont(8.25, true));
    lblMail = label("lblMail", QStringLiteral("link"));
    for (QLabel* l : {lblLink, lblMail}) {
        QPalette p = l->palette();
        p.setColor(QPalette::WindowText, kDarkBlue);
        l->setPalette(p);
    }
    lblLink->setCursor(pointingHand());
    lblLink->installEventFilter(this);

    imgXP = label("imgXP", {});
    imgXP->setPixmap(picture(QStringLiteral(":/about/emblema.svg"), px(1080), px(1080)));
    imgBra = label("imgBra", {});
    imgBra->setPixmap(picture(QStringLiteral(":/about/bra.svg"), px(600), px(420)));

    lblAme = label("lblAme", QStringLiteral("Ame o Brasil!"));
    lblAme->setFont(windowFont(9.75, true));
    lblCopyRight = label(
        "lblCopyRight",
        QStringLiteral("© 2002 Equipe Parvix. Todos os direitos reservados."));
    for (QLabel* l : {lblAme, lblCopyRight}) {
        QPalette p = l->palette();
        p.setColor(QPalette::WindowText, kWhite);
        l->setPalette(p);
    }

    for (const Place& place : kLayout) {
        if (auto* w = findChild<QWidget*>(QString::fromLatin1(place.name)))
            w->setGeometry(px(place.left), px(place.top), px(place.width), px(place.height));
    }

    Form_Load(programFolder);
}

void frmAbout::Form_Load(const std::filesystem::path& programFolder) {
    lblLink->setText(fromUtf8(veltrup::ReadProfileString(
        "MAIN", "OfficialPage", "Não há página...", programFolder / "links.ini")));
    lblMail->setText(fromUtf8(veltrup::ReadProfileString(
        "MAIN", "OfficialMail", "Não há email...", programFolder / "links.ini")));
}

void frmAbout::lblLink_DblClick() {
    const QString caption = lblLink->text();
    // Only a web address goes to the browser, and only in the form the links file uses.
    if (caption.left(4) == QLatin1String("http")) opener_(this, caption.toStdString());
}

bool frmAbout::eventFilter(QObject* watched, QEvent* event) {
    if (watched == lblLink && event->type() == QEvent::MouseButtonDblClick) {
        lblLink_DblClick();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void frmAbout::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}
