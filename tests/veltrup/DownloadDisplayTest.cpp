// What the window makes of dl2's events: the progress figures and the bar, the completion
// and failure displays, and the cancel button with its confirmation.

#include <gtest/gtest.h>

#include <QProgressBar>
#include <QPushButton>

#include "TypeLib.h"
#include "WizardHarness.h"

using namespace veltrup;
using namespace veltrup::test;
namespace ev = carvo::eventid;

namespace {

QString q(const char* s) { return QString::fromUtf8(s); }

// A window showing panel 2 with dl2 in the middle of a transfer of fileSize bytes: the
// events a test raises arrive while DownLoad runs.
class VeltrupDownloadDisplay : public ::testing::Test {
protected:
    void start(std::int32_t fileSize, std::function<void(FakeControl&)> during) {
        w.open();
        w.walkTo(1);
        w.dl2->FileSize = fileSize;
        w.dl2->onDownLoad = [this, during] { during(*w.dl2); };
        w.calls.clear();
        w.press();
    }
    frmMain& f() { return *w.form; }
    Wizard w;
};

}  // namespace

TEST_F(VeltrupDownloadDisplay, ProgressFiguresCarryTheirPrefixesAndTheBarFollows) {
    std::vector<std::pair<QString, int>> seen;
    start(10240, [&](FakeControl& dl) {
        dl.fire(ev::RecievedBytes, 0);
        seen.emplace_back(f().lblDLReceived->text(), f().pb1->value());
        dl.fire(ev::Rate, carvo::Variant("12,5 KB/s"));
        dl.fire(ev::TimeLeft, carvo::Variant("2 min 5 seg"));
        dl.fire(ev::RecievedBytes, 2048);
        seen.emplace_back(f().lblDLReceived->text(), f().pb1->value());
        dl.fire(ev::Percent, 20);
        dl.fire(ev::StatusChange, carvo::Variant("Puxando Arquivos..."));
        dl.FileSize = 20480;  // read at the moment of each event
        dl.fire(ev::RecievedBytes, 4096);
        seen.emplace_back(f().lblDLReceived->text(), f().pb1->value());
    });
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[0], std::make_pair(QString("Recebido: 0/10240"), 0));
    EXPECT_EQ(seen[1], std::make_pair(QString("Recebido: 2048/10240"), 2048));
    EXPECT_EQ(seen[2], std::make_pair(QString("Recebido: 4096/20480"), 4096));
    EXPECT_EQ(f().pb1->maximum(), 10240);
    EXPECT_EQ(f().lblDLRate->text(), "Velocidade: 12,5 KB/s");
    EXPECT_EQ(f().lblDLTimeLeft->text(), "Tempo Restante: 2 min 5 seg");
    EXPECT_EQ(f().lblDLPercent->text(), q("Porcentagem Concluída: 20%"));
    EXPECT_EQ(f().lblStatus2->text(), "Puxando Arquivos...");
    // Right-aligned figures grow to the left from the edge at 5235 twips.
    EXPECT_EQ(f().lblDLTimeLeft->geometry().right() + 1, 349);
    EXPECT_EQ(f().lblDLPercent->geometry().right() + 1, 349);
    EXPECT_EQ(f().lblDLReceived->geometry().left(), 8);
    // Nothing ended the attempt: the buttons stay as the download left them.
    EXPECT_TRUE(f().cmdDLCancel->isEnabled());
    EXPECT_FALSE(f().cmdAvancar->isEnabled());
    saveScreen(f(), "2-downloading");
}

TEST_F(VeltrupDownloadDisplay, EdgeTextsOfTheFigures) {
    start(4096, [&](FakeControl& dl) {
        dl.fire(ev::Percent, 100);
        dl.fire(ev::Rate, carvo::Variant(""));
        dl.fire(ev::TimeLeft, carvo::Variant(""));
        dl.fire(ev::StatusChange, carvo::Variant(""));
    });
    EXPECT_EQ(f().lblDLPercent->text(), q("Porcentagem Concluída: 100%"));
    EXPECT_EQ(f().lblDLRate->text(), "Velocidade: ");
    EXPECT_EQ(f().lblDLTimeLeft->text(), "Tempo Restante: ");
    EXPECT_EQ(f().lblStatus2->text(), "");
}

