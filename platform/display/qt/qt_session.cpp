// Opening Qt, running the program beside it, and ending the program as if it
// were closed when the display goes away under it: the module's session.
#include "display/qt/qt_session.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <thread>
#include <vector>

#include <QApplication>

#include "display/qt/device_screen.h"
#include "display/qt/program_thread.h"
#include "display/qt/qt_display.h"
#include "platform/program_ending.h"

namespace platform::qt {

namespace {

struct State {
    SessionOptions options;
    std::vector<std::string> arguments;
    std::vector<char*> argv;
    int argc = 0;
    std::unique_ptr<QApplication> application;
    // Set by Run, for the case that Qt ends the process.
    std::thread::id qtThread;
    std::shared_ptr<QtDisplay> display;
    std::function<void()> finish;
    std::unique_ptr<ProgramThread> program;
};

constexpr const char* kDefaultPlatforms = "xcb;wayland";
// Tried last, so that a display that cannot be opened is a result rather
// than Qt's abort; never used unless asked for.
constexpr const char* kFallbackPlatform = "offscreen";
// How long the program may take to end once its display has gone.
constexpr std::chrono::seconds kPatienceWhenDisplayGoes{30};

// What Qt says while it opens, kept as the reason should it fail.
std::atomic<QStringList*> openingMessages{nullptr};

void KeepOpeningMessage(QtMsgType, const QMessageLogContext&, const QString& message)
{
    if (QStringList* messages = openingMessages.load()) {
        messages->push_back(message);
    }
}

QStringList RequestedPlatforms()
{
    const QByteArray named = qgetenv("QT_QPA_PLATFORM");
    return QString::fromLocal8Bit(named.isEmpty() ? QByteArray(kDefaultPlatforms) : named)
        .split(QLatin1Char(';'), Qt::SkipEmptyParts);
}

// Whether Qt opened one of the platforms asked for; a platform may be asked
// for with options ("offscreen:configfile=screens.json").
bool OpenedOneOf(const QStringList& requested)
{
    return std::any_of(requested.begin(), requested.end(), [](const QString& platform) {
        return platform.section(QLatin1Char(':'), 0, 0).compare(QGuiApplication::platformName(), Qt::CaseInsensitive) == 0;
    });
}

void SetArguments(State& state, std::vector<std::string> arguments)
{
    state.arguments = std::move(arguments);
    for (std::string& argument : state.arguments) {
        state.argv.push_back(argument.data());
    }
    state.argc = static_cast<int>(state.arguments.size());
    state.argv.push_back(nullptr);
}

// The session whose program the process is running; exit() looks here.
std::atomic<State*> runningSession{nullptr};

// Qt calls exit() on its thread when the connection to the X server breaks.
// The program must still end as when it is closed: its windows are closed,
// the caller's last steps run, and the process ends with the program's
// result without the rest of exit(), which would tear down what the
// program's threads still use.
void WhenQtEndsTheProcess()
{
    State* state = runningSession.load();
    if (state == nullptr || state->program == nullptr || std::this_thread::get_id() != state->qtThread) {
        return;   // an ordinary exit
    }
    std::fputs("platform: the display went away; the program ends as if it were closed\n", stderr);
    ProgramThread& program = *state->program;
    if (!EndProgram([&program](std::chrono::milliseconds wait) { return program.WaitEnded(wait); },
                    kPatienceWhenDisplayGoes)) {
        std::fputs("platform: the program did not end when its windows were closed; leaving it\n", stderr);
        std::fflush(nullptr);
        ::_exit(EXIT_FAILURE);
    }
    const int result = program.Result();
    state->program.reset();   // joins the thread, which has ended
    state->finish();
    std::fflush(nullptr);
    ::_exit(result);
}

// exit() destroys the objects of the calling thread first, and only then any
// static object, so the guard runs while everything the program uses stands.
struct ExitGuard {
    ExitGuard() = default;
    ExitGuard(const ExitGuard&) = delete;
    ExitGuard& operator=(const ExitGuard&) = delete;
    ~ExitGuard() { WhenQtEndsTheProcess(); }
};

void WatchForQtEndingTheProcess(State& state)
{
    thread_local ExitGuard guard;
    runningSession = &state;
}

class OpenedSession final : public QtSession {
public:
    explicit OpenedSession(std::unique_ptr<State> state) : state_(std::move(state)) {}
    ~OpenedSession() override { runningSession = nullptr; }
    OpenedSession(const OpenedSession&) = delete;
    OpenedSession& operator=(const OpenedSession&) = delete;

    int Run(const std::function<int()>& program, const std::function<void()>& finish) override;

private:
    std::unique_ptr<State> state_;
};

std::unique_ptr<QtSession> Open(const SessionOptions& options, std::string& whyNot)
{
    if (::gettid() != ::getpid()) {
        whyNot = "Qt must be opened on the process's main thread";
        return nullptr;
    }
    auto state = std::make_unique<State>();
    state->options = options;
    const QStringList requested = RequestedPlatforms();
    QStringList tried = requested;
    if (!tried.contains(QLatin1String(kFallbackPlatform), Qt::CaseInsensitive)) {
        tried.push_back(QLatin1String(kFallbackPlatform));
    }
    SetArguments(*state, {program_invocation_short_name, "-platform", tried.join(QLatin1Char(';')).toStdString()});

    QStringList messages;
    openingMessages = &messages;
    const QtMessageHandler previous = qInstallMessageHandler(KeepOpeningMessage);
    state->application = std::make_unique<QApplication>(state->argc, state->argv.data());
    qInstallMessageHandler(previous);
    openingMessages = nullptr;

    if (!OpenedOneOf(requested)) {
        whyNot = "no Qt platform of '" + requested.join(QLatin1Char(';')).toStdString() + "' could be opened";
        if (!messages.isEmpty()) {
            whyNot += " (" + messages.join(QLatin1String("; ")).toStdString() + ")";
        }
        return nullptr;
    }
    state->application->setQuitOnLastWindowClosed(false);
    return std::make_unique<OpenedSession>(std::move(state));
}

int OpenedSession::Run(const std::function<int()>& program, const std::function<void()>& finish)
{
    State& state = *state_;
    // A broken display connection is an error that Qt reports, not a signal
    // that ends the process before the program could.
    std::signal(SIGPIPE, SIG_IGN);
    state.display = std::make_shared<QtDisplay>(state.options.width, state.options.height);
    state.finish = finish;
    state.qtThread = std::this_thread::get_id();
    const std::shared_ptr<Display> previous = CurrentDisplay();
    SetDisplay(state.display);
    {
        std::string note;
        const int scale = HostScale(state.options.width, state.options.height, state.options.scale, note);
        if (!note.empty()) {
            std::fprintf(stderr, "platform: %s\n", note.c_str());
        }
        DeviceScreen screen(state.display, MakeScreenMetrics(state.options.width, state.options.height, scale));
        const auto changes = state.display->Changes();
        state.program = std::make_unique<ProgramThread>(program, [changes] { changes->Raise(); });
        WatchForQtEndingTheProcess(state);
        screen.SetAfterRefresh([&state] {
            if (state.program->Ended()) {
                QCoreApplication::quit();
            }
        });
        QApplication::exec();
        while (!state.program->WaitEnded(std::chrono::seconds(1))) {
        }
    }
    SetDisplay(previous);
    return state.program->Result();
}

}  // namespace
}  // namespace platform::qt

extern "C" void platform_open_qt_session(const platform::qt::SessionOptions& options,
                                         std::unique_ptr<platform::qt::QtSession>& session, std::string& whyNot)
{
    session = platform::qt::Open(options, whyNot);
}
