// The drive and medium selection that both disk directions start with, with
// the prompts that ask for a disk, and the end of a prompt that standard input
// can no longer answer.
#include "core/console.h"
#include "core/i18n.h"
#include "core/interrupt.h"
#include "core/verbose.h"
#include "image/d88.h"
#include "link/disk_client.h"
#include "link/protocol.h"

namespace {

// The medium byte of a read query that asks for whatever is in the drive.
constexpr uint8_t kAnyMedium = 0xFF;

// One key press at a disk prompt. End of input counts as one key press; a
// drive still empty after it would otherwise be asked about forever.
bool keyPressed(bool* inputEnded, Outcome* failure)
{
    const bool key = console::waitKey();
    if (interrupts::stopRequested()) {
        *failure = Outcome::failed(Step::MediumQuery, Cause::Interrupted);
        return false;
    }
    if (!key) {
        if (*inputEnded) {
            console::out("%s", tr(console::kNoKeyMessage));
            *failure = Outcome::failed(Step::MediumQuery, Cause::NoKey);
            return false;
        }
        *inputEnded = true;
    }
    return true;
}

} // namespace

bool DiskClient::queryMedium(int drive, int requested, bool forWrite, Outcome* failure,
                             bool prompt)
{
    medium = requested;
    bool inputEnded = false;
    for (;;) {
        if (forWrite && prompt) {
            console::out(tr("PC88 のドライブ %d に新しいディスクを入れてキーを押してください.\n"),
                         drive + 1);
            if (!keyPressed(&inputEnded, failure))
                return false;
        }
        // A read asks for the code given (0xFF: any); after a "no disk" answer
        // the code holds 254, so the next query asks for any medium. A write
        // always names the image's medium, with bit 7 set.
        const uint8_t mediumByte =
            forWrite ? static_cast<uint8_t>(requested | wire::kMediumForWrite)
                     : static_cast<uint8_t>(d88::isMediumCode(medium) ? medium : kAnyMedium);
        const uint8_t query[3] = {wire::kCmdMedium, static_cast<uint8_t>(drive), mediumByte};
        int code = sendPacket(query, 3, true, false);
        // An empty answer reads as "type undetermined" rather than as 2D.
        uint8_t answer = wire::kAnswerUnknownMedium;
        if (code == wire::kOk)
            code = receivePacket(&answer, 1, false);
        if (code != wire::kOk) {
            *failure = linkFailure(Step::MediumQuery, code);
            return false;
        }
        if (verbose)
            console::out("media = %d\n", answer);
        if (!forWrite)
            medium = answer;
        if (d88::isMediumCode(answer))
            return true;

        Cause cause = Cause::DiskError;
        if (answer == wire::kAnswerNoDisk && prompt) {
            if (forWrite)
                continue;
            console::out(tr("PC88 のドライブ %d にディスクを入れてキーを押してください.\n"), drive + 1);
            if (!keyPressed(&inputEnded, failure))
                return false;
            continue;
        }
        if (answer == wire::kAnswerUnknownMedium && !forWrite) {
            console::out(tr("ディスクの種類が特定できません.\n"));
            cause = Cause::UnknownMedium;
        } else if (answer == wire::kAnswerWriteProtected && forWrite) {
            console::out(tr("ディスクはライトプロテクトされています.\n"));
            cause = Cause::WriteProtected;
        } else {
            console::out(tr("ディスク操作に関するエラーが生じました.\n"));
        }
        *failure = Outcome::failed(Step::MediumQuery, cause);
        failure->mediumAnswer = answer;
        return false;
    }
}
