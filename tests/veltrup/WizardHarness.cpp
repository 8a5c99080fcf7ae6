#include "WizardHarness.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QPushButton>
#include <chrono>
#include <thread>

#include "TypeLib.h"
#include "win/UniqueFd.h"

extern char** environ;

namespace veltrup::test {

using carvo::Variant;

FakeControl::FakeControl(std::string name, CallLog& log)
    : name_(std::move(name)), log_(log), events_(carvo::downLoadEventInterface()) {}

const carvo::InterfaceInfo& FakeControl::typeInfo() const { return carvo::downLoadInterface(); }

Variant FakeControl::invoke(carvo::DispId id, carvo::InvokeKind kind, std::span<Variant> args) {
    const carvo::MemberInfo& m = carvo::checkInvoke(typeInfo(), id, kind, args.size());
    if (kind == carvo::InvokeKind::PropertyPut) {
        const std::string value = args[0].toString();
        log_.push_back(name_ + " put " + std::string(m.name) + "=" + value);
        if (id == carvo::dispid::SaveLocation) SaveLocation = value;
        if (id == carvo::dispid::Url) Url = value;
        return {};
    }
    if (kind == carvo::InvokeKind::PropertyGet) {
        switch (id) {
            case carvo::dispid::SaveLocation: return SaveLocation;
            case carvo::dispid::Url: return Url;
            case carvo::dispid::FileSize: return FileSize;
            default: return {};
        }
    }
    log_.push_back(name_ + " " + std::string(m.name));
    switch (id) {
        case carvo::dispid::GetFileInformation:
            if (onProbe) onProbe();
            break;
        case carvo::dispid::DownLoad:
            if (onDownLoad) onDownLoad();
            break;
        case carvo::dispid::Cancel:
            if (onCancel) onCancel();
            break;
        default: break;
    }
    return {};
}

void FakeControl::fire(carvo::DispId id) { events_.fire(id, {}); }

void FakeControl::fire(carvo::DispId id, Variant arg) {
    Variant args[1] = {std::move(arg)};
    events_.fire(id, args);
}

void WizardHost::yield() {
    ScriptedHost::yield();
    if (processQtEvents) QApplication::processEvents();
}

std::vector<carvo::WindowHandle> FakeWindows::topLevelWindows() {
    std::vector<carvo::WindowHandle> handles;
    for (const auto& w : windows) handles.push_back(w.first);
    return handles;
}

std::string FakeWindows::title(carvo::WindowHandle window) {
    for (const auto& w : windows)
        if (w.first == window) return w.second;
    return {};
}

Wizard::Wizard() : registry(folder / "registry.reg") {
    dl1 = std::make_shared<FakeControl>("dl1", calls);
    dl2 = std::make_shared<FakeControl>("dl2", calls);
    // The updater's own window comes first, as the search starts from it.
    windows.windows = {{1, kTitle}, {2, "Terminal"}};
}

Wizard::~Wizard() = default;

void Wizard::create(const std::string& programFolder) {
    MainEnvironment env;
    env.programFolder = programFolder.empty() ? folderPath() : programFolder;
    env.registryStore = registry;
    env.host = &host;
    env.windows = &windows;
    env.launchInstaller = [this](const std::string& path) {
        if (launcher) return launcher(path);
        launched.push_back(path);
        return launchFailure;
    };
    env.anotherCopyRunning = [this] { return anotherCopy; };
    int made = 0;
    if (!liveControls) {
        env.createControl = [this, made]() mutable -> std::shared_ptr<carvo::Dispatch> {
            return ++made == 1 ? dl1 : dl2;
        };
    }
    env.showAbout = [this](QWidget*) { ++aboutShown; };
    env.endProgram = [this] { ++ended; };
    form = std::make_unique<frmMain>(std::move(env));
}

void Wizard::open(const std::string& programFolder) {
    create(programFolder);
    ASSERT_TRUE(form->Form_Load());
    form->show();
}

void Wizard::writeLinks(const std::string& updateFileUrl) {
    carvo::test::storeBytes(folder / "links.ini", "[MAIN]\r\nUpdateFile=" + updateFileUrl +
                                                      "\r\nOfficialPage=http://127.0.0.1/\r\n");
}

void Wizard::writeVersionFile(const std::string& mainSection) {
    carvo::test::storeBytes(folder / "Update.ini", "[MAIN]\r\n" + mainSection);
}

void Wizard::setInstalled(const std::string& registryValueLine) {
    carvo::test::storeBytes(registry,
                            "Windows Registry Editor Version 5.00\r\n\r\n"
                            "[HKEY_LOCAL_MACHINE\\Software\\Parvix 2002\\Version]\r\n" +
                                registryValueLine + "\r\n");
}

void Wizard::press() { form->cmdAvancar->click(); }

void Wizard::walkTo(int step) {
    if (!std::filesystem::exists(folder / "Update.ini"))
        writeVersionFile("Version=3\r\nFile=http://127.0.0.1/setup.sh\r\nShell=setup.sh\r\n");
    if (!std::filesystem::exists(registry)) setInstalled("\"Version\"=\"2\"");
    dl1->onDownLoad = [this] { dl1->fire(carvo::eventid::DLComplete); };
    dl2->onDownLoad = [this] { dl2->fire(carvo::eventid::DLComplete); };
    press();  // 0 -> 1
    if (step == 1) return;
    press();  // 1 -> 2
    if (step == 2) return;
    press();  // 2 -> 4
}

QWidget* Wizard::child(const char* name) const { return form->findChild<QWidget*>(name); }

namespace {
const char* kLater =
    "Você pode clicar o botão 'Avançar' para tentar novamente agora, ou pode aguardar e repetir o "
    "processo mais tarde. O Servidor pode estar sob manutenção.";
}  // namespace

const std::vector<FailureRow> kFailureRows = {
    {1, "Erro:", "Não foi possível acessar o arquivo, tenha certeza de que você está conectado a Internet!", "Você pode clicar o botão 'Avançar' para tentar novamente."},
    {2, "Erro:", "O Arquivo não foi encontrado no servidor.", kLater},
    {3, "Erro:", "O tempo máximo para se estabelecer a conexão foi atingido, sem sucesso.", kLater},
    {4, "Download Cancelado!", "Você optou por cancelar o Download.", "Você pode clicar o botão 'Avançar' para reiniciar o Download."},
    {5, "Erro:", "Não foi detectada conexão com a Internet!", "Você deve se conectar a Internet, e em seguida clicar o botão 'Avançar'."},
    {401, "Erro:", "Acesso Não Autorizado.", kLater},
    {403, "Erro:", "Acesso Negado.", kLater},
    {407, "Erro:", "Acesso Não Autorizado Pelo Proxy.", "Verifique o usuário e a senha do Proxy (variáveis http_proxy e https_proxy), e em seguida clique o botão 'Avançar' para tentar novamente."},
};

std::vector<carvo::test::ScriptedHost::Call> boxes(const carvo::test::ScriptedHost& host) {
    std::vector<carvo::test::ScriptedHost::Call> out;
    for (const auto& c : host.calls())
        if (c.kind == "messageBox") out.push_back(c);
    return out;
}

void saveScreen(QWidget& widget, const std::string& name) {
    const std::filesystem::path folder = VELTRUP_SCREENS_DIR;
    std::filesystem::create_directories(folder);
    QApplication::processEvents();
    widget.grab().save(QString::fromStdString((folder / (name + ".png")).string()));
}

bool waitFor(const std::function<bool()>& condition, int milliseconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        QApplication::processEvents(QEventLoop::AllEvents, 10);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

namespace {

constexpr const char* kScreenMark = "VELTRUP_TEST_ON_SCREEN";

pid_t spawn(std::vector<std::string> args, std::vector<std::string> env, int out) {
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, out, 1);
    posix_spawn_file_actions_adddup2(&fa, out, 2);
    std::vector<char*> argv, envp;
    for (auto& a : args) argv.push_back(a.data());
    for (auto& e : env) envp.push_back(e.data());
    argv.push_back(nullptr);
    envp.push_back(nullptr);
    pid_t pid = -1;
    if (::posix_spawnp(&pid, argv[0], &fa, nullptr, argv.data(), envp.data()) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&fa);
    return pid;
}

}  // namespace

bool onPrivateScreen() { return qEnvironmentVariableIsSet(kScreenMark); }

std::string runOnPrivateScreen(const std::string& test) {
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string_view v(*e);
        if (!v.starts_with("QT_QPA_PLATFORM=") && !v.starts_with("DISPLAY=") && !v.starts_with("XAUTHORITY="))
            env.emplace_back(v);
    }
    carvo::test::ScratchFolder scratch{"veltrup-screen"};
    const carvo::UniqueFd log(::open((scratch / "output.txt").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600));
    // Xvfb picks a free display itself and writes its number to the pipe once it is ready.
    int ready[2];
    if (log.get() < 0 || ::pipe2(ready, O_CLOEXEC) != 0) return "no log file or pipe";
    ::fcntl(ready[1], F_SETFD, 0);  // Xvfb inherits the writing end under its own number
    const pid_t server = spawn({"Xvfb", "-displayfd", std::to_string(ready[1]), "-nolisten", "tcp",
                                "-screen", "0", "1024x768x24"},
                               env, log.get());
    ::close(ready[1]);
    std::string number;
    for (char c = 0; server > 0 && c != '\n';) {
        pollfd p{ready[0], POLLIN, 0};
        if (::poll(&p, 1, 30000) != 1 || ::read(ready[0], &c, 1) != 1) break;
        number += c;
    }
    ::close(ready[0]);
    int status = -1;
    if (number.ends_with('\n')) {
        number.pop_back();
        env.insert(env.end(), {"QT_QPA_PLATFORM=xcb", "DISPLAY=:" + number, std::string(kScreenMark) + "=1"});
        const pid_t child = spawn({"/proc/self/exe", "--gtest_filter=" + test}, env, log.get());
        if (child > 0) ::waitpid(child, &status, 0);
    }
    if (server > 0) {
        ::kill(server, SIGTERM);
        ::waitpid(server, nullptr, 0);
    }
    const std::string output = carvo::test::loadBytes(scratch / "output.txt");
    return status == 0 && output.find("[  PASSED  ] 1 test") != std::string::npos ? "" : output;
}

}  // namespace veltrup::test

// Widgets need an application object; the tests run offscreen unless told otherwise.
int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
