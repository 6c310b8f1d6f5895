#pragma once
// The implementations of the AES unit as tests see them: the portable tables,
// the AES instructions, and the dispatching functions of ElAES.h, each as a
// set of function pointers so that one test body can run on every path.
#include <cstdint>
#include <string>
#include <vector>

#include "crypto/ElAES.h"
#include "crypto/aes_dispatch.h"

namespace testsupport {

struct AesPath {
    std::string name;
    // False when this build or this processor lacks the path.
    bool available;
    void (*buildEncryptionSchedule)(const ElAES::Key&, ElAES::Schedule&);
    void (*buildDecryptionSchedule)(const ElAES::Key&, ElAES::Schedule&);
    void (*encryptBlock)(const ElAES::Block&, const ElAES::Schedule&, ElAES::Block&);
    void (*decryptBlock)(const ElAES::Block&, const ElAES::Schedule&, ElAES::Block&);
    void (*encryptStream)(ElAES::ByteStream&, std::uint32_t, const ElAES::Key&, ElAES::ByteStream&);
    void (*decryptStream)(ElAES::ByteStream&, std::uint32_t, const ElAES::Key&, ElAES::ByteStream&);
};

inline AesPath portablePath() {
    namespace p = ElAES::portable;
    return {"portable",           true,           p::buildEncryptionSchedule, p::buildDecryptionSchedule,
            p::encryptBlock,      p::decryptBlock, p::encryptStream,          p::decryptStream};
}

// The hardware path; not available (and its functions null) where the build
// leaves it out or the processor lacks AES-NI.
inline AesPath aesniPath() {
#if ELAES_HAVE_AESNI
    namespace h = ElAES::aesni;
    return {"aesni",         ElAES::hardwareSupported(), h::buildEncryptionSchedule, h::buildDecryptionSchedule,
            h::encryptBlock, h::decryptBlock,            h::encryptStream,          h::decryptStream};
#else
    return {"aesni", false, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr};
#endif
}

// What the rest of the plug-in calls: whichever path was chosen.
inline AesPath dispatchedPath() {
    return {"dispatched",     true,
            ElAES::buildEncryptionSchedule, ElAES::buildDecryptionSchedule,
            ElAES::encryptBlock,  ElAES::decryptBlock,
            ElAES::encryptStream, ElAES::decryptStream};
}

inline std::vector<AesPath> allAesPaths() { return {portablePath(), aesniPath(), dispatchedPath()}; }

// True when this test run was asked to force the portable path
// (MISTLOCK_TEST_AES=portable; see aes_path_environment.cpp).
bool portableForcedForThisRun();

}  // namespace testsupport
