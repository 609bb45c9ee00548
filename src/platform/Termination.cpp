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
SocketWaker* signalWaker = nullptr; // made once, never freed
std::atomic<bool> signalPending = false;
static_assert(std::atomic<bool>::is_always_lock_free);

extern "C" void onTerminate(int)
{
    const int savedErrno = errno;
    if (signalPending.exchange(true)) {
        // The first request has not been handled yet: end now.
        std::signal(SIGTERM, SIG_DFL);
        std::raise(SIGTERM);
    } else {
        signalWaker->Signal();
    }
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
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
}

void endAsSignalled()
{
    std::signal(SIGTERM, SIG_DFL);
    std::raise(SIGTERM);
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
        endAsSignalled();
    signalPending = false;
#endif
}

} // namespace velkaro::platform
