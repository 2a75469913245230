#pragma once
// Qt's QTRY_VERIFY, QTRY_VERIFY2 and QTRY_COMPARE give up after 5 s. What
// must eventually happen can take longer than that on a loaded two-core
// machine under a sanitizer, so every suite that waits with them includes
// this file, which makes their bound kTryTimeoutMs. A wait ends as soon as
// its condition holds: only a failing test takes longer. The _WITH_TIMEOUT
// forms keep the bound they are given. Used on the test's thread.

#include <QTest>

constexpr int kTryTimeoutMs = 20000;

#undef QTRY_VERIFY
#define QTRY_VERIFY(expr) QTRY_VERIFY_WITH_TIMEOUT(expr, kTryTimeoutMs)
#undef QTRY_VERIFY2
#define QTRY_VERIFY2(expr, messageExpression)                                                      \
    QTRY_VERIFY2_WITH_TIMEOUT(expr, messageExpression, kTryTimeoutMs)
#undef QTRY_COMPARE
#define QTRY_COMPARE(expr, expected) QTRY_COMPARE_WITH_TIMEOUT(expr, expected, kTryTimeoutMs)
