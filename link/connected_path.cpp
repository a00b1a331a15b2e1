#include "link/connected_path.h"

#include "core/console.h"
#include "core/run_options.h"
#include "core/verbose.h"
#include "link/disk_client.h"
#include "link/protocol.h"

int runConnected(const RunOptions& options, CommandFlow flow, void (*usageExit)())
{
    DiskClient client;
    const int code = client.connect(options.port, options.speed, options.allowFast, options.path());
    if (code != wire::kOk) {
        console::out("通信デバイスの初期化に失敗しました(%d).\n", code);
        if (verbose)
            console::out("connect: %s\n", wire::linkCodeName(code));
        return 1;
    }
    if (flow == nullptr) {
        // The letter is found unknown only now; the usage exit does not come back,
        // so the port is closed here rather than by the destructor.
        client.disconnect();
        usageExit();
        return 1;
    }
    if (!flow(client, options))
        return 1;
    console::out("終了しました。\n");
    return 0;
}
