// Entry point of every test program. Natively, MISTLOCK_TEST_CODEPAGE picks the
// code page that stands for the system ANSI code page; under Wine the locale
// does that, and the variable is not read.
#include <cstdlib>

#include <gtest/gtest.h>

#if defined(MISTLOCK_WITH_CORE) && !defined(_WIN32)
#include "platform/portable/headless.h"
#endif

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
#if defined(MISTLOCK_WITH_CORE) && !defined(_WIN32)
    if (const char* cp = std::getenv("MISTLOCK_TEST_CODEPAGE")) {
        platform::headless::setAnsiCodePage(static_cast<unsigned>(std::atoi(cp)));
    }
#endif
    return RUN_ALL_TESTS();
}
