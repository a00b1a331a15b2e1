#include "link/connected_path.h"

#include "core/console.h"
#include "core/i18n.h"
#include "core/interrupt.h"
#include "core/run_options.h"
#include "core/verbose.h"
#include "link/disk_client.h"
#include "link/protocol.h"

Outcome runConnected(const RunOptions& options, CommandFlow flow, void (*usageExit)())
{
    DiskClient client;
    const int code = client.connect(options.port, options.speed, options.allowFast, options.path());
    if (code != wire::kOk) {
        console::out(tr("通信デバイスの初期化に失敗しました(%d).\n"), code);
        if (verbose)
            console::out("connect: %s\n", wire::linkCodeName(code));
        Outcome o = client.linkFailure(code == wire::kNoPort ? Step::Port : Step::Connect, code);
        o.file = client.deviceName();
        o.portFault = client.openFault();
        return o;
    }
    if (flow == nullptr) {
        // The letter is found unknown only now; the usage exit does not come back,
        // so the port is closed here rather than by the destructor.
        client.disconnect();
        usageExit();
        return Outcome::failed(Step::Connect, Cause::None);
    }
    Outcome outcome = interrupts::stopRequested()
                          ? Outcome::failed(Step::Connect, Cause::Interrupted)
                          : flow(client, options);
    // After a Ctrl-C the line is still good: the end command leaves the agent
    // ready for the next run. After a second one, or a line failure, nothing
    // more goes out.
    if (outcome.cause == Cause::Interrupted && !interrupts::abortRequested() &&
        client.isConnected())
        outcome.endSent = client.sendEnd() == wire::kOk;
    return outcome;
}
