// mistlock: seals and opens the plug-in's envelopes outside the messenger.
#include "tools/cli/cli.h"

int main(int argc, char** argv) {
    const auto console = cli::systemConsole();
    return cli::run(cli::commandLineArguments(argc, argv), *console);
}
