// The message path end to end: pluginFun with a message-to-send event (the
// envelope is built) and with a message-received event (the envelope is
// opened), as the messenger calls it, for messages of 63 B to 64 KiB, of
// lengths that are multiples of 16 and of lengths that are not. An earlier
// plug-in sealed a multiple of 16 with no zero fill; such envelopes still
// arrive, and have a benchmark of their own.
//
// Beside them, in the same run, the cipher alone on the same message: the
// stream routines as the envelope calls them, on the hardware path that the
// plug-in uses here (the widest: VAES where it runs, else AES-NI) and on the
// portable table path. scripts/bench.sh takes
// the cipher's share out of the end-to-end time to get the envelope's own
// work (hex, UTF-8, code-page steps, record framing, settings and key block).
//
//   send/<bytes>, receive/<bytes>                  through pluginFun
//   send_keyfile/<bytes>, receive_keyfile/<bytes>  the same with a key file
//   send_sealed/<bytes>, receive_sealed/<bytes>    the same with a sealed key file of
//                                                 that first line: sealed envelopes
//   receive_earlier/<bytes>                        an earlier plug-in's envelope
//                                                 of a multiple of 16 bytes
//   send_portable/<bytes>, receive_portable/<bytes> the same, table path forced
//   encryptStream/aesni|table/<bytes>             the cipher of one send
//   decryptStream/aesni|table/<bytes>             the cipher of one receipt
//   seal/<bytes>, open/<bytes>                    the envelope module alone
//                                                 (Windows-1251), cipher included
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>
#include <malloc.h>

#include "crypto/ElAES.h"
#include "crypto/aes_dispatch.h"
#include "crypto/memory_stream.h"
#include "envelope/envelope.h"
#include "host/plugin.h"
#include "tests/support/message_traffic.h"

namespace {

using message_traffic::kKey;
using message_traffic::message;
using message_traffic::Path;
using message_traffic::Records;

const std::size_t kSizes[] = {63, 64, 1000, 1024, 4095, 4096, 65535, 65536};

std::unique_ptr<message_traffic::Plugin> plugin;

// Distinct messages, 128 KiB of them in all (at least two), taken in turn:
// the same bytes again and again would let the branch predictor learn them,
// which flatters small messages, and no messenger sends one text all day.
std::vector<Records> messagesOfSize(std::size_t size) {
    const std::size_t count = std::max<std::size_t>(2, (128 * 1024) / size);
    std::vector<Records> all;
    for (std::size_t i = 0; i < count; ++i) all.push_back(plugin->recordsFor(size, static_cast<std::uint32_t>(i + 1)));
    return all;
}

void endToEnd(benchmark::State& state, Path path, bool portable) {
    const std::size_t size = static_cast<std::size_t>(state.range(0));
    ElAES::forcePortable(portable);
    const std::vector<Records> all = messagesOfSize(size);
    plugin->choose(path);
    std::size_t next = 0;
    for (auto _ : state) {
        const Records& records = all[next];
        next = next + 1 == all.size() ? 0 : next + 1;
        const void* reply = pluginFun(records.of(path).data());
        benchmark::DoNotOptimize(reply);
    }
    ElAES::forcePortable(false);
    plugin->choose(Path::Send);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size));
    state.SetLabel(ElAES::implementationName(portable ? ElAES::Implementation::Portable
                                                      : ElAES::activeImplementation()));
}

// The cipher as the envelope runs it: the message after a 4-byte prefix on
// sending; the ciphertext after the prefix into an empty stream on receipt.
void cipher(benchmark::State& state, bool encrypt, bool portable) {
    const std::size_t size = static_cast<std::size_t>(state.range(0));
    if (!portable && !ElAES::implementationOf(ElAES::Implementation::AesNi)) {
        state.SkipWithError("no AES-NI path on this build or processor");
        return;
    }
    // The portable path through its table; otherwise the functions of ElAES.h,
    // on the hardware path chosen, as the envelope calls them.
    const auto encryptStream = [portable](ElAES::ByteStream& source, std::uint32_t count, const ElAES::Key& key,
                                          ElAES::ByteStream& destination) {
        if (portable) return ElAES::portableImplementation().encryptStream(source, count, key, destination);
        ElAES::encryptStream(source, count, key, destination);
    };
    const auto decryptStream = [portable](ElAES::ByteStream& source, std::uint32_t count, const ElAES::Key& key,
                                          ElAES::ByteStream& destination) {
        if (portable) return ElAES::portableImplementation().decryptStream(source, count, key, destination);
        ElAES::decryptStream(source, count, key, destination);
    };
    const std::size_t padded = (size + 15) / 16 * 16;
    ElAES::MemoryStream plain(message(size));
    ElAES::MemoryStream sealed(std::string(4, '\0'));
    sealed.SetPosition(4);
    encryptStream(plain, 0, kKey, sealed);
    ElAES::MemoryStream opened;
    opened.reserve(padded);
    for (auto _ : state) {
        if (encrypt) {
            sealed.SetPosition(4);
            encryptStream(plain, 0, kKey, sealed);
        } else {
            sealed.SetPosition(4);
            opened.SetPosition(0);
            decryptStream(sealed, static_cast<std::uint32_t>(padded), kKey, opened);
        }
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size));
    state.SetLabel(ElAES::implementationName(portable ? ElAES::Implementation::Portable
                                                      : ElAES::activeImplementation()));
}

