#pragma once
// Qt pieces shared by the pages' views: twips to pixels, the fonts, a check box whose caption
// wraps, and the adapters that make Qt widgets the pages' fields.

#include <QCheckBox>
#include <QComboBox>
#include <QFont>
#include <QLabel>
#include <QLineEdit>
#include <QMetaObject>
#include <QRect>
#include <QStringList>

#include "pages/PropertyPage.h"

namespace carvo::pages {

// Layouts are given in twips; the screen has 15 twips a pixel.
inline constexpr int kTwipsPerPixel = 15;
inline int px(int twips) { return twips / kTwipsPerPixel; }
inline QRect twipsRect(int left, int top, int width, int height) {
    return {px(left), px(top), px(width), px(height)};
}

// The faces we ask for, with the metric-compatible or nearest free face where they are absent.
QFont verdana(double points, bool bold);
QFont pageFont();  // the property pages' own text face
// Shrinks the label's font (never below 6 points) until its text fits its width on one line.
void shrinkToFit(QLabel* label);

// A check box whose caption wraps within the box's width, beside an indicator centred
// vertically; the whole box answers to clicks.
class WrappingCheckBox : public QCheckBox {
  public:
    using QCheckBox::QCheckBox;
    // Shrinks the font (never below 6 points) until the wrapped caption fits the box's height.
    void shrinkToFit();

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QRect indicatorRect();
    QRect textRect();
    bool hitButton(const QPoint& pos) const override { return rect().contains(pos); }
};

// ---- fields ---------------------------------------------------------------------------------

class LineEditField final : public TextField {
  public:
    explicit LineEditField(QLineEdit* edit);
    ~LineEditField() override { QObject::disconnect(connection_); }
    LineEditField(const LineEditField&) = delete;
    LineEditField& operator=(const LineEditField&) = delete;
    std::string text() const override;
    void setText(const std::string& text) override;

  private:
    QLineEdit* edit_;
    QMetaObject::Connection connection_;
};

class ComboBoxField final : public ComboField {
  public:
    explicit ComboBoxField(QComboBox* combo);
    ~ComboBoxField() override { QObject::disconnect(connection_); }
    ComboBoxField(const ComboBoxField&) = delete;
    ComboBoxField& operator=(const ComboBoxField&) = delete;
    std::string text() const override;
    void setText(const std::string& text) override;
    void addItem(const std::string& item) override;
    std::vector<std::string> items() const override;

  private:
    QComboBox* combo_;
    QMetaObject::Connection connection_;
};

class CheckBoxField final : public CheckField {
  public:
    explicit CheckBoxField(QCheckBox* box);
    ~CheckBoxField() override { QObject::disconnect(connection_); }
    CheckBoxField(const CheckBoxField&) = delete;
    CheckBoxField& operator=(const CheckBoxField&) = delete;
    int value() const override;
    void setValue(int value) override;

  private:
    QCheckBox* box_;
    QMetaObject::Connection connection_;
};

}  // namespace carvo::pages
