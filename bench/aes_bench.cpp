// AES-256 block and stream speed of both paths of this unit beside OpenSSL:
//
//   aesni    the functions of ElAES.h with the AES-NI path forced (twelve
//            blocks in flight where the streams lend their memory)
//   chosen   the functions of ElAES.h on the path this processor gets (the
//            widest: VAES on ZMM or YMM registers where it runs); streams only
//   table    the portable table path, through its table (portableImplementation())
//   openssl_AES_encrypt / openssl_AES_decrypt
//            OpenSSL's table-based low-level AES, one block per call
//   evp_aes_256_ecb
//            EVP with AES-NI: single blocks one call each, and whole buffers
//            in one call (interleaved blocks: the hardware's limit)
//   evp_per_block
//            EVP over a buffer one 16-byte call at a time
//
// AES-256-GCM (gcmSeal, gcmOpen) on each GCM table that runs here (table,
// aesni, vaes256, vaes512) and the one chosen, beside EVP aes-256-gcm: the
// key set up, a 12-byte nonce, 16 bytes of associated data, the whole buffer
// and the tag, every call.
//
// Names are "<operation>/<implementation>[/<bytes>]"; scripts/bench.sh pairs
// them up and prints the ratios.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>
#include <openssl/aes.h>
#include <openssl/evp.h>

#include "crypto/ElAES.h"
#include "crypto/aes_dispatch.h"
#include "crypto/gcm.h"
#include "crypto/memory_stream.h"

// The low-level AES_* functions are deprecated in OpenSSL 3 but are exactly
// the table-based implementation to compare with.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"

namespace {

const ElAES::Key kKey = {0x60, 0x3d, 0xeb, 0x10, 0x15, 0xca, 0x71, 0xbe, 0x2b, 0x73, 0xae, 0xf0, 0x85, 0x7d, 0x77, 0x81,
                         0x1f, 0x35, 0x2c, 0x07, 0x3b, 0x61, 0x08, 0xd7, 0x2d, 0x98, 0x10, 0xa3, 0x09, 0x14, 0xdf, 0xf4};

const std::size_t kSizes[] = {16, 64, 256, 1024, 4096, 16384, 65536};

std::string pattern(std::size_t n) {
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>(i * 31 + 7);
    return s;
}

// The functions of ElAES.h run on the AES-NI path, or the benchmark says why
// it cannot run.
bool hardwareActive(benchmark::State& state) {
    if (!ElAES::forceImplementation(ElAES::Implementation::AesNi)) {
        state.SkipWithError("no AES-NI path on this build or processor");
        return false;
    }
    return true;
}

using ScheduleBuilder = void (*)(const ElAES::Key&, ElAES::Schedule&);
using BlockOperation = void (*)(const ElAES::Block&, const ElAES::Schedule&, ElAES::Block&);
using StreamRoutine = void (*)(ElAES::ByteStream&, std::uint32_t, const ElAES::Key&, ElAES::ByteStream&);

// ---- Single blocks, each the input of the next ------------------------------
// Latency: every call waits for the one before.

void ourBlock(benchmark::State& state, ScheduleBuilder build, BlockOperation operation) {
    ElAES::Schedule schedule;
    build(kKey, schedule);
    ElAES::Block block{};
    for (auto _ : state) {
        operation(block, schedule, block);
        benchmark::DoNotOptimize(block);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * 16);
}

void aesniBlock(benchmark::State& state, bool encrypt) {
    if (!hardwareActive(state)) return;
    if (encrypt) {
        ourBlock(state, ElAES::buildEncryptionSchedule, ElAES::encryptBlock);
    } else {
        ourBlock(state, ElAES::buildDecryptionSchedule, ElAES::decryptBlock);
    }
}

void tableBlock(benchmark::State& state, bool encrypt) {
    const ElAES::ImplementationTable& portable = ElAES::portableImplementation();
    if (encrypt) {
        ourBlock(state, portable.buildEncryptionSchedule, portable.encryptBlock);
    } else {
        ourBlock(state, portable.buildDecryptionSchedule, portable.decryptBlock);
    }
}

void opensslBlock(benchmark::State& state, bool encrypt) {
    AES_KEY key;
    if (encrypt) {
        AES_set_encrypt_key(kKey.data(), 256, &key);
    } else {
        AES_set_decrypt_key(kKey.data(), 256, &key);
    }
    unsigned char block[16] = {};
    for (auto _ : state) {
        if (encrypt) {
            AES_encrypt(block, block, &key);
        } else {
            AES_decrypt(block, block, &key);
        }
        benchmark::DoNotOptimize(block);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * 16);
}

void evpBlock(benchmark::State& state, bool encrypt) {
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    EVP_CipherInit_ex(ctx, EVP_aes_256_ecb(), nullptr, kKey.data(), nullptr, encrypt ? 1 : 0);
    EVP_CIPHER_CTX_set_padding(ctx, 0);
    unsigned char block[16] = {};
    int n = 0;
    for (auto _ : state) {
        EVP_CipherUpdate(ctx, block, &n, block, 16);
        benchmark::DoNotOptimize(block);
    }
    EVP_CIPHER_CTX_free(ctx);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * 16);
}

