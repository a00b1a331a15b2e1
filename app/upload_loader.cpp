#include "app/upload_loader.h"

#include <cstdint>

#include "core/console.h"
#include "core/i18n.h"
#include "core/interrupt.h"
#include "image/image_file.h"
#include "link/sio.h"

namespace {
constexpr int kChunk = 512;
} // namespace

Outcome uploadLoader(int port, int speed, const char* path)
{
    sio line;
    if (line.open(port, static_cast<unsigned>(speed), path) != 0) {
        console::out(tr("通信デバイスの初期化に失敗しました.\n"));
        Outcome o = Outcome::failed(Step::Port, Cause::PortUnusable);
        o.file = line.deviceName();
        o.systemError = line.systemError();
        o.portFault = line.openFault();
        return o;
    }
    // The file is looked at before the user is asked to prepare the PC-8801:
    // a missing loader must not cost a round of typing on the other machine.
    // Nothing to send is not a loader sent either: the PC-8801 would wait for ever.
    ImageFile loader(kLoaderFile, ImageFile::ReadOnly);
    loader.seek(0, ImageFile::SeekFromEnd);
    const int32_t size = loader.tell();
    if (size <= 0) {
        Outcome o = Outcome::failed(Step::LoaderFile, Cause::FileError);
        o.file = kLoaderFile;
        o.systemError = loader.isOpen() ? 0 : loader.systemError;
        return o;
    }
    console::out(tr("88 にプログラムを転送します。\n88 で load \"COM:N81X\" というコマンドを"
                    "実行してください。\n\nよろしいですか ?"));
    console::waitKey();
    console::out("\n");
    if (interrupts::stopRequested())
        return Outcome::failed(Step::Upload, Cause::Interrupted);

    loader.seek(0, ImageFile::SeekFromImage);
    uint8_t buffer[kChunk];
    int32_t remaining = size;
    while (remaining > 0) {
        if (interrupts::stopRequested()) {
            console::out("\n");
            return Outcome::failed(Step::Upload, Cause::Interrupted);
        }
        console::out(tr("転送中 (%d%%).\r"),
                     static_cast<int>(static_cast<int64_t>(size - remaining) * 100 / size));
        const int chunk = remaining < kChunk ? static_cast<int>(remaining) : kChunk;
        // A read cut short (the file shrank under us) must not send stale
        // buffer bytes: send what was read and stop after it.
        const int got = loader.read(buffer, chunk);
        if (got <= 0) {
            console::out(tr("転送できませんでした.\n"));
            Outcome o = Outcome::failed(Step::LoaderFile, Cause::FileError);
            o.file = kLoaderFile;
            o.systemError = loader.systemError;
            return o;
        }
        if (line.write(buffer, got) != 0) {
            console::out(tr("転送できませんでした.\n"));
            Outcome o = Outcome::failed(Step::Upload, line.lastFault() == LineFault::HungUp
                                                          ? Cause::HungUp
                                                      : line.lastFault() == LineFault::Interrupted
                                                          ? Cause::Interrupted
                                                          : Cause::NoAnswer);
            o.systemError = line.systemError();
            return o;
        }
        remaining -= got;
        if (got < chunk) {
            console::out(tr("転送できませんでした.\n"));
            Outcome o = Outcome::failed(Step::LoaderFile, Cause::FileError);
            o.file = kLoaderFile;
            return o;
        }
    }
    console::out(tr("完了しました.\n"));
    return Outcome::done(Operation::Upload);
}
