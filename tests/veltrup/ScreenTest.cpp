// The download step as a person sees it on a real X server: captures of the screen (what the
// server shows, not a fresh rendering of the widget) during a slow download.

#include <gtest/gtest.h>

#include <QApplication>
#include <QProgressBar>
#include <QScreen>

#include "HttpTestServer.h"
#include "WizardHarness.h"

using namespace veltrup::test;

namespace {

// Pixels of the bar's middle row that show its (coloured) filling, on the screen.
int paintedWidth(QWidget& bar) {
    const QPoint at = bar.mapToGlobal(QPoint(0, bar.height() / 2));
    const QImage row = QGuiApplication::primaryScreen()->grabWindow(0, at.x(), at.y(), bar.width(), 1).toImage();
    int filled = 0;
    for (int x = 0; x < row.width(); ++x) filled += row.pixelColor(x, 0).hsvSaturation() > 80 ? 1 : 0;
    return filled;
}

}  // namespace

TEST(VeltrupOnScreen, TheBarShowsItsValueThroughoutASlowDownload) {
    if (!onPrivateScreen()) {
        EXPECT_EQ(runOnPrivateScreen("VeltrupOnScreen.TheBarShowsItsValueThroughoutASlowDownload"), "");
        return;
    }
    carvo::test::HttpTestServer server;
    carvo::test::Response version, installer;
    version.body = "[MAIN]\r\nVersion=3\r\nFile=" + server.url("/setup.sh") + "\r\nShell=setup.sh\r\n";
    // Large against the bar, so that one piece moves it by much less than a pixel.
    installer.body = std::string(4 * 1024 * 1024, '#');
    installer.bytesPerSecond = 2 * 1024 * 1024;
    server.route("/Update.ini", version);
    server.route("/setup.sh", installer);
    Wizard w;
    w.liveControls = w.host.processQtEvents = true;
    w.host.useRealClock(true);
    w.writeLinks(server.url("/Update.ini"));
    w.open();
    w.press();
    ASSERT_EQ(w.form->intStep(), 1);

    // At about a fifth, two fifths... of the file: the painted width against the value.
    std::vector<std::pair<int, double>> seen;
    w.host.everyYield([&] {
        const double fraction = static_cast<double>(w.form->pb1->value()) / w.form->pb1->maximum();
        if (fraction < 0.2 * static_cast<double>(seen.size() + 1) || fraction > 0.9) return;
        QApplication::processEvents();  // what is due is painted and sent to the server
        seen.emplace_back(paintedWidth(*w.form->pb1), fraction);
    });
    w.press();
    ASSERT_EQ(w.form->intStep(), 2);
    QApplication::processEvents();
    const int full = paintedWidth(*w.form->pb1);
    ASSERT_GT(full, w.form->pb1->width() / 2);
    ASSERT_GE(seen.size(), 3u);
    for (const auto& [painted, fraction] : seen) EXPECT_NEAR(static_cast<double>(painted) / full, fraction, 0.03);
}
