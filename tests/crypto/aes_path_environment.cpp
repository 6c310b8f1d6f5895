// Every cipher test program runs twice under CTest: once on the path that the
// processor gets, once with MISTLOCK_TEST_AES=portable, which forces the
// portable tables through the unit's test hook before any test runs. The
// table path is thus tested on every machine, AES-NI or not.
#include <cstdlib>
#include <cstring>
#include <iostream>

#include <gtest/gtest.h>

#include "crypto/aes_dispatch.h"
#include "tests/crypto/aes_paths.h"

namespace testsupport {

bool portableForcedForThisRun() {
    const char* value = std::getenv("MISTLOCK_TEST_AES");
    return value != nullptr && std::strcmp(value, "portable") == 0;
}

namespace {

class AesPathEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        if (portableForcedForThisRun()) ElAES::forcePortable(true);
        std::cout << "[ AES path ] " << ElAES::implementationName(ElAES::activeImplementation())
                  << (ElAES::implementationOf(ElAES::Implementation::AesNi) ? " (processor has AES-NI)" : " (no AES-NI path here)") << std::endl;
    }
};

::testing::Environment* const registered = ::testing::AddGlobalTestEnvironment(new AesPathEnvironment);

}  // namespace

}  // namespace testsupport
