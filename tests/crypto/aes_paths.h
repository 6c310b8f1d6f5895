#pragma once
// The paths a cipher test runs each case on: every implementation the unit
// lists as available on this machine, through its own table, and the
// functions of ElAES.h, which follow whichever table was chosen.
#include <cctype>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "crypto/ElAES.h"
#include "crypto/aes_dispatch.h"

namespace testsupport {

using StreamRoutine = std::function<void(ElAES::ByteStream&, std::uint32_t, const ElAES::Key&, ElAES::ByteStream&)>;

struct AesPath {
    std::string name;  // letters and digits only: it ends test names
    // One of the unit's tables; for the functions of ElAES.h, a table made of them.
    ElAES::ImplementationTable table;
    // The key-taking routines: the table's own, or those of ElAES.h themselves.
    StreamRoutine encryptStream;
    StreamRoutine decryptStream;
};

inline AesPath pathOf(const ElAES::ImplementationTable& table) {
    std::string name;
    for (const char* c = table.name; *c != '\0'; ++c) {
        if (std::isalnum(static_cast<unsigned char>(*c))) name += *c;
    }
    const ElAES::ImplementationTable* t = &table;  // the unit's tables live as long as the program
    return {name, table,
            [t](ElAES::ByteStream& s, std::uint32_t n, const ElAES::Key& k, ElAES::ByteStream& d) {
                t->encryptStream(s, n, k, d);
            },
            [t](ElAES::ByteStream& s, std::uint32_t n, const ElAES::Key& k, ElAES::ByteStream& d) {
                t->decryptStream(s, n, k, d);
            }};
}

// What the rest of the plug-in calls: whichever path was chosen.
inline AesPath dispatchedPath() {
    // ElAES.h has no multi-block operation: the chosen table's own.
    const ElAES::ImplementationTable& chosen = *ElAES::implementationOf(ElAES::activeImplementation());
    const ElAES::ImplementationTable table = {ElAES::activeImplementation(),     "dispatched",
                                              ElAES::buildEncryptionSchedule,    ElAES::buildDecryptionSchedule,
                                              ElAES::encryptBlock,               ElAES::decryptBlock,
                                              chosen.encryptBlocks,              chosen.decryptBlocks,
                                              ElAES::encryptStreamWithSchedule, ElAES::decryptStreamWithSchedule};
    return {"dispatched", table, ElAES::encryptStream, ElAES::decryptStream};
}

inline std::vector<AesPath> allAesPaths() {
    std::vector<AesPath> paths;
    for (const ElAES::ImplementationTable* table : ElAES::availableImplementations()) paths.push_back(pathOf(*table));
    paths.push_back(dispatchedPath());
    return paths;
}

// True when this test run was asked to force the portable path
// (MISTLOCK_TEST_AES=portable; see aes_path_environment.cpp).
bool portableForcedForThisRun();

}  // namespace testsupport
