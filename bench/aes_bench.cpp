// AES-256 block and stream speed: this unit beside OpenSSL's table-based
// AES_encrypt/AES_decrypt and beside EVP aes-256-ecb (AES-NI when present).
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

// ---- Single blocks, each the input of the next ------------------------------

void mistlockEncryptBlock(benchmark::State& state) {
    ElAES::Schedule schedule;
    ElAES::buildEncryptionSchedule(kKey, schedule);
    ElAES::Block block{};
    for (auto _ : state) {
        ElAES::encryptBlock(block, schedule, block);
        benchmark::DoNotOptimize(block);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * 16);
}

void mistlockDecryptBlock(benchmark::State& state) {
    ElAES::Schedule schedule;
    ElAES::buildDecryptionSchedule(kKey, schedule);
    ElAES::Block block{};
    for (auto _ : state) {
        ElAES::decryptBlock(block, schedule, block);
        benchmark::DoNotOptimize(block);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * 16);
}

void opensslEncryptBlock(benchmark::State& state) {
    AES_KEY key;
    AES_set_encrypt_key(kKey.data(), 256, &key);
    unsigned char block[16] = {};
    for (auto _ : state) {
        AES_encrypt(block, block, &key);
        benchmark::DoNotOptimize(block);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * 16);
}

void opensslDecryptBlock(benchmark::State& state) {
    AES_KEY key;
    AES_set_decrypt_key(kKey.data(), 256, &key);
    unsigned char block[16] = {};
    for (auto _ : state) {
        AES_decrypt(block, block, &key);
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

// ---- Runs of bytes: key setup and the whole run per call -------------------
// The unit rebuilds its schedule on every stream call, so the others set up
// their key per call too.

void mistlockStream(benchmark::State& state, bool encrypt) {
    const std::size_t size = static_cast<std::size_t>(state.range(0));
    ElAES::MemoryStream source(pattern(size));
    ElAES::MemoryStream destination;
    destination.reserve(size);
    for (auto _ : state) {
        destination.SetPosition(0);
        if (encrypt) {
            ElAES::encryptStream(source, 0, kKey, destination);
        } else {
            ElAES::decryptStream(source, 0, kKey, destination);
        }
        benchmark::DoNotOptimize(destination.bytes().data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size));
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

void evpStream(benchmark::State& state, bool encrypt) {
    const std::size_t size = static_cast<std::size_t>(state.range(0));
    const std::string source = pattern(size);
    std::vector<unsigned char> destination(size + 16);
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    for (auto _ : state) {
        int n = 0;
        int tail = 0;
        EVP_CipherInit_ex(ctx, EVP_aes_256_ecb(), nullptr, kKey.data(), nullptr, encrypt ? 1 : 0);
        EVP_CIPHER_CTX_set_padding(ctx, 0);
        EVP_CipherUpdate(ctx, destination.data(), &n, reinterpret_cast<const unsigned char*>(source.data()),
                         static_cast<int>(size));
        EVP_CipherFinal_ex(ctx, destination.data() + n, &tail);
        benchmark::DoNotOptimize(destination.data());
    }
    EVP_CIPHER_CTX_free(ctx);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size));
}

void registerAll() {
    benchmark::RegisterBenchmark("encryptBlock/mistlock", mistlockEncryptBlock);
    benchmark::RegisterBenchmark("encryptBlock/openssl_AES_encrypt", opensslEncryptBlock);
    benchmark::RegisterBenchmark("encryptBlock/evp_aes_256_ecb", evpBlock, true);
    benchmark::RegisterBenchmark("decryptBlock/mistlock", mistlockDecryptBlock);
    benchmark::RegisterBenchmark("decryptBlock/openssl_AES_decrypt", opensslDecryptBlock);
    benchmark::RegisterBenchmark("decryptBlock/evp_aes_256_ecb", evpBlock, false);
    for (bool encrypt : {true, false}) {
        const std::string op = encrypt ? "encryptStream" : "decryptStream";
        auto* ours = benchmark::RegisterBenchmark((op + "/mistlock").c_str(), mistlockStream, encrypt);
        auto* table = benchmark::RegisterBenchmark(
            (op + (encrypt ? "/openssl_AES_encrypt" : "/openssl_AES_decrypt")).c_str(), opensslStream, encrypt);
        auto* evp = benchmark::RegisterBenchmark((op + "/evp_aes_256_ecb").c_str(), evpStream, encrypt);
        for (std::size_t size : kSizes) {
            ours->Arg(static_cast<std::int64_t>(size));
            table->Arg(static_cast<std::int64_t>(size));
            evp->Arg(static_cast<std::int64_t>(size));
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
