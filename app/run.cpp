#include "app/run.h"

#include "app/options.h"
#include "app/upload_loader.h"
#include "app/usage.h"
#include "core/console.h"
#include "core/run_options.h"
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
    printBanner();
    RunOptions options;
    if (!parseOptions(argc, argv, options))
        usageExit();

    if (options.path())
        console::out("通信ポート %s, %d bps で接続します.\n\n", options.path(), options.speed);
    else
        console::out("通信ポート %d, %d bps で接続します.\n\n", options.port, options.speed);

    if (options.command == 'b')
        return uploadLoader(options.port, options.speed, options.path());
    return runConnected(options, flowFor(options.command), usageExit);
}
