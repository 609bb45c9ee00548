#include "platform/TerminationSignal.h"

#include "platform/Errors.h"

#include <atomic>
#include <iterator>

#ifndef _WIN32
#include <csignal>
#endif

namespace velkaro::platform {

namespace {

// What the handler may touch: lock-free atomics and the waker, whose Signal
// is safe in a signal handler.
std::atomic<SocketWaker*> target {nullptr};
std::atomic<int> lastSignal {0};

#ifndef _WIN32
constexpr int Handled[] = {SIGTERM, SIGINT};
struct sigaction previous[std::size(Handled)];

extern "C" void onTerminationSignal(int signal)
{
    lastSignal.store(signal);
    if (SocketWaker* waker = target.load())
        waker->Signal();
}
#endif

} // namespace

TerminationSignal::TerminationSignal(SocketWaker& waker)
{
    SocketWaker* none = nullptr;
    if (!target.compare_exchange_strong(none, &waker))
        throw Exception(QStringLiteral("Only one termination signal handler can be installed at a time"));
    lastSignal.store(0);
#ifndef _WIN32
    struct sigaction action { };
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    // Interrupted calls are restarted: the program learns of the request
    // through the waker, not through a failing call.
    action.sa_flags = SA_RESTART;
    for (size_t i = 0; i < std::size(Handled); ++i)
        ::sigaction(Handled[i], &action, &previous[i]);
#endif
}

TerminationSignal::~TerminationSignal()
{
#ifndef _WIN32
    for (size_t i = 0; i < std::size(Handled); ++i)
        ::sigaction(Handled[i], &previous[i], nullptr);
#endif
    target.store(nullptr);
}

bool TerminationSignal::Requested() const
{
    return lastSignal.load() != 0;
}

QString TerminationSignal::RequestName() const
{
#ifndef _WIN32
    switch (lastSignal.load()) {
    case 0:
        return {};
    case SIGTERM:
        return QStringLiteral("SIGTERM");
    case SIGINT:
        return QStringLiteral("SIGINT");
    }
#endif
    return QStringLiteral("signal %1").arg(lastSignal.load());
}

} // namespace velkaro::platform
