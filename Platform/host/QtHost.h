#pragma once
// Host services of a Qt program: yielding processes pending events; dialogs are Qt's.

#include <QPointer>
#include <QWidget>

#include "host/HostServices.h"

namespace carvo {

class QtHost : public HostServices {
public:
    explicit QtHost(QWidget* parent = nullptr) : parent_(parent) {}
    void setParentWindow(QWidget* parent) { parent_ = parent; }

    void yield() override;
    MsgBoxResult messageBox(std::string_view text, int style, std::string_view title) override;
    std::string inputBox(std::string_view prompt, std::string_view title,
                         std::string_view defaultText) override;
    double monotonicSeconds() override;

private:
    QPointer<QWidget> parent_;
};

}  // namespace carvo