TEST_F(VeltrupDownloadDisplay, TheFiguresOfALargeSlowFileDoNotCoverEachOther) {
    start(2000000000, [&](FakeControl& dl) {
        dl.fire(ev::RecievedBytes, 1999999999);
        dl.fire(ev::TimeLeft, carvo::Variant("59 min 59 seg"));
    });
    const QRect received = f().lblDLReceived->geometry(), timeLeft = f().lblDLTimeLeft->geometry();
    EXPECT_LT(received.right(), timeLeft.left());
    EXPECT_EQ(received.left(), 8);
    EXPECT_EQ(timeLeft.right() + 1, 349);
}

TEST_F(VeltrupDownloadDisplay, TheBarStaysWithinItsRange) {
    std::vector<int> values;
    start(1000, [&](FakeControl& dl) {
        for (std::int32_t n : {500, 1000, 1500, -20, 2147483647}) {
            dl.fire(ev::RecievedBytes, n);
            values.push_back(f().pb1->value());
        }
    });
    EXPECT_EQ(values, (std::vector<int>{500, 1000, 1000, 0, 1000}));
    EXPECT_EQ(f().lblDLReceived->text(), "Recebido: 2147483647/1000");

    // A size beyond what a bar counts keeps the bar in range too.
    Wizard big;
    big.open();
    big.walkTo(1);
    big.dl2->FileSize = 2147483647;
    int last = -1;
    big.dl2->onDownLoad = [&] {
        big.dl2->fire(ev::RecievedBytes, 2147483647);
        last = big.form->pb1->value();
    };
    big.press();
    EXPECT_EQ(big.form->pb1->maximum(), 2147483647);
    EXPECT_EQ(last, 2147483647);
}

TEST_F(VeltrupDownloadDisplay, CompletionShowsTheFinishLabelsAndOpensStepTwo) {
    start(100, [](FakeControl& dl) {
        dl.fire(ev::RecievedBytes, 100);
        dl.fire(ev::DLComplete);
        dl.fire(ev::StatusChange, carvo::Variant("Download Concluído!"));
    });
    EXPECT_TRUE(f().lblDLFinishTit->isVisible());
    EXPECT_TRUE(f().lblDLFinish->isVisible());
    EXPECT_EQ(f().lblDLFinishTit->text(), q("Download Concluído!"));
    EXPECT_FALSE(f().cmdDLCancel->isEnabled());
    EXPECT_TRUE(f().cmdAvancar->isEnabled());
    EXPECT_EQ(f().intStep(), 2);
    EXPECT_FALSE(f().lblErrorTit2->isVisible());
}

TEST_F(VeltrupDownloadDisplay, EachFailureCodeShowsItsLabelsOnPanelTwoAndAllowsARestart) {
    for (const FailureRow& row : kFailureRows) {
        SCOPED_TRACE(row.code);
        Wizard one;
        one.open();
        one.walkTo(1);
        one.dl2->onDownLoad = [&] { one.dl2->fire(ev::DLECode, row.code); };
        one.press();
        frmMain& form = *one.form;
        EXPECT_EQ(form.lblErrorTit2->text(), q(row.title));
        EXPECT_EQ(form.lblError2->text(), q(row.text));
        EXPECT_EQ(form.lblWhatToDoTit2->text(), q("O Que Fazer:"));
        EXPECT_EQ(form.lblWhatToDo2->text(), q(row.advice));
        EXPECT_TRUE(form.lblErrorTit2->isVisible());
        EXPECT_TRUE(form.lblError2->isVisible());
        EXPECT_TRUE(form.lblWhatToDoTit2->isVisible());
        EXPECT_TRUE(form.lblWhatToDo2->isVisible());
        EXPECT_TRUE(form.cmdAvancar->isEnabled());
        EXPECT_FALSE(form.cmdDLCancel->isEnabled());
        EXPECT_EQ(form.intStep(), 1);
    }
}

TEST_F(VeltrupDownloadDisplay, CodesSixAndSevenChangeNothing) {
    start(100, [](FakeControl& dl) {
        dl.fire(ev::DLECode, 6);
        dl.fire(ev::DLECode, 7);
    });
    EXPECT_FALSE(f().lblErrorTit2->isVisible());
    EXPECT_FALSE(f().lblError2->isVisible());
    EXPECT_FALSE(f().cmdAvancar->isEnabled());
    EXPECT_TRUE(f().cmdDLCancel->isEnabled());
    EXPECT_EQ(f().intStep(), 1);
}