// ---- Single blocks, independent of each other ------------------------------
// One call per block over a ring of 256 distinct blocks, as a caller doing ECB
// one block at a time would: throughput rather than latency.

constexpr std::size_t kRing = 256;

struct Ring {
    std::vector<ElAES::Block> input = std::vector<ElAES::Block>(kRing);
    std::vector<ElAES::Block> output = std::vector<ElAES::Block>(kRing);
    Ring() {
        for (std::size_t i = 0; i < kRing; ++i) {
            for (std::size_t j = 0; j < 16; ++j) input[i][j] = static_cast<std::uint8_t>(i * 16 + j * 7);
        }
    }
};

void ourIndependent(benchmark::State& state, ScheduleBuilder build, BlockOperation operation) {
    ElAES::Schedule schedule;
    build(kKey, schedule);
    Ring ring;
    std::size_t i = 0;
    for (auto _ : state) {
        operation(ring.input[i], schedule, ring.output[i]);
        benchmark::DoNotOptimize(ring.output[i]);
        i = (i + 1) % kRing;
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * 16);
}

void aesniIndependent(benchmark::State& state, bool encrypt) {
    if (!hardwareActive(state)) return;
    if (encrypt) {
        ourIndependent(state, ElAES::buildEncryptionSchedule, ElAES::encryptBlock);
    } else {
        ourIndependent(state, ElAES::buildDecryptionSchedule, ElAES::decryptBlock);
    }
}

void tableIndependent(benchmark::State& state, bool encrypt) {
    const ElAES::ImplementationTable& portable = ElAES::portableImplementation();
    if (encrypt) {
        ourIndependent(state, portable.buildEncryptionSchedule, portable.encryptBlock);
    } else {
        ourIndependent(state, portable.buildDecryptionSchedule, portable.decryptBlock);
    }
}

void opensslIndependent(benchmark::State& state, bool encrypt) {
    AES_KEY key;
    if (encrypt) {
        AES_set_encrypt_key(kKey.data(), 256, &key);
    } else {
        AES_set_decrypt_key(kKey.data(), 256, &key);
    }
    Ring ring;
    std::size_t i = 0;
    for (auto _ : state) {
        if (encrypt) {
            AES_encrypt(ring.input[i].data(), ring.output[i].data(), &key);
        } else {
            AES_decrypt(ring.input[i].data(), ring.output[i].data(), &key);
        }
        benchmark::DoNotOptimize(ring.output[i]);
        i = (i + 1) % kRing;
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * 16);
}

void evpIndependent(benchmark::State& state, bool encrypt) {
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    EVP_CipherInit_ex(ctx, EVP_aes_256_ecb(), nullptr, kKey.data(), nullptr, encrypt ? 1 : 0);
    EVP_CIPHER_CTX_set_padding(ctx, 0);
    Ring ring;
    std::size_t i = 0;
    int n = 0;
    for (auto _ : state) {
        EVP_CipherUpdate(ctx, ring.output[i].data(), &n, ring.input[i].data(), 16);
        benchmark::DoNotOptimize(ring.output[i]);
        i = (i + 1) % kRing;
    }
    EVP_CIPHER_CTX_free(ctx);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * 16);
}

