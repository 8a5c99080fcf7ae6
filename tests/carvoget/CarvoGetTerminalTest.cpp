// carvo-get on a terminal (a pseudo-terminal the test holds): keys during a real transfer,
// the questions of --prompt-overwrite, and the terminal given back as it was.

#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "HttpTestServer.h"
#include "NginxServer.h"

namespace carvo::test {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// carvo-get with a pseudo-terminal as its standard input, output and error, as in a shell.
class OnTerminal {
  public:
    OnTerminal(std::vector<std::string> args, const fs::path& workDir) {
        args.insert(args.begin(), CARVO_GET_PATH);
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        const std::string dir = workDir.string();
        winsize ws{};
        ws.ws_col = 200;
        ws.ws_row = 30;
        if (::openpty(&master_, &slave_, nullptr, nullptr, &ws) != 0)
            throw std::runtime_error("openpty");
        pid_ = ::fork();
        if (pid_ < 0) throw std::runtime_error("fork");
        if (pid_ == 0) {
            ::setsid();
            ::ioctl(slave_, TIOCSCTTY, 0);
            ::dup2(slave_, 0);
            ::dup2(slave_, 1);
            ::dup2(slave_, 2);
            ::close(master_);
            ::close(slave_);
            if (::chdir(dir.c_str()) != 0) ::_exit(127);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
    }
    ~OnTerminal() {
        if (pid_ > 0 && !exited_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        ::close(master_);
        ::close(slave_);
    }

    // Reads what carvo-get shows until `text` appears; false after the deadline or once it
    // has ended without showing it.
    bool waitFor(const std::string& text, std::chrono::seconds limit = std::chrono::seconds(30)) {
        const auto deadline = Clock::now() + limit;
        while (screen_.find(text, seen_) == std::string::npos) {
            if (Clock::now() >= deadline || !pump(deadline)) {
                if (screen_.find(text, seen_) == std::string::npos) return false;
                break;
            }
        }
        seen_ = screen_.find(text, seen_) + text.size();
        return true;
    }
    void type(const std::string& keys) {
        ASSERT_EQ(::write(master_, keys.data(), keys.size()), static_cast<ssize_t>(keys.size()));
    }
    // Reads until carvo-get has ended and returns its exit status (128 + signal when a signal
    // ended it).
    int finish() {
        const auto deadline = Clock::now() + std::chrono::seconds(30);
        while (pump(deadline)) {
        }
        if (!exited_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, &status_, 0);
            exited_ = true;
        }
        return WIFEXITED(status_) ? WEXITSTATUS(status_) : 128 + WTERMSIG(status_);
    }
    const std::string& screen() const { return screen_; }
    termios modes() const {
        termios t{};
        ::tcgetattr(slave_, &t);
        return t;
    }

  private:
    // Reads for a short while; false once carvo-get has ended (and all it wrote is read) or
    // the deadline has passed. The test holds the terminal open, so its end is the child's
    // exit, not an end of file.
    bool pump(Clock::time_point deadline) {
        if (exited_ || Clock::now() >= deadline) {
            while (readSome(std::chrono::milliseconds(0))) {
            }
            return false;
        }
        readSome(std::chrono::milliseconds(20));
        if (::waitpid(pid_, &status_, WNOHANG) == pid_) exited_ = true;
        return true;
    }
    bool readSome(std::chrono::milliseconds wait) {
        pollfd p{master_, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(wait.count())) <= 0) return false;
        char buf[4096];
        ssize_t n = ::read(master_, buf, sizeof buf);
        if (n <= 0) return false;
        screen_.append(buf, static_cast<std::size_t>(n));
        return true;
    }

    int master_ = -1, slave_ = -1;
    pid_t pid_ = -1;
    int status_ = 0;
    bool exited_ = false;
    std::string screen_;
    std::size_t seen_ = 0;
};

std::string pattern(std::size_t n) {
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 131 + i / 977) & 0xFF);
    return s;
}

bool linesAndEcho(const termios& t) { return (t.c_lflag & ICANON) && (t.c_lflag & ECHO); }

class CarvoGetOnTerminal : public ::testing::Test {
  protected:
    ScratchFolder dir_{"carvo-get-tty"};
    HttpTestServer server_;
};