TEST_F(VeltrupDownloadDisplay, ALaterEventReplacesOrAddsToAnEarlierOne) {
    start(100, [](FakeControl& dl) {
        dl.fire(ev::DLECode, 2);
        dl.fire(ev::DLECode, 4);
    });
    EXPECT_EQ(f().lblErrorTit2->text(), "Download Cancelado!");
    EXPECT_EQ(f().lblError2->text(), q("Você optou por cancelar o Download."));

    Wizard both;
    both.open();
    both.walkTo(1);
    both.dl2->onDownLoad = [&] {
        both.dl2->fire(ev::DLECode, 1);
        both.dl2->fire(ev::DLComplete);
    };
    both.press();
    EXPECT_TRUE(both.form->lblErrorTit2->isVisible());
    EXPECT_TRUE(both.form->lblDLFinishTit->isVisible());
    EXPECT_EQ(both.form->intStep(), 2);
}

TEST_F(VeltrupDownloadDisplay, ACompletedRetryShowsNoFailureOfTheCancelledAttempt) {
    start(100, [](FakeControl& dl) { dl.fire(ev::DLECode, 4); });
    ASSERT_TRUE(f().lblErrorTit2->isVisible());
    w.dl2->onDownLoad = [this] {
        w.dl2->fire(ev::RecievedBytes, 100);
        w.dl2->fire(ev::DLComplete);
    };
    w.press();
    EXPECT_TRUE(f().lblDLFinishTit->isVisible());
    EXPECT_FALSE(f().lblErrorTit2->isVisible());
    EXPECT_FALSE(f().lblError2->isVisible());
    EXPECT_FALSE(f().lblWhatToDoTit2->isVisible());
    EXPECT_FALSE(f().lblWhatToDo2->isVisible());
    EXPECT_EQ(f().intStep(), 2);
}

TEST_F(VeltrupDownloadDisplay, CancelAsksFirstNoLeavesTheTransferYesCancelsIt) {
    start(100, [this](FakeControl& dl) {
        w.host.answerBox(carvo::MsgBoxResult::No);
        f().cmdDLCancel->click();
        w.host.answerBox(carvo::MsgBoxResult::Yes);
        // The control reports at once and stops at its next pass.
        dl.onCancel = [&dl] { dl.fire(ev::StatusChange, carvo::Variant("Cancelando..")); };
        f().cmdDLCancel->click();
        dl.fire(ev::DLECode, 4);
    });
    const auto shown = boxes(w.host);
    ASSERT_EQ(shown.size(), 2u);
    for (const auto& box : shown) {
        EXPECT_EQ(box.text, "Tem certeza que deseja cancelar o Download em curso?");
        EXPECT_EQ(box.style, carvo::mb::Question | carvo::mb::YesNo | carvo::mb::DefaultButton1);
        EXPECT_EQ(box.title, kTitle);
    }
    const CallLog cancels = [&] {
        CallLog out;
        for (const auto& c : w.calls)
            if (c.find("Cancel") != std::string::npos) out.push_back(c);
        return out;
    }();
    EXPECT_EQ(cancels, CallLog{"dl2 Cancel"});  // only the Yes reached the control
    EXPECT_EQ(f().lblStatus2->text(), "Cancelando..");
    EXPECT_EQ(f().lblErrorTit2->text(), "Download Cancelado!");
    EXPECT_FALSE(f().cmdDLCancel->isEnabled());
    EXPECT_EQ(f().intStep(), 1);
}

TEST_F(VeltrupDownloadDisplay, ARetryOfASmallerFileShowsTheBarAndTheFiguresInStep) {
    start(10000, [](FakeControl& dl) {
        dl.fire(ev::RecievedBytes, 5000);
        dl.fire(ev::DLECode, 1);
    });
    w.dl2->FileSize = 4000;
    std::pair<QString, int> shown;
    w.dl2->onDownLoad = [&] { shown = {f().lblDLReceived->text(), f().pb1->value()}; };
    w.press();
    EXPECT_EQ(shown, std::make_pair(QString("Recebido: 0/4000"), 0));
}
