// The choice of implementation, and the two implementations side by side:
// over random keys, blocks and streams the AES instructions must give exactly
// the bytes of the portable tables, schedules included.
#include <memory>
#include <random>
#include <string>

#include <gtest/gtest.h>

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#include <cpuid.h>
#include <immintrin.h>
#endif

#include "crypto/ElAES.h"
#include "crypto/aes_dispatch.h"
#include "crypto/memory_stream.h"
#include "crypto/view_streams.h"
#include "tests/crypto/aes_paths.h"
#include "tests/crypto/test_streams.h"
#include "tests/crypto/test_support.h"

using namespace testsupport;

namespace {

// What CPUID leaf 1 says, read here rather than through the unit: ECX bit 25
// is AES-NI, bit 19 SSE4.1.
bool cpuidReportsAesNi() {
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return false;
    return (ecx & (1u << 25)) != 0 && (ecx & (1u << 19)) != 0;
#else
    return false;
#endif
}

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
__attribute__((target("xsave"))) unsigned long long xcr0() { return _xgetbv(0); }
#endif

// The widest AES path the processor and the operating system allow, from
// CPUID and XCR0 as the manuals give them: leaf 1 ECX bit 27 OSXSAVE, bit 28
// AVX; leaf 7 EBX bit 5 AVX2, bit 16 AVX-512F, ECX bit 9 VAES; XCR0 bits 1-2
// (XMM, YMM) and 5-7 (opmask, ZMM).
ElAES::Implementation widestByCpuid() {
    if (!ELAES_HAVE_AESNI || !cpuidReportsAesNi()) return ElAES::Implementation::Portable;
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    __get_cpuid(1, &eax, &ebx, &ecx, &edx);
    if ((ecx & (1u << 27)) == 0 || (ecx & (1u << 28)) == 0) return ElAES::Implementation::AesNi;
    const unsigned long long saved = xcr0();
    if (__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx) == 0) return ElAES::Implementation::AesNi;
    const bool vaes = (ecx & (1u << 9)) != 0 && (ebx & (1u << 5)) != 0 && (saved & 6) == 6;
    if (!vaes) return ElAES::Implementation::AesNi;
    if ((ebx & (1u << 16)) != 0 && (saved & 0xe0) == 0xe0) return ElAES::Implementation::Vaes512;
    return ElAES::Implementation::Vaes256;
#else
    return ElAES::Implementation::Portable;
#endif
}

ElAES::Implementation expectedImplementation(bool forced) {
    return forced ? ElAES::Implementation::Portable : widestByCpuid();
}

// ---- Which path runs ---------------------------------------------------------

TEST(AesImplementation, WidestHardwarePathIsChosenWheneverTheProcessorHasAesNi) {
    const bool cpuHasIt = cpuidReportsAesNi();
    const ElAES::Implementation active = ElAES::activeImplementation();
    std::cout << "CPUID AES-NI: " << (cpuHasIt ? "yes" : "no") << "; hardware path in this build: "
              << (ELAES_HAVE_AESNI ? "yes" : "no") << "; active: " << ElAES::implementationName(active)
              << (portableForcedForThisRun() ? " (portable forced for this run)" : "") << std::endl;
    RecordProperty("aes_path", ElAES::implementationName(active));

    EXPECT_EQ(ElAES::implementationOf(ElAES::Implementation::AesNi) != nullptr, ELAES_HAVE_AESNI && cpuHasIt);
    EXPECT_EQ(active, expectedImplementation(portableForcedForThisRun()));
#if ELAES_HAVE_AESNI
    if (cpuHasIt && !portableForcedForThisRun()) {
        EXPECT_NE(active, ElAES::Implementation::Portable) << "x86 with AES-NI in CPUID must run on the instructions";
    }
#endif
}

TEST(AesImplementation, TestHookForcesThePortablePathAndGivesItBack) {
    ElAES::forcePortable(true);
    EXPECT_EQ(ElAES::activeImplementation(), ElAES::Implementation::Portable);
    ElAES::forcePortable(false);
    EXPECT_EQ(ElAES::activeImplementation(), expectedImplementation(false));
    ElAES::forcePortable(portableForcedForThisRun());
    EXPECT_EQ(ElAES::activeImplementation(), expectedImplementation(portableForcedForThisRun()));
}

