#include "host/QtHost.h"

#include <QCoreApplication>
#include <QInputDialog>
#include <QMessageBox>
#include <chrono>

namespace carvo {

namespace {
QString qs(std::string_view s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }
}  // namespace

void QtHost::yield() { QCoreApplication::processEvents(QEventLoop::AllEvents); }

MsgBoxResult QtHost::messageBox(std::string_view text, int style, std::string_view title) {
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    switch (style & mb::IconMask) {
        case mb::Critical: icon = QMessageBox::Critical; break;
        case mb::Question: icon = QMessageBox::Question; break;
        case mb::Exclamation: icon = QMessageBox::Warning; break;
        case mb::Information: icon = QMessageBox::Information; break;
        default: break;
    }
    const bool yesNo = (style & mb::ButtonMask) == mb::YesNo;
    QMessageBox box(icon, qs(title), qs(text),
                    yesNo ? (QMessageBox::Yes | QMessageBox::No) : QMessageBox::Ok, parent_);
    box.setObjectName("carvoMessageBox");
    box.setDefaultButton(yesNo ? QMessageBox::Yes : QMessageBox::Ok);
    int r = box.exec();
    if (!yesNo) return MsgBoxResult::Ok;
    return r == QMessageBox::Yes ? MsgBoxResult::Yes : MsgBoxResult::No;
}

std::string QtHost::inputBox(std::string_view prompt, std::string_view title,
                             std::string_view defaultText) {
    QInputDialog dlg(parent_);
    dlg.setObjectName("carvoInputBox");
    dlg.setWindowTitle(qs(title));
    dlg.setLabelText(qs(prompt));
    dlg.setTextValue(qs(defaultText));
    if (dlg.exec() != QDialog::Accepted) return {};
    return dlg.textValue().toStdString();
}

double QtHost::monotonicSeconds() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace carvo
