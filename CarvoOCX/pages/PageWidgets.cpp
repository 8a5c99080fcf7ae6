#include "pages/PageWidgets.h"

#include <QFontMetrics>
#include <QStyleOptionButton>
#include <QStylePainter>

namespace carvo::pages {

QFont verdana(double points, bool bold) {
    QFont f;
    f.setFamilies({"Verdana", "DejaVu Sans"});
    f.setPointSizeF(points);
    f.setBold(bold);
    return f;
}

QFont pageFont() {
    QFont f;
    f.setFamilies({"DejaVu Sans"});
    f.setPointSizeF(8);
    return f;
}

void shrinkToFit(QLabel* label) {
    QFont f = label->font();
    while (f.pointSizeF() > 6 &&
           QFontMetrics(f).horizontalAdvance(label->text()) > label->width()) {
        f.setPointSizeF(f.pointSizeF() - 0.25);
    }
    label->setFont(f);
}

QRect WrappingCheckBox::indicatorRect() {
    QStyleOptionButton opt;
    initStyleOption(&opt);
    QRect indicator = style()->subElementRect(QStyle::SE_CheckBoxIndicator, &opt, this);
    indicator.moveTop((height() - indicator.height()) / 2);
    return indicator;
}

QRect WrappingCheckBox::textRect() { return rect().adjusted(indicatorRect().right() + 5, 0, 0, 0); }

constexpr int kWrap = Qt::AlignLeft | Qt::AlignVCenter | Qt::TextWordWrap;

void WrappingCheckBox::shrinkToFit() {
    QFont f = font();
    const QRect box = textRect();
    auto wrappedHeight = [&] {
        // Two pixels to spare, so that rounding while painting never wraps one more word.
        return QFontMetrics(f)
            .boundingRect(QRect(0, 0, box.width() - 2, 10000), kWrap, text())
            .height();
    };
    while (f.pointSizeF() > 6 && wrappedHeight() > box.height())
        f.setPointSizeF(f.pointSizeF() - 0.25);
    setFont(f);
}

void WrappingCheckBox::paintEvent(QPaintEvent*) {
    QStylePainter p(this);
    QStyleOptionButton box;
    initStyleOption(&box);
    box.rect = indicatorRect();
    p.drawPrimitive(QStyle::PE_IndicatorCheckBox, box);

    const QRect textRect = this->textRect();
    p.setPen(
        palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::WindowText));
    p.drawText(textRect, kWrap, text());
    if (hasFocus()) {
        QStyleOptionFocusRect focus;
        focus.initFrom(this);
        focus.rect = p.boundingRect(textRect, kWrap, text()).adjusted(-1, 0, 1, 0);
        p.drawPrimitive(QStyle::PE_FrameFocusRect, focus);
    }
}

// ---- fields ---------------------------------------------------------------------------------

namespace {
std::string utf8(const QString& s) { return s.toStdString(); }
QString qs(const std::string& s) { return QString::fromStdString(s); }
}  // namespace

LineEditField::LineEditField(QLineEdit* edit) : edit_(edit) {
    // textChanged comes for the user's edits and for setText alike, and only on a real change.
    connection_ = QObject::connect(edit_, &QLineEdit::textChanged, [this] { changed(); });
}
std::string LineEditField::text() const { return utf8(edit_->text()); }
void LineEditField::setText(const std::string& text) { edit_->setText(qs(text)); }

ComboBoxField::ComboBoxField(QComboBox* combo) : combo_(combo) {
    connection_ = QObject::connect(combo_, &QComboBox::editTextChanged, [this] { changed(); });
}
std::string ComboBoxField::text() const { return utf8(combo_->currentText()); }
void ComboBoxField::setText(const std::string& text) { combo_->setEditText(qs(text)); }

// A combo box picks its first item as it gets one; the text part must not move, so the pick
// is undone (silently: to the page the text never changed).
void ComboBoxField::addItem(const std::string& item) {
    const QSignalBlocker quiet(combo_);
    const QString text = combo_->currentText();
    combo_->addItem(qs(item));
    combo_->setCurrentIndex(-1);
    combo_->setEditText(text);
}

std::vector<std::string> ComboBoxField::items() const {
    std::vector<std::string> out;
    for (int i = 0; i < combo_->count(); ++i) out.push_back(utf8(combo_->itemText(i)));
    return out;
}

CheckBoxField::CheckBoxField(QCheckBox* box) : box_(box) {
    // The state change stands for the click: it comes for a click and for a set alike.
    connection_ = QObject::connect(box_, &QCheckBox::stateChanged, [this] { changed(); });
}

int CheckBoxField::value() const {
    switch (box_->checkState()) {
        case Qt::Checked:
            return Checked;
        case Qt::PartiallyChecked:
            return Greyed;
        default:
            return Unchecked;
    }
}

void CheckBoxField::setValue(int value) {
    box_->setCheckState(value == Checked  ? Qt::Checked
                        : value == Greyed ? Qt::PartiallyChecked
                                          : Qt::Unchecked);
}

}  // namespace carvo::pages