// ---- Runs of bytes: key setup and the whole run per call -------------------
// The unit rebuilds its schedule on every stream call, so the others set up
// their key per call too.

void ourStream(benchmark::State& state, StreamRoutine routine) {
    const std::size_t size = static_cast<std::size_t>(state.range(0));
    ElAES::MemoryStream source(pattern(size));
    ElAES::MemoryStream destination;
    destination.reserve(size);
    for (auto _ : state) {
        destination.SetPosition(0);
        routine(source, 0, kKey, destination);
        benchmark::DoNotOptimize(destination.bytes().data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size));
}

void aesniStream(benchmark::State& state, bool encrypt) {
    if (!hardwareActive(state)) return;
    ourStream(state, encrypt ? ElAES::encryptStream : ElAES::decryptStream);
}

void chosenStream(benchmark::State& state, bool encrypt) {
    ElAES::forcePortable(false);
    state.SetLabel(ElAES::implementationName(ElAES::activeImplementation()));
    ourStream(state, encrypt ? ElAES::encryptStream : ElAES::decryptStream);
}

void portableEncryptStream(ElAES::ByteStream& source, std::uint32_t count, const ElAES::Key& key,
                           ElAES::ByteStream& destination) {
    ElAES::portableImplementation().encryptStream(source, count, key, destination);
}

void portableDecryptStream(ElAES::ByteStream& source, std::uint32_t count, const ElAES::Key& key,
                           ElAES::ByteStream& destination) {
    ElAES::portableImplementation().decryptStream(source, count, key, destination);
}

void tableStream(benchmark::State& state, bool encrypt) {
    ourStream(state, encrypt ? portableEncryptStream : portableDecryptStream);
}

void opensslStream(benchmark::State& state, bool encrypt) {
    const std::size_t size = static_cast<std::size_t>(state.range(0));
    const std::string source = pattern(size);
    std::vector<unsigned char> destination(size);
    for (auto _ : state) {
        AES_KEY key;
        if (encrypt) {
            AES_set_encrypt_key(kKey.data(), 256, &key);
        } else {
            AES_set_decrypt_key(kKey.data(), 256, &key);
        }
        const auto* in = reinterpret_cast<const unsigned char*>(source.data());
        for (std::size_t at = 0; at < size; at += 16) {
            if (encrypt) {
                AES_encrypt(in + at, destination.data() + at, &key);
            } else {
                AES_decrypt(in + at, destination.data() + at, &key);
            }
        }
        benchmark::DoNotOptimize(destination.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size));
}

// EVP on the whole buffer in one call (perBlock false), or one call per block.
void evpStream(benchmark::State& state, bool encrypt, bool perBlock) {
    const std::size_t size = static_cast<std::size_t>(state.range(0));
    const std::string source = pattern(size);
    const auto* in = reinterpret_cast<const unsigned char*>(source.data());
    std::vector<unsigned char> destination(size + 16);
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    for (auto _ : state) {
        int n = 0;
        int tail = 0;
        EVP_CipherInit_ex(ctx, EVP_aes_256_ecb(), nullptr, kKey.data(), nullptr, encrypt ? 1 : 0);
        EVP_CIPHER_CTX_set_padding(ctx, 0);
        if (perBlock) {
            for (std::size_t at = 0; at < size; at += 16) {
                EVP_CipherUpdate(ctx, destination.data() + at, &n, in + at, 16);
            }
        } else {
            EVP_CipherUpdate(ctx, destination.data(), &n, in, static_cast<int>(size));
        }
        EVP_CipherFinal_ex(ctx, destination.data() + size, &tail);
        benchmark::DoNotOptimize(destination.data());
    }
    EVP_CIPHER_CTX_free(ctx);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size));
}

// ---- AES-256-GCM: key setup, nonce, associated data, the buffer, the tag -----

