#include "FormControls.h"

#include <QCoreApplication>
#include <QEvent>
#include <QFontMetrics>
#include <QPainter>
#include <algorithm>
#include <climits>
#include <cmath>

namespace veltrup {

int twips(int t) { return static_cast<int>(std::lround(static_cast<double>(t) / kTwipsPerPixel)); }

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

}  // namespace veltrup
