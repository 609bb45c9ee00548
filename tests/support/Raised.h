#pragma once
// The exception a call raises, for tests that look at its code or text.

#include "mysql/MyError.h"

#include <gtest/gtest.h>

#include <type_traits>

namespace velkaro::testing {

// The E that F raises; a test failure, and an E with no text (error 0 for
// EMyError), when it raises none.
template <class E = EMyError, class F> E Raised(F f)
{
    try {
        f();
    } catch (const E& e) {
        return e;
    }
    ADD_FAILURE() << "nothing raised";
    if constexpr (std::is_same_v<E, EMyError>)
        return E(0, QString());
    else
        return E(QString());
}

} // namespace velkaro::testing
