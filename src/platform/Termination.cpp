#include "platform/Termination.h"

#include "platform/Socket.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QThread>

#include <atomic>
#include <thread>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <csignal>
#endif

namespace velkaro::platform {

namespace {

std::mutex instanceMutex;
TerminationRequests* instance = nullptr; // guarded by instanceMutex

void reportToInstance(TerminationReason reason)
{
    const std::lock_guard lock(instanceMutex);
    if (instance != nullptr)
        instance->Report(reason);
}

#ifdef Q_OS_UNIX
// The handler may only do what is safe in a signal handler: it wakes the
// watcher thread, which does the rest.
constexpr int Watched[] = {SIGTERM, SIGINT};
SocketWaker* signalWaker = nullptr; // made once, never freed
std::atomic<bool> signalPending = false;
std::atomic<int> lastSignal = 0;
static_assert(std::atomic<bool>::is_always_lock_free && std::atomic<int>::is_always_lock_free);

void endAs(int signal)
{
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

extern "C" void onTerminate(int signal)
{
    const int savedErrno = errno;
    lastSignal = signal;
    if (signalPending.exchange(true))
        endAs(signal); // the first request has not been handled yet: end now
    else
        signalWaker->Signal();
    errno = savedErrno;
}

void watchSignals()
{
    signalWaker = new SocketWaker;
    std::thread([] {
        for (;;) {
            const WaitResult result = signalWaker->Wait(NoTimeLimit);
            if (result.status == WaitStatus::Failed)
                return;
            if (result.status == WaitStatus::Woken)
                reportToInstance(TerminationReason::Signal);
        }
    }).detach();
    struct sigaction action { };
    action.sa_handler = onTerminate;
    sigemptyset(&action.sa_mask);
    // Interrupted calls are restarted: the program learns of the request
    // through its wake-up, not through a failing call.
    action.sa_flags = SA_RESTART;
    for (const int signal : Watched)
        sigaction(signal, &action, nullptr);
}

#endif

void startWatching()
{
#ifdef Q_OS_UNIX
    static std::once_flag once;
    std::call_once(once, watchSignals);
#endif
}

} // namespace

TerminationRequests* TerminationRequests::Instance()
{
    QCoreApplication* app = QCoreApplication::instance();
    if (app == nullptr)
        return nullptr;
    const std::lock_guard lock(instanceMutex);
    if (instance == nullptr) {
        instance = new TerminationRequests;
        instance->setParent(app);
        startWatching();
    }
    return instance;
}

TerminationRequests::TerminationRequests()
{
#ifndef QT_NO_SESSIONMANAGER
    if (auto* gui = qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
        // Emitted on the GUI thread while the session manager waits for the
        // answer, so the links are closed before the session goes.
        connect(gui, &QGuiApplication::commitDataRequest, this,
            [this](QSessionManager&) { Report(TerminationReason::SessionEnd); });
    }
#endif
}

TerminationRequests::~TerminationRequests()
{
    const std::lock_guard lock(instanceMutex);
    if (instance == this)
        instance = nullptr;
}

int TerminationRequests::Subscribe(std::function<void()> wake)
{
    const std::lock_guard lock(mutex_);
    const int ticket = nextTicket_++;
    wakes_.emplace(ticket, std::move(wake));
    return ticket;
}

void TerminationRequests::Unsubscribe(int ticket)
{
    const std::lock_guard lock(mutex_);
    wakes_.erase(ticket);
}

void TerminationRequests::SetSignalEndsProgram(bool value)
{
    const std::lock_guard lock(mutex_);
    signalEndsProgram_ = value;
}

void TerminationRequests::Report(TerminationReason reason)
{
    {
        const std::lock_guard lock(mutex_);
        for (const auto& [ticket, wake] : wakes_)
            wake();
    }
    if (QThread::currentThread() == thread())
        deliver(reason);
    else
        QMetaObject::invokeMethod(
            this, [this, reason] { deliver(reason); }, Qt::QueuedConnection);
}

void TerminationRequests::deliver(TerminationReason reason)
{
    emit Requested(reason);
    if (reason != TerminationReason::Signal)
        return;
#ifdef Q_OS_UNIX
    bool ends = false;
    {
        const std::lock_guard lock(mutex_);
        ends = signalEndsProgram_;
    }
    if (ends)
        endAs(lastSignal);
    signalPending = false;
#endif
}

QString TerminationRequests::LastSignalName()
{
#ifdef Q_OS_UNIX
    switch (lastSignal.load()) {
    case 0:
        return {};
    case SIGTERM:
        return QStringLiteral("SIGTERM");
    case SIGINT:
        return QStringLiteral("SIGINT");
    }
#endif
    return {};
}

} // namespace velkaro::platform