// The envelope module alone, without the plug-in around it: seal a message
// (cipher included), or open the text after the marker (cipher included).
void envelopeAlone(benchmark::State& state, bool seal) {
    const std::size_t size = static_cast<std::size_t>(state.range(0));
    const std::size_t count = std::max<std::size_t>(2, (128 * 1024) / size);
    std::vector<std::string> messages, hexTexts;
    for (std::size_t i = 0; i < count; ++i) {
        messages.push_back(message(size, static_cast<std::uint32_t>(i + 1)));
        hexTexts.push_back(envelope::seal(messages.back(), kKey, 1251).substr(envelope::marker.size()));
    }
    std::size_t next = 0;
    for (auto _ : state) {
        if (seal) {
            benchmark::DoNotOptimize(envelope::seal(messages[next], kKey, 1251));
        } else {
            benchmark::DoNotOptimize(envelope::open(hexTexts[next], kKey, 1251));
        }
        next = next + 1 == count ? 0 : next + 1;
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size));
}

void registerAll() {
    auto* earlier = benchmark::RegisterBenchmark("receive_earlier", endToEnd, Path::ReceiveEarlier, false);
    for (std::size_t size : kSizes) {
        if (size % 16 == 0) earlier->Arg(static_cast<std::int64_t>(size));
    }
    for (bool send : {true, false}) {
        const std::string op = send ? "send" : "receive";
        const Path path = send ? Path::Send : Path::Receive;
        auto* hw = benchmark::RegisterBenchmark(op.c_str(), endToEnd, path, false);
        auto* table = benchmark::RegisterBenchmark((op + "_portable").c_str(), endToEnd, path, true);
        auto* c = benchmark::RegisterBenchmark((send ? "encryptStream/aesni" : "decryptStream/aesni"), cipher, send,
                                               false);
        auto* ct = benchmark::RegisterBenchmark((send ? "encryptStream/table" : "decryptStream/table"), cipher, send,
                                                true);
        auto* alone = benchmark::RegisterBenchmark((send ? "seal" : "open"), envelopeAlone, send);
        const Path keyFilePath = send ? Path::SendKeyFile : Path::ReceiveKeyFile;
        const Path sealedPath = send ? Path::SendSealed : Path::ReceiveSealed;
        auto* keyFile = benchmark::RegisterBenchmark((op + "_keyfile").c_str(), endToEnd, keyFilePath, false);
        auto* sealed = benchmark::RegisterBenchmark((op + "_sealed").c_str(), endToEnd, sealedPath, false);
        auto* sealedTable = benchmark::RegisterBenchmark((op + "_sealed_portable").c_str(), endToEnd, sealedPath, true);
        for (std::size_t size : kSizes) {
            for (auto* b : {hw, table, c, ct, alone, keyFile, sealed, sealedTable}) {
                b->Arg(static_cast<std::int64_t>(size));
            }
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    // glibc gives the top of its heap back to the system once enough of it
    // is free, and takes it again at the next large string: whether a 64 KiB
    // message pays for that every time then hangs on which records happen to
    // lie where, not on the code. Fixed thresholds keep the heap as the
    // messenger's long-lived process would have it.
    mallopt(M_TRIM_THRESHOLD, 256 << 20);
    mallopt(M_MMAP_THRESHOLD, 32 << 20);
    registerAll();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    try {
        plugin = std::make_unique<message_traffic::Plugin>();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "message_bench: %s\n", e.what());
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    plugin.reset();
    benchmark::Shutdown();
    return 0;
}
