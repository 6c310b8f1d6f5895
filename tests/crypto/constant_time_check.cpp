// Evidence that the AES-instruction paths take the same path through the code
// and touch the same addresses whatever the key and the data: run under
// valgrind's memcheck with the key, the key text and the plaintext marked as
// undefined, every branch and every address that depends on them is an error
// ("Conditional jump or move depends on uninitialised value(s)", "Use of
// uninitialised value of size 8"). GCM's hash key and its powers, the tags and
// the outcome of their comparison all derive from the key, so they are
// undefined too: opening must not branch on whether the tag matched (the
// check itself reads the outcome only after marking it defined).
//
//   constant_time_check hardware   every instruction path that runs here (and
//                                  under valgrind), GCM on each, the portable
//                                  GCM hash alone, and the key block from a
//                                  key text: no error may be reported
//   constant_time_check portable   the table path and GCM over it: each of
//                                  their stages must be reported, which shows
//                                  the check can fail
//
// Without valgrind there is nothing to see: the program says so and exits 77,
// which CTest counts as skipped. Nothing secret is printed: the results are
// only ever compared with each other after being marked defined again.
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <valgrind/memcheck.h>

#include "crypto/ElAES.h"
#include "crypto/aes_dispatch.h"
#include "crypto/gcm.h"
#include "crypto/memory_stream.h"
#include "tests/crypto/test_streams.h"
#if MISTLOCK_CHECK_KEY_BLOCK
#include "envelope/key_block.h"
#endif

