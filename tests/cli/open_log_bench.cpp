// Throughput of open-log beside the plug-in's own receive path, on the same
// envelopes. Not a test: it prints figures.
//
//   cli_open_log_bench [MEGABYTES]     (default 32)
//
// It writes a chat history of that size, each line a time stamp, a name and
// an envelope sealed by the plug-in's code with a message of 5 to 400 bytes,
// then times
//   - the plug-in: pluginFun with a message-received event for each envelope;
//   - open-log in-process: the history reader over the file's bytes;
//   - the mistlock program: open-log FILE, output to a file, as a user runs
//     it, and once more with the output thrown away.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

#include "envelope/envelope.h"
#include "envelope/key_block.h"
#include "platform/platform.h"
#include "tests/cli/cli_process.h"
#include "tests/support/test_messenger.h"
#include "tests/support/records.h"
#include "tools/cli/log_opener.h"

namespace {

using Clock = std::chrono::steady_clock;

double seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

void report(const char* what, double bytes, std::size_t envelopes, double s) {
    std::printf("%-34s %8.1f MB/s  %9.0f envelopes/s  (%.2f s)\n", what, bytes / s / 1e6, envelopes / s, s);
}

}  // namespace

int main(int argc, char** argv) {
    const double megabytes = argc > 1 ? std::atof(argv[1]) : 32;
    const std::u16string password = u"Ключ к переписке";
    const ElAES::Key key = envelope::keyBlockFromText(password);
    const unsigned codePage = 1251;

    // The history, and the envelopes in it.
    std::mt19937 random(42);
    std::vector<std::string> envelopes;
    std::string history;
    std::size_t envelopeBytes = 0;
    while (history.size() < megabytes * 1e6) {
        std::string message(5 + random() % 396, '\0');
        for (char& c : message) c = static_cast<char>(0x20 + random() % 0xE0);
        envelopes.push_back(envelope::seal(message, key, codePage));
        envelopeBytes += envelopes.back().size();
        history += "[2011-05-04 12:34:56] alice: " + envelopes.back() + "\r\n";
    }
    test_messenger::TempFolder folder;
    folder.write("history.txt", history);
    std::printf("history: %.1f MB, %zu envelopes (%.1f MB of them)\n\n", history.size() / 1e6, envelopes.size(),
                envelopeBytes / 1e6);

    // The plug-in, as the messenger drives it.
    {
        folder.write("Mistlock.ini", "off\r\npass_check\r\n" + platform::narrowCodePage(codePage, password) + "\r\n\r\n");
        test_messenger::TestMessenger messenger;
        messenger.initialise(folder.hostPath());
        std::vector<std::string> records;
        records.reserve(envelopes.size());
        for (const auto& e : envelopes) records.push_back(testing_records::messageReceived(e));
        std::size_t plainBytes = 0;
        const auto start = Clock::now();
        for (const auto& r : records) plainBytes += static_cast<std::size_t>(testing_records::readInt32(messenger.call(r), 0));
        const double s = seconds(start);
        report("plug-in (pluginFun, receive)", envelopeBytes, envelopes.size(), s);
        if (plainBytes == 0) std::puts("(no replies)");
    }

    // The history reader in-process.
    {
        std::size_t out = 0;
        const auto start = Clock::now();
        cli::LogOpener opener(key, codePage, [&](std::string_view s) { out += s.size(); });
        for (std::size_t at = 0; at < history.size(); at += 1 << 20) {
            opener.feed(std::string_view(history).substr(at, 1 << 20));
        }
        opener.finish();
        const double s = seconds(start);
        report("open-log, in-process", history.size(), envelopes.size(), s);
        if (opener.opened() != envelopes.size()) std::printf("(only %llu opened)\n", (unsigned long long)opener.opened());
    }

    // The program, reading the file and writing its output to a file.
    {
        const auto start = Clock::now();
        const auto r = testing_cli::runCli(
            {"open-log", "--password", "Ключ к переписке", "--codepage", "1251", folder.file("history.txt")});
        const double s = seconds(start);
        report("mistlock open-log FILE (process)", history.size(), envelopes.size(), s);
        std::printf("  exit status %d, %s", r.status, r.err.c_str());
    }

    // The same from a shell, its output thrown away: the program alone.
    {
        const std::string command = std::string("'") + MISTLOCK_CLI_EXE +
                                    "' open-log --password 'Ключ к переписке' --codepage 1251 '" +
                                    folder.file("history.txt") + "' > /dev/null 2>&1";
        const auto start = Clock::now();
        const int status = std::system(command.c_str());
        report("mistlock open-log FILE > /dev/null", history.size(), envelopes.size(), seconds(start));
        if (status != 0) std::printf("  exit status %d\n", status);
    }
    return 0;
}