TEST(AesImplementation, Names) {
    EXPECT_STREQ(ElAES::implementationName(ElAES::Implementation::Portable), "portable");
    EXPECT_STREQ(ElAES::implementationName(ElAES::Implementation::AesNi), "aes-ni");
    EXPECT_STREQ(ElAES::implementationName(ElAES::Implementation::Vaes256), "vaes-256");
    EXPECT_STREQ(ElAES::implementationName(ElAES::Implementation::Vaes512), "vaes-512");
}

// Each path can be forced where it runs, and only there.
TEST(AesImplementation, ForcingAPathRunsItWhereItCanRun) {
    const ElAES::Implementation widest = widestByCpuid();
    for (const ElAES::Implementation kind : {ElAES::Implementation::Portable, ElAES::Implementation::AesNi,
                                             ElAES::Implementation::Vaes256, ElAES::Implementation::Vaes512}) {
        SCOPED_TRACE(ElAES::implementationName(kind));
        const bool runs = kind == ElAES::Implementation::Portable ||
                          (widest != ElAES::Implementation::Portable && kind <= widest);
        EXPECT_EQ(ElAES::forceImplementation(kind), runs);
        EXPECT_EQ(ElAES::activeImplementation(), runs ? kind : ElAES::Implementation::Portable);
        ElAES::forcePortable(true);
    }
    ElAES::forcePortable(portableForcedForThisRun());
    EXPECT_EQ(ElAES::activeImplementation(), expectedImplementation(portableForcedForThisRun()));
}

// ---- The unit's tables -------------------------------------------------------

std::string namesOf(const std::vector<const ElAES::ImplementationTable*>& tables) {
    std::string text;
    for (const ElAES::ImplementationTable* table : tables) {
        text += table == nullptr ? std::string("(null)") : std::string(table->name);
        text += ' ';
    }
    return text;
}

// The list follows the build, CPUID and XCR0, never the forced choice.
TEST(AesImplementation, AvailableAreThePortableTablesThenEachHardwarePathThatRuns) {
    const char* const names[] = {"portable ", "portable aes-ni ", "portable aes-ni vaes-256 ",
                                 "portable aes-ni vaes-256 vaes-512 "};
    const std::string expected = names[static_cast<int>(widestByCpuid())];
    ElAES::forcePortable(true);
    EXPECT_EQ(namesOf(ElAES::availableImplementations()), expected);
    ElAES::forcePortable(false);
    const auto tables = ElAES::availableImplementations();
    EXPECT_EQ(namesOf(tables), expected);
    ElAES::forcePortable(portableForcedForThisRun());

    ASSERT_FALSE(tables.empty());
    EXPECT_EQ(tables[0], &ElAES::portableImplementation());
    EXPECT_EQ(tables[0]->kind, ElAES::Implementation::Portable);
    const bool hardware = tables.size() > 1;
    EXPECT_EQ(ElAES::implementationOf(ElAES::Implementation::AesNi), hardware ? tables.at(1) : nullptr);
    for (std::size_t i = 0; i < tables.size(); ++i) {
        EXPECT_EQ(static_cast<std::size_t>(tables[i]->kind), i);
        EXPECT_EQ(ElAES::implementationOf(tables[i]->kind), tables[i]);
    }
}

// Every table's streams: FIPS-197 C.3 block by block, one Read and one Write of
// 16 bytes a block, and the source rewound first by count 0.
TEST(AesImplementation, EveryTablesStreamsGoOneBlockACall) {
    const ElAES::Key key = keyFromHex("000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f");
    const std::string plain = "00112233445566778899aabbccddeeff";
    const std::string cipher = "8ea2b7ca516745bfeafc49904b496089";
    for (const ElAES::ImplementationTable* table : ElAES::availableImplementations()) {
        SCOPED_TRACE(table->name);
        RecordingStream source(bytesToString(fromHex(plain + plain))), sealed;
        source.SetPosition(7);
        table->encryptStream(source, 0, key, sealed);
        EXPECT_EQ(source.calls(), "P7 P0 R16 R16");
        EXPECT_EQ(sealed.calls(), "W16 W16");
        EXPECT_EQ(toHex(sealed.bytes()), cipher + cipher);

        ElAES::Schedule decryption;
        table->buildDecryptionSchedule(key, decryption);
        RecordingStream sealedAgain(sealed.bytes()), opened;
        table->decryptStreamWithSchedule(sealedAgain, 32, decryption, opened);
        EXPECT_EQ(sealedAgain.calls(), "R16 R16");
        EXPECT_EQ(opened.calls(), "W16 W16");
        EXPECT_EQ(toHex(opened.bytes()), plain + plain);

        // A partial last block: read as it stands, written whole.
        ElAES::Schedule encryption;
        table->buildEncryptionSchedule(key, encryption);
        RecordingStream shortSource(std::string(21, 'x')), shortSealed;
        table->encryptStreamWithSchedule(shortSource, 21, encryption, shortSealed);
        EXPECT_EQ(shortSource.calls(), "R16 R5");
        EXPECT_EQ(shortSealed.calls(), "W16 W16");

        // A count that is not whole blocks: refused before either stream is touched.
        RecordingStream ragged(std::string(21, 'x')), untouched;
        EXPECT_THROW(table->decryptStream(ragged, 21, key, untouched), ElAES::EAESError);
        EXPECT_EQ(ragged.calls() + untouched.calls(), "");
    }
}

