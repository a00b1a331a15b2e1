// The i command: a look inside D88 files, with no port and no agent.
#include "core/console.h"
#include "core/run_options.h"
#include "transfer/commands.h"

int inspectCommand(const RunOptions& /*options*/)
{
    console::err("i: not built yet\n");
    return 1;
}
