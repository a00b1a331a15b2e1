// The s command: the PC-8801's ROMs into files in the current directory.
#include "link/disk_client.h"
#include "transfer/commands.h"

Outcome romCommand(DiskClient& client, const RunOptions& /*options*/)
{
    return client.dumpRoms();
}
