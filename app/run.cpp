#include "app/run.h"

#include <cstring>
#include <string>

#include "app/closing.h"
#include "app/options.h"
#include "app/upload_loader.h"
#include "app/usage.h"
#include "core/console.h"
#include "core/i18n.h"
#include "core/interrupt.h"
#include "convert/convert_command.h"
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

// The first argument, for the usage exit of a letter that no command serves.
std::string firstArgument;

void notACommandExit()
{
    console::err(tr("%s はコマンドではありません. コマンドは b, s, r, w, i のどれかです.\n"),
                 firstArgument.c_str());
    usageExit();
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
    if (argc >= 2)
        firstArgument = argv[1];
    RunOptions options;
    std::string problem;
    switch (parseOptions(argc, argv, options, &problem)) {
    case ParseResult::Run: break;
    case ParseResult::Usage:
        if (!problem.empty())
            console::err("%s\n", problem.c_str());
        usageExit();
    case ParseResult::Help: console::out("%s", usageText()); return 0;
    case ParseResult::Version: printVersion(); return 0;
    }

    // Commands that need no agent never open a port.
    if (options.command == 'i')
        return closeRun(inspectCommand(options));
    if (options.command == 'c')
        return convertCommand(options);

    if (options.path())
        console::out(tr("通信ポート %s, %d bps で接続します.\n\n"), options.path(), options.speed);
    else
        console::out(tr("通信ポート %d, %d bps で接続します.\n\n"), options.port, options.speed);

    interrupts::install();
    Outcome outcome = options.command == 'b'
                                ? uploadLoader(options.port, options.speed, options.path())
                                : runConnected(options, flowFor(options.command), notACommandExit);
    if (options.command != 'b' && flowFor(options.command) == nullptr)
        outcome.notACommand = options.command;
    return closeRun(outcome);
}