TEST_F(CarvoGetOnTerminal, PauseThenCtrlCCancelsAndTheTerminalIsGivenBack) {
    Response slow;
    slow.body = pattern(4 * 1024 * 1024);
    slow.bytesPerSecond = 256 * 1024;  // a real transfer still running when the keys come
    server_.route("/slow.bin", slow);
    OnTerminal t({"--chunk", "4096", server_.url("/slow.bin"), "slow.bin"}, dir_.path());

    ASSERT_TRUE(t.waitFor("Puxando Arquivos...")) << t.screen();
    EXPECT_NE(t.screen().find("\r["), std::string::npos) << "no progress line: " << t.screen();
    t.type("p");
    ASSERT_TRUE(t.waitFor("Em Pausa.")) << t.screen();
    EXPECT_FALSE(linesAndEcho(t.modes())) << "keys are read one by one while it runs";
    // Ctrl-C while paused: the pause is lifted so that the cancel is honoured.
    t.type("\x03");
    ASSERT_TRUE(t.waitFor("Cancelado.")) << t.screen();
    EXPECT_EQ(t.finish(), 1);
    EXPECT_NE(t.screen().find("DLECode 4: Cancelado."), std::string::npos) << t.screen();
    EXPECT_NE(t.screen().find("carvo-get --resume"), std::string::npos) << t.screen();
    EXPECT_TRUE(linesAndEcho(t.modes())) << "terminal left without lines or echo";
    EXPECT_TRUE(fs::exists(dir_ / "slow.bin"));
    EXPECT_LT(fs::file_size(dir_ / "slow.bin"), slow.body.size());
}

TEST_F(CarvoGetOnTerminal, ACancelThatTheResumesOwnProbeUsedUpStillEndsTheResume) {
    const std::string body = pattern(5000);
    server_.route("/r.bin", [&](const Request& q) {
        Response r;  // slow probes, then a range that trickles
        r.body = body;
        r.headerDelay = q.header("Range").empty() ? std::chrono::milliseconds(700) : r.headerDelay;
        r.honourRange = true;
        r.trickle = std::chrono::seconds(30);
        return r;
    });
    storeBytes(dir_ / "r.bin", body.substr(0, 1000));
    OnTerminal t({"--resume", server_.url("/r.bin"), "r.bin"}, dir_.path());
    ASSERT_TRUE(t.waitFor("Informações Recebidas!")) << t.screen();
    t.type("c");  // lands in the resume's own probe
    EXPECT_EQ(t.finish(), 1) << t.screen();
    EXPECT_EQ(loadBytes(dir_ / "r.bin"), body.substr(0, 1000));
}

// An existing f.txt, --prompt-overwrite, and "No" to replacing it: carvo-get is left at the
// control's question for a new name.
class OverwriteQuestion : public CarvoGetOnTerminal {
  protected:
    void SetUp() override {
        Response r;
        r.body = "fresh body";
        server_.route("/f.txt", r);
        storeBytes(dir_ / "f.txt", "keep me");
        t_.emplace(std::vector<std::string>{"--prompt-overwrite", server_.url("/f.txt")},
                   dir_.path());
        ASSERT_TRUE(t_->waitFor("Você quer substituir o arquivo: f.txt ?")) << t_->screen();
        ASSERT_TRUE(t_->waitFor("[s/n]")) << t_->screen();
        t_->type("n\n");
        ASSERT_TRUE(t_->waitFor("Por favor digite um novo nome de arquivo.")) << t_->screen();
        ASSERT_TRUE(t_->waitFor("[f.txt]: ")) << t_->screen();
    }
    std::optional<OnTerminal> t_;
};

TEST_F(OverwriteQuestion, ANewNameIsTakenFromTheTerminal) {
    t_->type("novo.txt\n");
    EXPECT_EQ(t_->finish(), 0) << t_->screen();
    EXPECT_EQ(loadBytes(dir_ / "f.txt"), "keep me");
    EXPECT_EQ(loadBytes(dir_ / "novo.txt"), "fresh body");
    EXPECT_TRUE(linesAndEcho(t_->modes()));
}

TEST_F(OverwriteQuestion, EndOfInputWritesNothing) {
    t_->type("\x04");  // Ctrl-D: the end of input, where the control's loop would ask forever
    EXPECT_EQ(t_->finish(), 1) << t_->screen();
    EXPECT_NE(t_->screen().find("nothing was downloaded"), std::string::npos) << t_->screen();
    EXPECT_EQ(loadBytes(dir_ / "f.txt"), "keep me");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_.path()), fs::directory_iterator()), 1);
    EXPECT_TRUE(linesAndEcho(t_->modes()));
}

}  // namespace
}  // namespace carvo::test
