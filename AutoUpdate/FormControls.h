#pragma once
// The stand-ins for the form designer's controls that Veltrup's window is drawn with: a label,
// the progress bar, a line and an outline rectangle, and the designer's unit, the twip.

#include <QLabel>
#include <QProgressBar>
#include <QString>
#include <QWidget>
#include <string_view>

namespace veltrup {

// The form is designed at 15 twips a pixel (96 dots per inch).
inline constexpr int kTwipsPerPixel = 15;
int twips(int t);

// A text of ours (UTF-8) as Qt takes it.
inline QString qs(std::string_view s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

// A label as the form designer has it: plain text, transparent, top-aligned, word-wrapped
// unless it sizes itself to its text; a self-sizing label keeps its left edge, or its right
// edge when it is right-aligned. A fixed label keeps its designed place and size unless its
// caption would be cut there (the fallback face is a little wider than the designed one): it
// then grows right (a one-line label) or down until the caption shows whole.
class FormLabel : public QLabel {
  public:
    FormLabel(QWidget* parent, const char* name);
    void setDesignGeometry(const QRect& geometry);
    QRect designGeometry() const { return design_; }
    void setAutoSize(bool on);
    bool autoSize() const { return autoSize_; }
    // Sets the caption and, for a self-sizing label, refits it.
    void setCaption(const QString& text);
    void setCaption(std::string_view text);
    void setCaption(const char* text) { setCaption(std::string_view(text)); }
    void fit();

    // A live label takes a new caption many times between two repaints (a download reports
    // every piece): it only keeps the text, and shows and measures it once, when the event
    // loop next runs. Read it through text() below, which always has the latest caption.
    void setLive(bool on) { live_ = on; }
    // Shows (and fits) a caption still waiting for the event loop, at once.
    void showNow();
    // The latest caption (QLabel::text() of a live label may still show the one before).
    const QString& text() const { return caption_; }
    // Two self-sizing labels of one row, one growing right from its left edge and the other
    // left from its right edge: when their captions would meet (large files, long times), both
    // take the same smaller size of their face, so that neither covers the other.
    static void shareRow(FormLabel& left, FormLabel& right);

  protected:
    bool event(QEvent* e) override;

  private:
    void keepApartFromPartner();

    bool autoSize_ = false;
    bool live_ = false;
    bool pending_ = false;
    QString caption_;
    QRect design_;
    FormLabel* partner_ = nullptr;  // the other label of a shared row
    QFont rowFont_;                 // the designed face of a shared row
};

// The progress bar pb1. Its value arrives with every piece of a download; it is kept and
// shown once per repaint, and each showing repaints the whole bar. (The stock bar skips the
// repaint of a small step and takes any paint, even one of a single row under a neighbour's
// repaint, as showing its value, so the bar could stay empty on the screen to the end.)
class FormProgressBar : public QProgressBar {
  public:
    FormProgressBar(QWidget* parent, const char* name);
    // The value to show; one within the range (the caller keeps it there).
    void setValue(int value);
    // The value last set, shown or about to be.
    int value() const { return value_; }
    // A new range keeps the value within it.
    void setMaximum(int maximum);
    // Shows a value still waiting for the event loop, at once.
    void showNow();

  protected:
    bool event(QEvent* e) override;

  private:
    int value_ = -1;  // as the stock bar starts: nothing shown
    bool pending_ = false;
};

// A straight line control (horizontal rules here).
class FormLine : public QWidget {
  public:
    FormLine(QWidget* parent, const char* name);

  protected:
    void paintEvent(QPaintEvent*) override;
};

// An outline rectangle control.
class FormShape : public QWidget {
  public:
    FormShape(QWidget* parent, const char* name);

  protected:
    void paintEvent(QPaintEvent*) override;
};

}  // namespace veltrup