// ---- Both paths, the same bytes ---------------------------------------------

template <std::size_t N>
std::array<std::uint8_t, N> randomBytes(std::mt19937& rng) {
    std::array<std::uint8_t, N> out{};
    for (auto& b : out) b = static_cast<std::uint8_t>(rng());
    return out;
}

std::string scheduleHex(const ElAES::Schedule& schedule) {
    std::string text;
    for (unsigned i = 0; i < 64; ++i) text += wordHex(schedule, i) + (i % 4 == 3 ? "|" : " ");
    return text;
}

class AesDifferential : public ::testing::Test {
protected:
    void SetUp() override {
        const ElAES::ImplementationTable* aesni = ElAES::implementationOf(ElAES::Implementation::AesNi);
        if (aesni == nullptr) GTEST_SKIP() << "no AES-NI path on this build or processor";
        hardware = pathOf(*aesni);
        portable = pathOf(ElAES::portableImplementation());
    }
    AesPath portable;
    AesPath hardware;
};

TEST_F(AesDifferential, SchedulesAreWordForWordTheSame) {
    std::mt19937 rng(0x5eed);
    std::vector<ElAES::Key> keys = {ElAES::Key{}, {}};
    keys[1].fill(0xff);
    for (int n = 0; n < 2000; ++n) keys.push_back(randomBytes<32>(rng));
    for (const ElAES::Key& key : keys) {
        ElAES::Schedule a, b;
        portable.table.buildEncryptionSchedule(key, a);
        hardware.table.buildEncryptionSchedule(key, b);
        ASSERT_EQ(scheduleHex(b), scheduleHex(a)) << "encryption schedule, key " << toHex(key);
        portable.table.buildDecryptionSchedule(key, a);
        hardware.table.buildDecryptionSchedule(key, b);
        ASSERT_EQ(scheduleHex(b), scheduleHex(a)) << "decryption schedule, key " << toHex(key);
    }
}

TEST_F(AesDifferential, BlocksAreTheSameEitherWayAndInPlace) {
    std::mt19937 rng(20250101);
    for (int k = 0; k < 500; ++k) {
        const ElAES::Key key = randomBytes<32>(rng);
        ElAES::Schedule encryption, decryption;
        portable.table.buildEncryptionSchedule(key, encryption);
        portable.table.buildDecryptionSchedule(key, decryption);
        for (int n = 0; n < 20; ++n) {
            const ElAES::Block block = randomBytes<16>(rng);
            SCOPED_TRACE("key " + toHex(key) + " block " + toHex(block));
            ElAES::Block expected, got;
            portable.table.encryptBlock(block, encryption, expected);
            hardware.table.encryptBlock(block, encryption, got);
            ASSERT_EQ(toHex(got), toHex(expected));
            ElAES::Block inPlace = block;
            hardware.table.encryptBlock(inPlace, encryption, inPlace);
            ASSERT_EQ(toHex(inPlace), toHex(expected));

            portable.table.decryptBlock(block, decryption, expected);
            hardware.table.decryptBlock(block, decryption, got);
            ASSERT_EQ(toHex(got), toHex(expected));
            inPlace = block;
            hardware.table.decryptBlock(inPlace, decryption, inPlace);
            ASSERT_EQ(toHex(inPlace), toHex(expected));
        }
    }
}

