#include "platform/Termination.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <thread>

using namespace velkaro::platform;

namespace {

// Runs the event loop until Done holds; the patience only keeps a broken
// test from hanging.
template <class Pred> bool spinUntil(Pred done)
{
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < 10000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return done();
}

// A request is reported at once to the wake-ups, on the thread that noticed
// it, and then once on the GUI thread; SIGTERM and SIGINT the same way,
// without ending the program when told not to.
TEST(TerminationRequests, EachRequestWakesSubscribersAtOnceAndReachesTheGuiThreadOnce)
{
    TerminationRequests* requests = TerminationRequests::Instance();
    ASSERT_NE(requests, nullptr);
    requests->SetSignalEndsProgram(false);

    std::atomic<int> wakes = 0;
    std::atomic<bool> wokenOffGuiThread = false;
    const int ticket = requests->Subscribe([&] {
        ++wakes;
        if (QThread::currentThread() != QCoreApplication::instance()->thread())
            wokenOffGuiThread = true;
    });
    QList<TerminationReason> delivered;
    QList<bool> deliveredOnGuiThread;
    const QMetaObject::Connection connection
        = QObject::connect(requests, &TerminationRequests::Requested, [&](TerminationReason reason) {
              delivered.append(reason);
              deliveredOnGuiThread.append(QThread::currentThread() == QCoreApplication::instance()->thread());
          });

    std::thread([&] { requests->Report(TerminationReason::SessionEnd); }).join();
    EXPECT_EQ(wakes, 1) << "the wake-up runs before the GUI thread hears of it";
    EXPECT_TRUE(delivered.isEmpty());
    EXPECT_TRUE(spinUntil([&] { return delivered.size() == 1; }));

    const struct {
        int signal;
        const char* name;
    } raised[] = {{SIGTERM, "SIGTERM"}, {SIGINT, "SIGINT"}};
    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(raised[i].name);
        std::raise(raised[i].signal);
        EXPECT_TRUE(spinUntil([&] { return delivered.size() == 2 + i; }));
        EXPECT_EQ(TerminationRequests::LastSignalName(), QString::fromLatin1(raised[i].name));
    }
    EXPECT_EQ(delivered,
        QList<TerminationReason>(
            {TerminationReason::SessionEnd, TerminationReason::Signal, TerminationReason::Signal}));
    EXPECT_EQ(deliveredOnGuiThread, QList<bool>({true, true, true}));
    EXPECT_EQ(wakes, 3);
    EXPECT_TRUE(wokenOffGuiThread) << "a signal is noticed off the GUI thread";

    requests->Unsubscribe(ticket);
    requests->Report(TerminationReason::SessionEnd);
    EXPECT_EQ(wakes, 3);
    EXPECT_EQ(delivered.size(), 4) << "a request made on the GUI thread is delivered before Report returns";

    QObject::disconnect(connection);
    requests->SetSignalEndsProgram(true);
}

} // namespace
