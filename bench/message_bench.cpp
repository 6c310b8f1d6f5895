// The message path end to end: pluginFun with a message-to-send event (the
// envelope is built) and with a message-received event (the envelope is
// opened), as the messenger calls it, for messages of 64 B to 64 KiB.
//
// Beside them, in the same run, the cipher alone on the same message: the
// stream routines as the envelope calls them, on the hardware path that the
// plug-in uses here (the widest: VAES where it runs, else AES-NI) and on the
// portable table path. scripts/bench.sh takes
// the cipher's share out of the end-to-end time to get the envelope's own
// work (hex, UTF-8, code-page steps, record framing, settings and key block).
//
//   send/<bytes>, receive/<bytes>                  through pluginFun
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

#include "crypto/ElAES.h"
#include "crypto/aes_dispatch.h"
#include "crypto/memory_stream.h"
#include "envelope/envelope.h"
#include "host/plugin.h"
#include "tests/support/test_messenger.h"
#include "tests/support/records.h"

namespace {

const std::int32_t kUin = 12345;
const std::size_t kSizes[] = {64, 1024, 4096, 65536};

// The key block of the password "secret": its first 6 UTF-16LE bytes.
const ElAES::Key kKey = {0x73, 0x00, 0x65, 0x00, 0x63, 0x00};

// A message of n bytes in Windows-1251: Cyrillic and Latin words, digits and
// punctuation, from a pseudo-random sequence fixed by the seed.
std::string message(std::size_t n, std::uint32_t seed = 1) {
    static const char* const words[] = {"\xcf\xf0\xe8\xe2\xe5\xf2", "hello", "\xec\xe8\xf0", "2024", "\xe4\xe0",
                                        "world", "\xea\xeb\xfe\xf7", "OK", "\xf1\xee\xee\xe1\xf9\xe5\xed\xe8\xe5"};
    static const char* const gaps[] = {" ", ", ", ". ", "! ", "\r\n"};
    std::string text;
    std::uint32_t x = 12345 + 7919 * seed;
    while (text.size() < n) {
        x = x * 1103515245u + 12345u;
        text += words[(x >> 16) % 9];
        text += gaps[(x >> 8) % 5];
    }
    text.resize(n);
    return text;
}

struct Fixture {
    test_messenger::TempFolder folder;
    test_messenger::TestMessenger plugin;
};
std::unique_ptr<Fixture> fixture;

struct Records {
    std::string send;
    std::string receive;
};

// The event records for one message: the message to send, and the envelope
// that sending it gives, as a received message. Checks that the envelope opens.
Records recordsFor(std::size_t size, std::uint32_t seed = 1) {
    const std::string text = message(size, seed);
    Records r;
    r.send = testing_records::messageToSend(kUin, text);
    const void* reply = pluginFun(r.send.data());
    if (!reply) throw std::runtime_error("the plug-in did not seal the message");
    r.receive = testing_records::messageReceived(testing_records::replyString(reply, 0), kUin);
    const void* opened = pluginFun(r.receive.data());
    if (!opened || testing_records::replyString(opened, 0) != text) {
        throw std::runtime_error("the envelope did not open to the message");
    }
    return r;
}

// Distinct messages, 128 KiB of them in all (at least two), taken in turn:
// the same bytes again and again would let the branch predictor learn them,
// which flatters small messages, and no messenger sends one text all day.
std::vector<Records> messagesOfSize(std::size_t size) {
    const std::size_t count = std::max<std::size_t>(2, (128 * 1024) / size);
    std::vector<Records> all;
    for (std::size_t i = 0; i < count; ++i) all.push_back(recordsFor(size, static_cast<std::uint32_t>(i + 1)));
    return all;
}

void endToEnd(benchmark::State& state, bool send, bool portable) {
    const std::size_t size = static_cast<std::size_t>(state.range(0));
    ElAES::forcePortable(portable);
    const std::vector<Records> all = messagesOfSize(size);
    std::size_t next = 0;
    for (auto _ : state) {
        const Records& records = all[next];
        next = next + 1 == all.size() ? 0 : next + 1;
        const void* reply = pluginFun(send ? records.send.data() : records.receive.data());
        benchmark::DoNotOptimize(reply);
    }
    ElAES::forcePortable(false);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size));
    state.SetLabel(ElAES::implementationName(portable ? ElAES::Implementation::Portable
                                                      : ElAES::activeImplementation()));
}

// The cipher as the envelope runs it: the message after a 4-byte prefix on
// sending; the ciphertext after the prefix into an empty stream on receipt.
void cipher(benchmark::State& state, bool encrypt, bool portable) {
    const std::size_t size = static_cast<std::size_t>(state.range(0));
    if (!portable && !ElAES::hardwareSupported()) {
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
    for (bool send : {true, false}) {
        const std::string op = send ? "send" : "receive";
        auto* hw = benchmark::RegisterBenchmark(op.c_str(), endToEnd, send, false);
        auto* table = benchmark::RegisterBenchmark((op + "_portable").c_str(), endToEnd, send, true);
        auto* c = benchmark::RegisterBenchmark((send ? "encryptStream/aesni" : "decryptStream/aesni"), cipher, send,
                                               false);
        auto* ct = benchmark::RegisterBenchmark((send ? "encryptStream/table" : "decryptStream/table"), cipher, send,
                                                true);
        auto* alone = benchmark::RegisterBenchmark((send ? "seal" : "open"), envelopeAlone, send);
        for (std::size_t size : kSizes) {
            for (auto* b : {hw, table, c, ct, alone}) b->Arg(static_cast<std::int64_t>(size));
        }
    }
}

const char kSettings[] = "on\r\npass_check\r\nsecret\r\n\r\n";

bool startPlugin() {
    fixture = std::make_unique<Fixture>();
    fixture->folder.write("Mistlock.ini", kSettings);
    fixture->folder.write("MistlockWho.ini", std::to_string(kUin) + "\r\n");
    if (!fixture->plugin.initialise(fixture->folder.hostPath()) || !fixture->plugin.boxes.boxes().empty()) {
        std::fprintf(stderr, "message_bench: the plug-in did not initialise cleanly\n");
        return false;
    }
    return true;
}

// For a profiler: `--profile send|receive BYTES CALLS [portable]` makes CALLS
// calls of pluginFun and nothing else, so that an instruction count inside
// pluginFun (callgrind --toggle-collect=pluginFun) divides by CALLS exactly.
int profile(int argc, char** argv) {
    if (argc < 5) {
        std::fprintf(stderr, "usage: message_bench --profile send|receive BYTES CALLS [portable]\n");
        return 2;
    }
    const bool send = std::string(argv[2]) == "send";
    const std::size_t size = std::strtoul(argv[3], nullptr, 10);
    const long calls = std::strtol(argv[4], nullptr, 10);
    if (!startPlugin()) return 1;
    ElAES::forcePortable(argc > 5 && std::string(argv[5]) == "portable");
    const Records records = recordsFor(size);
    const std::string& record = send ? records.send : records.receive;
    for (long i = 0; i < calls; ++i) benchmark::DoNotOptimize(pluginFun(record.data()));
    fixture.reset();
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::string(argv[1]) == "--profile") return profile(argc, argv);
    registerAll();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    if (!startPlugin()) return 1;
    benchmark::RunSpecifiedBenchmarks();
    fixture.reset();
    benchmark::Shutdown();
    return 0;
}