// A schedule made by one path drives the blocks of the other: the layout is
// shared, so a caller may mix them.
TEST_F(AesDifferential, SchedulesServeTheOtherPathsBlocks) {
    std::mt19937 rng(31337);
    for (int n = 0; n < 300; ++n) {
        const ElAES::Key key = randomBytes<32>(rng);
        const ElAES::Block block = randomBytes<16>(rng);
        ElAES::Schedule hwEncryption, hwDecryption;
        hardware.table.buildEncryptionSchedule(key, hwEncryption);
        hardware.table.buildDecryptionSchedule(key, hwDecryption);
        ElAES::Block there, back;
        portable.table.encryptBlock(block, hwEncryption, there);
        hardware.table.decryptBlock(there, hwDecryption, back);
        ASSERT_EQ(toHex(back), toHex(block)) << "key " << toHex(key);
        portable.table.decryptBlock(there, hwDecryption, back);
        ASSERT_EQ(toHex(back), toHex(block)) << "key " << toHex(key);
    }
}

struct StreamRun {
    std::string output;
    std::uint64_t sourcePosition = 0;
    std::string error;
};

StreamRun runStream(const StreamRoutine& routine, const std::string& bytes, std::uint64_t start,
                    std::uint32_t count, const ElAES::Key& key) {
    ElAES::MemoryStream source(bytes);
    source.SetPosition(start);
    ElAES::MemoryStream destination(std::string(3, '\x5a'));  // bytes before the position stay
    destination.SetPosition(3);
    StreamRun run;
    try {
        routine(source, count, key, destination);
    } catch (const ElAES::EAESError& e) {
        run.error = e.what();
    }
    run.output = toHex(destination.bytes());
    run.sourcePosition = source.Position();
    return run;
}

TEST_F(AesDifferential, StreamsGiveTheSameBytesAndPositions) {
    std::mt19937 rng(4242);
    for (int n = 0; n < 1500; ++n) {
        const ElAES::Key key = randomBytes<32>(rng);
        std::string bytes(rng() % 300, '\0');
        for (char& c : bytes) c = static_cast<char>(rng());
        const std::uint64_t start = bytes.empty() ? 0 : rng() % (bytes.size() + 1);
        // Count 0 (whole source), a count within the source, or beyond it.
        const std::uint32_t choices[] = {0u, static_cast<std::uint32_t>(rng() % 64),
                                         static_cast<std::uint32_t>(16 * (rng() % 8)), 0xffffffffu};
        const std::uint32_t count = choices[rng() % 4];
        SCOPED_TRACE("size " + std::to_string(bytes.size()) + " position " + std::to_string(start) + " count " +
                     std::to_string(count));

        const StreamRun te = runStream(portable.encryptStream, bytes, start, count, key);
        const StreamRun he = runStream(hardware.encryptStream, bytes, start, count, key);
        ASSERT_EQ(he.output, te.output);
        ASSERT_EQ(he.sourcePosition, te.sourcePosition);

        const StreamRun td = runStream(portable.decryptStream, bytes, start, count, key);
        const StreamRun hd = runStream(hardware.decryptStream, bytes, start, count, key);
        ASSERT_EQ(hd.output, td.output);
        ASSERT_EQ(hd.sourcePosition, td.sourcePosition);
        ASSERT_EQ(hd.error, td.error);
    }
}

// The decrypting side of one path opens what the other path's stream
// encrypted, whatever the length.
TEST_F(AesDifferential, EachPathDecryptsTheOthersStreams) {
    std::mt19937 rng(99);
    for (std::size_t size = 0; size <= 100; ++size) {
        const ElAES::Key key = randomBytes<32>(rng);
        std::string plain(size, '\0');
        for (char& c : plain) c = static_cast<char>(rng());
        const std::string padded = plain + std::string((16 - size % 16) % 16, '\0');
        for (const auto& [encrypting, decrypting] : {std::pair{portable, hardware}, std::pair{hardware, portable}}) {
            SCOPED_TRACE(encrypting.name + " to " + decrypting.name + ", " + std::to_string(size) + " bytes");
            ElAES::MemoryStream source(plain), cipher, back;
            encrypting.encryptStream(source, 0, key, cipher);
            ASSERT_EQ(cipher.Size(), padded.size());
            decrypting.decryptStream(cipher, 0, key, back);
            ASSERT_EQ(toHex(back.bytes()), toHex(padded));
        }
    }
}

// ---- Streams that lend their memory, against streams that do not -------------