const unsigned char kNonce[12] = {0xca, 0xfe, 0xba, 0xbe, 0xfa, 0xce, 0xdb, 0xad, 0xde, 0xca, 0xf8, 0x88};
const unsigned char kAssociated[16] = {0xfe, 0xed, 0xfa, 0xce, 0xde, 0xad, 0xbe, 0xef};
const std::string_view kNonceView(reinterpret_cast<const char*>(kNonce), sizeof kNonce);
const std::string_view kAssociatedView(reinterpret_cast<const char*>(kAssociated), sizeof kAssociated);

// A tag that opens the pattern of `size` bytes under the key and nonce, and
// its ciphertext (made by EVP, so that both sides open the same bytes).
std::vector<unsigned char> evpSealed(std::size_t size, unsigned char tag[16]) {
    const std::string plain = pattern(size);
    std::vector<unsigned char> sealed(size);
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    int n = 0;
    EVP_EncryptInit_ex(ctx, EVP_aes_256_gcm(), nullptr, kKey.data(), kNonce);
    EVP_EncryptUpdate(ctx, nullptr, &n, kAssociated, sizeof kAssociated);
    EVP_EncryptUpdate(ctx, sealed.data(), &n, reinterpret_cast<const unsigned char*>(plain.data()),
                      static_cast<int>(size));
    EVP_EncryptFinal_ex(ctx, sealed.data() + size, &n);
    EVP_CIPHER_CTX_ctrl(ctx, EVP_CTRL_GCM_GET_TAG, 16, tag);
    EVP_CIPHER_CTX_free(ctx);
    return sealed;
}

// table null: the path GcmKey chooses.
void ourGcm(benchmark::State& state, bool sealing, const ElAES::gcm::GcmTable* table) {
    if (table == nullptr) {
        ElAES::forcePortable(false);
        state.SetLabel(ElAES::gcm::chosenGcm().name);
    }
    const std::size_t size = static_cast<std::size_t>(state.range(0));
    unsigned char tag[16];
    const std::vector<unsigned char> sealed = evpSealed(size, tag);
    const std::string plain = pattern(size);
    const auto* in = sealing ? reinterpret_cast<const unsigned char*>(plain.data()) : sealed.data();
    std::vector<unsigned char> out(size);
    unsigned char ourTag[16];
    bool opened = true;
    for (auto _ : state) {
        const ElAES::GcmKey key = table ? ElAES::GcmKey(kKey, *table) : ElAES::GcmKey(kKey);
        if (sealing) {
            key.seal(kNonceView, kAssociatedView, in, size, out.data(), ourTag);
        } else {
            opened &= key.open(kNonceView, kAssociatedView, in, size, tag, 16, out.data());
        }
        benchmark::DoNotOptimize(out.data());
    }
    if (!opened) state.SkipWithError("the tag did not match");
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size));
}

void gcmOnPath(benchmark::State& state, bool sealing, ElAES::Implementation kind) {
    const ElAES::gcm::GcmTable* table = ElAES::gcm::gcmImplementationOf(kind);
    if (table == nullptr) {
        state.SkipWithError("no such GCM path on this build or processor");
        return;
    }
    ourGcm(state, sealing, table);
}

void gcmChosen(benchmark::State& state, bool sealing) { ourGcm(state, sealing, nullptr); }

void evpGcm(benchmark::State& state, bool sealing) {
    const std::size_t size = static_cast<std::size_t>(state.range(0));
    unsigned char tag[16];
    const std::vector<unsigned char> sealed = evpSealed(size, tag);
    const std::string plain = pattern(size);
    const auto* in = sealing ? reinterpret_cast<const unsigned char*>(plain.data()) : sealed.data();
    std::vector<unsigned char> out(size + 16);
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    bool opened = true;
    for (auto _ : state) {
        int n = 0;
        EVP_CipherInit_ex(ctx, EVP_aes_256_gcm(), nullptr, kKey.data(), kNonce, sealing ? 1 : 0);
        EVP_CipherUpdate(ctx, nullptr, &n, kAssociated, sizeof kAssociated);
        EVP_CipherUpdate(ctx, out.data(), &n, in, static_cast<int>(size));
        if (sealing) {
            EVP_CipherFinal_ex(ctx, out.data() + size, &n);
            EVP_CIPHER_CTX_ctrl(ctx, EVP_CTRL_GCM_GET_TAG, 16, tag);
        } else {
            EVP_CIPHER_CTX_ctrl(ctx, EVP_CTRL_GCM_SET_TAG, 16, tag);
            opened &= EVP_CipherFinal_ex(ctx, out.data() + size, &n) == 1;
        }
        benchmark::DoNotOptimize(out.data());
    }
    EVP_CIPHER_CTX_free(ctx);
    if (!opened) state.SkipWithError("the tag did not match");
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size));
}

