#include "app/run.h"

#include <cstring>

#include "app/closing.h"
#include "app/options.h"
#include "app/upload_loader.h"
#include "app/usage.h"
#include "core/console.h"
#include "core/interrupt.h"
#include "core/run_options.h"
#include "inspect/inspect_command.h"
#include "link/connected_path.h"
#include "transfer/commands.h"

namespace {

CommandFlow flowFor(int command)
{
    switch (command) {
    case 'r': return readCommand;
    case 'w': return writeCommand;
    case 's': return romCommand;
    default: return nullptr;
    }
}

} // namespace

int runFerry(int argc, const char* const* argv)
{
    // The version alone, without the rest of the banner: for scripts and packages.
    if (argc >= 2 && std::strcmp(argv[1], "--version") == 0) {
        printVersion();
        return 0;
    }
    printBanner();
    RunOptions options;
    switch (parseOptions(argc, argv, options)) {
    case ParseResult::Run: break;
    case ParseResult::Usage: usageExit();
    case ParseResult::Help: console::out("%s", usageText()); return 0;
    case ParseResult::Version: printVersion(); return 0;
    }

    // Commands that need no agent never open a port.
    if (options.command == 'i')
        return closeRun(inspectCommand(options));

    if (options.path())
        console::out("通信ポート %s, %d bps で接続します.\n\n", options.path(), options.speed);
    else
        console::out("通信ポート %d, %d bps で接続します.\n\n", options.port, options.speed);

    interrupts::install();
    const Outcome outcome = options.command == 'b'
                                ? uploadLoader(options.port, options.speed, options.path())
                                : runConnected(options, flowFor(options.command), usageExit);
    return closeRun(outcome);
}