// Every table's stream entries, where both streams lend their memory (the
// multi-block operation), against the portable table block by block through
// streams that lend nothing: the same bytes in the destination, the same
// positions of both streams, the same error. The destination is a memory
// stream at its end, inside its bytes (overwritten, not truncated), or past
// them (a zero-filled gap), or an AppendStream; the source a memory stream or
// a ViewStream; and once the source is the destination itself.
TEST(AesBulkStreams, LendingStreamsGiveWhatBlockByBlockGives) {
    enum Destination { AtEnd, Inside, PastEnd, Append, Itself, kDestinations };
    std::mt19937 rng(0xb01c);
    const AesPath reference = pathOf(ElAES::portableImplementation());
    std::vector<AesPath> paths;
    for (const ElAES::ImplementationTable* table : ElAES::availableImplementations()) paths.push_back(pathOf(*table));
    paths.push_back(dispatchedPath());
    for (int n = 0; n < 1200; ++n) {
        ElAES::Key key;
        for (auto& b : key) b = static_cast<std::uint8_t>(rng());
        std::string bytes(rng() % 4097, '\0');
        for (char& c : bytes) c = static_cast<char>(rng());
        std::string prefix(rng() % 70, '\x5a');
        const std::uint64_t start = rng() % (bytes.size() + 20);
        const std::uint32_t choices[] = {0u, static_cast<std::uint32_t>(rng() % 4200),
                                         static_cast<std::uint32_t>(16 * (rng() % 270)), 0xffffffffu};
        const std::uint32_t count = choices[rng() % 4];
        const auto where = static_cast<Destination>(n % kDestinations);
        const std::uint64_t at = where == Inside    ? rng() % (prefix.size() + 1)
                                 : where == PastEnd ? prefix.size() + 1 + rng() % 40
                                                    : prefix.size();
        const bool viewSource = rng() % 2 == 0;
        for (const bool encrypting : {true, false}) {
            SCOPED_TRACE(std::string(encrypting ? "encrypt" : "decrypt") + ", size " + std::to_string(bytes.size()) +
                         " position " + std::to_string(start) + " count " + std::to_string(count) +
                         " destination kind " + std::to_string(where) + " at " + std::to_string(at));
            auto outcome = [&](const AesPath& path, bool lending) {
                std::string error;
                auto run = [&](ElAES::ByteStream& source, ElAES::ByteStream& destination) {
                    try {
                        (encrypting ? path.encryptStream : path.decryptStream)(source, count, key, destination);
                    } catch (const Exception& e) {
                        error = e.what();
                    }
                };
                std::string sink = prefix;
                std::uint64_t sourceAt = 0, destinationAt = 0;
                if (where == Itself) {
                    std::unique_ptr<ElAES::ByteStream> both;
                    if (lending) both = std::make_unique<ElAES::MemoryStream>(bytes);
                    else both = std::make_unique<RecordingStream>(bytes);
                    both->SetPosition(start);
                    run(*both, *both);
                    sourceAt = both->Position();
                    sink = lending ? static_cast<ElAES::MemoryStream&>(*both).bytes()
                                   : static_cast<RecordingStream&>(*both).bytes();
                    return toHex(sink) + " " + std::to_string(sourceAt) + " " + error;
                }
                std::unique_ptr<ElAES::ByteStream> source;
                if (!lending) source = std::make_unique<RecordingStream>(bytes);
                else if (viewSource) source = std::make_unique<ElAES::ViewStream>(bytes);
                else source = std::make_unique<ElAES::MemoryStream>(bytes);
                source->SetPosition(start);
                if (lending && where == Append) {
                    ElAES::AppendStream destination(sink);
                    run(*source, destination);
                    destinationAt = destination.Position();
                } else if (lending) {
                    ElAES::MemoryStream destination(prefix);
                    destination.SetPosition(at);
                    run(*source, destination);
                    destinationAt = destination.Position();
                    sink = destination.bytes();
                } else {
                    RecordingStream destination(prefix);
                    destination.SetPosition(at);
                    run(*source, destination);
                    destinationAt = destination.Position();
                    sink = destination.bytes();
                }
                sourceAt = source->Position();
                return toHex(sink) + " " + std::to_string(sourceAt) + " " + std::to_string(destinationAt) + " " +
                       error;
            };
            const std::string expected = outcome(reference, false);
            for (const AesPath& path : paths) {
                ASSERT_EQ(outcome(path, true), expected) << path.name;
            }
        }
    }
}

}  // namespace
