#pragma once
// The window of the About page: the credit line and the link to the maker's home page, with
// its pointing hand, its hover colour and the desktop's opener behind a click.

#include <QLabel>
#include <QWidget>
#include <memory>

#include "About.h"

namespace carvo::pages {

class AboutView : public QWidget {
    Q_OBJECT

  public:
    // Gives the page the desktop's opener unless it already has one (a test's, say).
    explicit AboutView(std::shared_ptr<About> page, QWidget* parent = nullptr);

    About& page() { return *page_; }
    // Shows the page's current colour of Label2.
    void refresh();

    QLabel* Label1;
    QLabel* Label2;

  protected:
    void mouseMoveEvent(QMouseEvent* event) override;

  private:
    std::shared_ptr<About> page_;
};

// The pointing hand of Label2, drawn by the library, with its hot spot.
QCursor handCursor();

}  // namespace carvo::pages
