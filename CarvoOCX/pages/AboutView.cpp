#include "pages/AboutView.h"

#include <QCursor>
#include <QDesktopServices>
#include <QImage>
#include <QMouseEvent>
#include <QPixmap>
#include <QUrl>

#include "pages/PageWidgets.h"
#include "resources/Pictures.h"

namespace carvo::pages {

namespace {

QColor fromBgr(std::uint32_t bgr) {
    return QColor(static_cast<int>(bgr & 0xFF), static_cast<int>((bgr >> 8) & 0xFF),
                  static_cast<int>((bgr >> 16) & 0xFF));
}

// Label2 tells the page about the pointer over it and about clicks (a press and a release
// both on the label). Its events stop here: the page's surface hears only its own.
class LinkLabel final : public QLabel {
  public:
    LinkLabel(const QString& text, QWidget* parent, std::function<void()> onMove,
              std::function<void()> onClick)
        : QLabel(text, parent), onMove_(std::move(onMove)), onClick_(std::move(onClick)) {
        setMouseTracking(true);
        setAttribute(Qt::WA_NoMousePropagation);
    }

  protected:
    void mouseMoveEvent(QMouseEvent* e) override {
        onMove_();
        e->accept();
    }
    void mousePressEvent(QMouseEvent* e) override {
        pressed_ = e->button() == Qt::LeftButton;
        e->accept();
    }
    void mouseReleaseEvent(QMouseEvent* e) override {
        const bool click =
            pressed_ && e->button() == Qt::LeftButton && rect().contains(e->position().toPoint());
        pressed_ = false;
        e->accept();
        if (click) onClick_();
    }

  private:
    std::function<void()> onMove_;
    std::function<void()> onClick_;
    bool pressed_ = false;
};

}  // namespace

QCursor handCursor() {
    const Image img = handCursorImage();
    QImage q(img.width, img.height, QImage::Format_ARGB32);
    for (int y = 0; y < img.height; ++y)
        for (int x = 0; x < img.width; ++x) q.setPixel(x, y, img.pixel(x, y));
    return QCursor(QPixmap::fromImage(q), kHandCursorHotSpot.x, kHandCursorHotSpot.y);
}

AboutView::AboutView(std::shared_ptr<About> page, QWidget* parent)
    : QWidget(parent), page_(std::move(page)) {
    setObjectName("About");
    setFixedSize(px(kAboutPageWidth), px(kAboutPageHeight));
    setMouseTracking(true);
    if (!page_->hasOpener()) {
        // The address goes to the desktop as a URL, never through a command line.
        page_->setOpener([](const std::string& url) {
            QDesktopServices::openUrl(QUrl(QString::fromStdString(url)));
        });
    }

    Label1 = new QLabel(QString::fromStdString(About::Label1Caption()), this);
    Label1->setObjectName("Label1");
    Label1->setGeometry(twipsRect(360, 120, 4590, 270));
    Label1->setFont(verdana(12, true));
    // Label1 reacts to nothing: a move over it must not reach the page's surface either.
    Label1->setAttribute(Qt::WA_NoMousePropagation);

    Label2 = new LinkLabel(
        QString::fromStdString(About::Label2Caption()), this,
        [this] {
            page_->Label2_MouseMove();
            refresh();
        },
        [this] { page_->Label2_Click(); });
    Label2->setObjectName("Label2");
    Label2->setGeometry(twipsRect(120, 600, 5025, 195));
    Label2->setFont(verdana(8.25, true));
    Label2->setCursor(handCursor());

    for (QLabel* l : {Label1, Label2}) {
        l->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        QPalette pal = l->palette();
        pal.setColor(QPalette::WindowText, Qt::black);
        l->setPalette(pal);
    }
    refresh();
}

void AboutView::refresh() {
    QPalette pal = Label2->palette();
    pal.setColor(QPalette::WindowText, fromBgr(page_->Label2ForeColor()));
    Label2->setPalette(pal);
}

void AboutView::mouseMoveEvent(QMouseEvent* event) {
    page_->PropertyPage_MouseMove();
    refresh();
    event->accept();
}

}  // namespace carvo::pages
