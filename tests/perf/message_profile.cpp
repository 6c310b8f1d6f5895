// Calls of pluginFun and nothing else around them, for instruction counts
// under valgrind's callgrind (instruction_budgets.py, and by hand):
//
//   message_profile send|receive|receive_earlier|send_keyfile|receive_keyfile|send_sealed|receive_sealed BYTES CALLS [portable]
//       CALLS calls on one message of BYTES bytes; under
//       `valgrind --tool=callgrind --toggle-collect=pluginFun` the count
//       inside pluginFun, less that of a run with fewer calls, divides by the
//       difference exactly (the first call builds the code pages' tables).
//   message_profile --each PATH:BYTES...
//       for each, a first call, then four calls collected alone (run it with
//       --collect-atstart=no) and dumped, named PATH:BYTES.
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

#include <valgrind/callgrind.h>

#include "crypto/ElAES.h"
#include "crypto/aes_dispatch.h"
#include "host/plugin.h"
#include "tests/support/message_traffic.h"

using message_traffic::Path;

namespace {

constexpr int kCollectedCalls = 4;

bool pathOf(const std::string& name, Path& path) {
    if (name == "send") path = Path::Send;
    else if (name == "receive") path = Path::Receive;
    else if (name == "receive_earlier") path = Path::ReceiveEarlier;
    else if (name == "send_keyfile") path = Path::SendKeyFile;
    else if (name == "receive_keyfile") path = Path::ReceiveKeyFile;
    else if (name == "send_sealed") path = Path::SendSealed;
    else if (name == "receive_sealed") path = Path::ReceiveSealed;
    else return false;
    return true;
}

int usage() {
    std::fprintf(stderr,
                 "usage: message_profile send|receive|receive_earlier|send_keyfile|receive_keyfile|send_sealed|receive_sealed BYTES CALLS "
                 "[portable]\n"
                 "       message_profile --each PATH:BYTES...\n");
    return 2;
}

void callsOf(const std::string& record, long calls) {
    for (long i = 0; i < calls; ++i) {
        const void* reply = pluginFun(record.data());
        if (!reply) throw std::runtime_error("no reply");
    }
}

}  // namespace

int main(int argc, char** argv) {
    try {
        message_traffic::Plugin plugin;
        if (argc > 2 && std::string(argv[1]) == "--each") {
            for (int i = 2; i < argc; ++i) {
                const std::string label = argv[i];
                const std::size_t colon = label.find(':');
                Path path;
                if (colon == std::string::npos || !pathOf(label.substr(0, colon), path)) return usage();
                const auto records = plugin.recordsFor(std::strtoul(label.c_str() + colon + 1, nullptr, 10));
                plugin.choose(path);
                callsOf(records.of(path), 1);
                CALLGRIND_TOGGLE_COLLECT;
                callsOf(records.of(path), kCollectedCalls);
                CALLGRIND_TOGGLE_COLLECT;
                CALLGRIND_DUMP_STATS_AT(label.c_str());
            }
            return 0;
        }
        Path path;
        if (argc < 4 || !pathOf(argv[1], path)) return usage();
        ElAES::forcePortable(argc > 4 && std::string(argv[4]) == "portable");
        const auto records = plugin.recordsFor(std::strtoul(argv[2], nullptr, 10));
        plugin.choose(path);
        callsOf(records.of(path), std::strtol(argv[3], nullptr, 10));
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "message_profile: %s\n", e.what());
        return 1;
    }
}