void registerAll() {
    for (bool encrypt : {true, false}) {
        const std::string op = encrypt ? "encryptBlock" : "decryptBlock";
        const std::string table = encrypt ? "/openssl_AES_encrypt" : "/openssl_AES_decrypt";
        benchmark::RegisterBenchmark((op + "/aesni").c_str(), aesniBlock, encrypt);
        benchmark::RegisterBenchmark((op + "/evp_aes_256_ecb").c_str(), evpBlock, encrypt);
        benchmark::RegisterBenchmark((op + "/table").c_str(), tableBlock, encrypt);
        benchmark::RegisterBenchmark((op + table).c_str(), opensslBlock, encrypt);
    }
    for (bool encrypt : {true, false}) {
        const std::string op = encrypt ? "encryptBlockIndependent" : "decryptBlockIndependent";
        const std::string table = encrypt ? "/openssl_AES_encrypt" : "/openssl_AES_decrypt";
        benchmark::RegisterBenchmark((op + "/aesni").c_str(), aesniIndependent, encrypt);
        benchmark::RegisterBenchmark((op + "/evp_aes_256_ecb").c_str(), evpIndependent, encrypt);
        benchmark::RegisterBenchmark((op + "/table").c_str(), tableIndependent, encrypt);
        benchmark::RegisterBenchmark((op + table).c_str(), opensslIndependent, encrypt);
    }
    for (bool encrypt : {true, false}) {
        const std::string op = encrypt ? "encryptStream" : "decryptStream";
        const std::string table = encrypt ? "/openssl_AES_encrypt" : "/openssl_AES_decrypt";
        benchmark::internal::Benchmark* all[] = {
            benchmark::RegisterBenchmark((op + "/aesni").c_str(), aesniStream, encrypt),
            benchmark::RegisterBenchmark((op + "/chosen").c_str(), chosenStream, encrypt),
            benchmark::RegisterBenchmark((op + "/table").c_str(), tableStream, encrypt),
            benchmark::RegisterBenchmark((op + table).c_str(), opensslStream, encrypt),
            benchmark::RegisterBenchmark((op + "/evp_aes_256_ecb").c_str(), evpStream, encrypt, false),
            benchmark::RegisterBenchmark((op + "/evp_per_block").c_str(), evpStream, encrypt, true),
        };
        for (auto* b : all) {
            for (std::size_t size : kSizes) b->Arg(static_cast<std::int64_t>(size));
        }
    }
    for (bool sealing : {true, false}) {
        const std::string op = sealing ? "gcmSeal" : "gcmOpen";
        benchmark::internal::Benchmark* all[] = {
            benchmark::RegisterBenchmark((op + "/table").c_str(), gcmOnPath, sealing, ElAES::Implementation::Portable),
            benchmark::RegisterBenchmark((op + "/aesni").c_str(), gcmOnPath, sealing, ElAES::Implementation::AesNi),
            benchmark::RegisterBenchmark((op + "/vaes256").c_str(), gcmOnPath, sealing, ElAES::Implementation::Vaes256),
            benchmark::RegisterBenchmark((op + "/vaes512").c_str(), gcmOnPath, sealing, ElAES::Implementation::Vaes512),
            benchmark::RegisterBenchmark((op + "/chosen").c_str(), gcmChosen, sealing),
            benchmark::RegisterBenchmark((op + "/evp_aes_256_gcm").c_str(), evpGcm, sealing),
        };
        for (auto* b : all) {
            for (std::size_t size : {64, 1024, 65536}) b->Arg(static_cast<std::int64_t>(size));
        }
    }
}

}  // namespace

#pragma GCC diagnostic pop

int main(int argc, char** argv) {
    registerAll();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