namespace {

constexpr int kSkip = 77;

template <typename T>
void secret(T* memory, std::size_t bytes) {
    VALGRIND_MAKE_MEM_UNDEFINED(memory, bytes);
}

// The errors memcheck has reported so far.
unsigned errorsSoFar() { return VALGRIND_COUNT_ERRORS; }

struct Stage {
    std::string name;
    unsigned errors;
};

// Every operation of one table with a secret key and secret data: schedules,
// single blocks, the multi-block operation, and the stream routines both on
// memory streams (the bulk path) and on a stream that lends nothing (block by
// block), at sizes that reach every group size and a partial last block.
std::vector<Stage> exercise(const ElAES::ImplementationTable& table) {
    std::vector<Stage> stages;
    auto stage = [&](const char* name, auto&& run) {
        const unsigned before = errorsSoFar();
        run();
        stages.push_back({std::string(table.name) + " " + name, errorsSoFar() - before});
    };
    ElAES::Key key{};
    secret(key.data(), key.size());
    ElAES::Schedule encryption, decryption;
    stage("key schedules", [&] {
        table.buildEncryptionSchedule(key, encryption);
        table.buildDecryptionSchedule(key, decryption);
    });
    stage("single blocks", [&] {
        ElAES::Block block{}, out{};
        secret(block.data(), block.size());
        table.encryptBlock(block, encryption, out);
        table.decryptBlock(out, decryption, block);
    });
    stage("multi-block operation", [&] {
        std::vector<std::uint8_t> data(16 * 47), out(data.size());
        secret(data.data(), data.size());
        for (std::size_t blocks : {1u, 2u, 3u, 7u, 8u, 12u, 15u, 16u, 31u, 32u, 47u}) {
            table.encryptBlocks(data.data(), out.data(), blocks, encryption);
            table.decryptBlocks(out.data(), data.data(), blocks, decryption);
        }
    });
    stage("streams in memory", [&] {
        for (std::size_t size : {1u, 16u, 100u, 4101u}) {
            std::string plain(size, '\0');
            secret(&plain[0], plain.size());
            ElAES::MemoryStream source(plain), sealed, opened;
            table.encryptStream(source, 0, key, sealed);
            table.decryptStreamWithSchedule(sealed, 0, decryption, opened);
        }
    });
    stage("streams block by block", [&] {
        std::string plain(100, '\0');
        secret(&plain[0], plain.size());
        testsupport::RecordingStream source(plain), sealed;
        table.encryptStreamWithSchedule(source, 0, encryption, sealed);
        testsupport::RecordingStream again(sealed.bytes()), opened;
        table.decryptStream(again, 0, key, opened);
    });
    return stages;
}

// GCM on one table: the key (schedule, hash key, powers), sealing and opening
// at sizes that reach every run shape, with a 12-byte nonce and with one that
// is hashed, and opening with the right tag and a wrong one.
std::vector<Stage> exerciseGcm(const ElAES::gcm::GcmTable& table) {
    std::vector<Stage> stages;
    auto stage = [&](const char* name, auto&& run) {
        const unsigned before = errorsSoFar();
        run();
        stages.push_back({std::string("gcm ") + table.name + " " + name, errorsSoFar() - before});
    };
    ElAES::Key key{};
    secret(key.data(), key.size());
    std::unique_ptr<ElAES::GcmKey> gcm;
    stage("key, hash key and powers", [&] { gcm = std::make_unique<ElAES::GcmKey>(key, table); });
    const std::string nonces[] = {std::string(12, 'n'), std::string(20, 'n')};
    const std::size_t sizes[] = {0, 1, 16, 100, 128, 200, 512, 1040, 4101};
    std::vector<std::uint8_t> plain(4101), sealed(plain.size()), opened(plain.size());
    std::uint8_t tag[16];
    stage("seal", [&] {
        for (const std::string& nonce : nonces) {
            for (std::size_t size : sizes) {
                secret(plain.data(), size);
                gcm->seal(nonce, "associated", plain.data(), size, sealed.data(), tag);
            }
        }
    });
    stage("open, the tag compared", [&] {
        for (const std::string& nonce : nonces) {
            for (std::size_t size : sizes) {
                secret(plain.data(), size);
                gcm->seal(nonce, "associated", plain.data(), size, sealed.data(), tag);
                for (int wrong = 0; wrong < 2; ++wrong) {
                    tag[15] = static_cast<std::uint8_t>(tag[15] ^ wrong);
                    bool matched = gcm->open(nonce, "associated", sealed.data(), size, tag, 16, opened.data());
                    VALGRIND_MAKE_MEM_DEFINED(&matched, sizeof matched);
                    if (matched == (wrong != 0)) std::printf("gcm %s: the tag comparison is wrong\n", table.name);
                }
            }
        }
    });
    return stages;
}

// The portable GCM hash alone (its cipher is the table path, above), with a
// secret hash key and secret data, and its masking of an output.
Stage exercisePortableHash() {
    const unsigned before = errorsSoFar();
    const ElAES::gcm::GcmTable& table = ElAES::gcm::portableGcm();
    auto material = std::make_unique<ElAES::gcm::KeyMaterial>();
    secret(material.get(), sizeof *material);
    std::vector<std::uint8_t> data(16 * 40);
    secret(data.data(), data.size());
    ElAES::gcm::FieldElement hash{0, 0};
    table.extendPowers(*material);
    table.hashBlocks(*material, data.data(), 40, hash);
    std::uint64_t mask = 0;
    secret(&mask, sizeof mask);
    table.keepUnder(data.data(), data.size(), mask);
    return {"gcm portable hash alone", errorsSoFar() - before};
}

int report(const std::vector<Stage>& stages, bool errorsWanted) {
    int failures = 0;
    for (const Stage& s : stages) {
        const bool ok = errorsWanted ? s.errors > 0 : s.errors == 0;
        std::printf("%-44s %5u memcheck errors  %s\n", s.name.c_str(), s.errors, ok ? "as expected" : "WRONG");
        failures += ok ? 0 : 1;
    }
    return failures == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode != "hardware" && mode != "portable") {
        std::fprintf(stderr, "usage: constant_time_check hardware|portable (under valgrind)\n");
        return 2;
    }
    if (!RUNNING_ON_VALGRIND) {
        std::printf("not under valgrind: nothing to check\n");
        return kSkip;
    }
    std::vector<Stage> stages;
    if (mode == "portable") {
        stages = exercise(ElAES::portableImplementation());
        const std::vector<Stage> gcm = exerciseGcm(ElAES::gcm::portableGcm());
        stages.insert(stages.end(), gcm.begin(), gcm.end());
        return report(stages, true);
    }
    for (const ElAES::ImplementationTable* table : ElAES::availableImplementations()) {
        if (table->kind == ElAES::Implementation::Portable) continue;
        const std::vector<Stage> more = exercise(*table);
        stages.insert(stages.end(), more.begin(), more.end());
    }
    for (const ElAES::gcm::GcmTable* table : ElAES::gcm::availableGcmImplementations()) {
        if (table->kind == ElAES::Implementation::Portable) continue;
        const std::vector<Stage> more = exerciseGcm(*table);
        stages.insert(stages.end(), more.begin(), more.end());
    }
    if (stages.empty()) {
        std::printf("no AES-instruction path runs here (under valgrind): nothing to check\n");
        return kSkip;
    }
#if MISTLOCK_CHECK_KEY_BLOCK
    // The key block from a key text of each length: the length may show, the
    // characters may not.
    const unsigned before = errorsSoFar();
    for (std::size_t length = 0; length <= 40; ++length) {
        std::u16string text(length, u'\0');
        secret(&text[0], text.size() * sizeof(char16_t));
        const ElAES::SecretKey key = envelope::keyBlockFromText(text);
        ElAES::MemoryStream source(std::string(64, 'x')), sealed;
        ElAES::encryptStream(source, 0, key, sealed);
    }
    stages.push_back({"key block from a key text of 0 to 40 units", errorsSoFar() - before});
#endif
    stages.push_back(exercisePortableHash());
    std::printf("paths checked:");
    for (const ElAES::ImplementationTable* table : ElAES::availableImplementations()) {
        if (table->kind != ElAES::Implementation::Portable) std::printf(" %s", table->name);
    }
    std::printf("; GCM:");
    for (const ElAES::gcm::GcmTable* table : ElAES::gcm::availableGcmImplementations()) {
        if (table->kind != ElAES::Implementation::Portable) std::printf(" %s", table->name);
    }
    std::printf("\n");
    return report(stages, false);
}
