#pragma once
// The updater's About window: the program's title, credits, a slogan with pictures, and the
// official web page and e-mail address read from links.ini in the program folder. Double-
// clicking the page opens it in the browser when it is a web address.

#include <QDialog>
#include <QLabel>
#include <filesystem>
#include <functional>
#include <string>

class frmAbout : public QDialog {
    Q_OBJECT

public:
    // Opens a target for the user; ShellOpen unless a test puts in its own.
    using Opener = std::function<void(QWidget* owner, const std::string& target)>;

    explicit frmAbout(const std::filesystem::path& programFolder, QWidget* parent = nullptr,
                      Opener opener = {});

    QLabel* imgFundo;
    QLabel* lblAboutTit;
    QLabel* lblIdeaDesign;
    QLabel* lblProgram;
    QLabel* lblContributed;
    QLabel* lblContributor;
    QLabel* lblHPTit;
    QLabel* lblLink;
    QLabel* lblMailTit;
    QLabel* lblMail;
    QLabel* imgXP;
    QLabel* imgBra;
    QLabel* lblAme;
    QLabel* lblCopyRight;

public slots:
    void lblLink_DblClick();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    // The window closes only through its frame: Escape does nothing here.
    void keyPressEvent(QKeyEvent* event) override;

private:
    void Form_Load(const std::filesystem::path& programFolder);

    Opener opener_;
};
