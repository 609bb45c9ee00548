// SIGTERM and SIGINT reach the waker instead of ending the process, and the
// previous handling comes back afterwards.

#include "platform/TerminationSignal.h"

#include "platform/Errors.h"

#include <gtest/gtest.h>

#include <csignal>

using namespace velkaro;
using namespace velkaro::platform;

namespace {

TEST(TerminationSignal, ARequestWakesTheWaiterAndNamesTheSignal)
{
    const struct {
        int signal;
        const char* name;
    } cases[] = {{SIGTERM, "SIGTERM"}, {SIGINT, "SIGINT"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SocketWaker waker;
        const TerminationSignal termination(waker);
        EXPECT_FALSE(termination.Requested());
        EXPECT_EQ(waker.Wait(0).status, WaitStatus::TimedOut);

        ASSERT_EQ(std::raise(c.signal), 0);
        EXPECT_EQ(waker.Wait(10000).status, WaitStatus::Woken);
        EXPECT_TRUE(termination.Requested());
        EXPECT_EQ(termination.RequestName(), QString::fromLatin1(c.name));
    }
}

TEST(TerminationSignal, OneAtATimeAndThePreviousHandlingComesBack)
{
    struct sigaction before { };
    ASSERT_EQ(::sigaction(SIGTERM, nullptr, &before), 0);
    {
        SocketWaker waker;
        const TerminationSignal termination(waker);
        SocketWaker other;
        EXPECT_THROW(TerminationSignal second(other), Exception);

        struct sigaction during { };
        ASSERT_EQ(::sigaction(SIGTERM, nullptr, &during), 0);
        EXPECT_NE(during.sa_handler, before.sa_handler);
    }
    struct sigaction after { };
    ASSERT_EQ(::sigaction(SIGTERM, nullptr, &after), 0);
    EXPECT_EQ(after.sa_handler, before.sa_handler);

    // And a new one may be installed again.
    SocketWaker waker;
    EXPECT_NO_THROW(TerminationSignal again(waker));
}

} // namespace
