// The s command: the PC-8801's ROMs into files in the current directory.
#include "link/disk_client.h"
#include "transfer/commands.h"

bool romCommand(DiskClient& client, const RunOptions& /*options*/)
{
    // dumpRoms prints its own messages; the run ends normally either way.
    client.dumpRoms();
    return true;
}
