#include "app/upload_loader.h"

#include <cstdint>

#include "core/console.h"
#include "image/image_file.h"
#include "link/sio.h"

namespace {
constexpr int kChunk = 512;
constexpr const char* kLoaderFile = "ferry2.bas";
} // namespace

int uploadLoader(int port, int speed, const char* path)
{
    sio line;
    if (line.open(port, static_cast<unsigned>(speed), path) != 0) {
        console::out("通信デバイスの初期化に失敗しました.\n");
        return 1;
    }
    console::out("88 にプログラムを転送します。\n88 で load \"COM:N81X\" というコマンドを"
                 "実行してください。\n\nよろしいですか ?");
    console::waitKey();
    console::out("\n");

    // A file that cannot be opened measures 0 bytes below and sends nothing.
    ImageFile loader(kLoaderFile, ImageFile::ReadOnly);
    loader.seek(0, ImageFile::SeekFromEnd);
    const int32_t size = loader.tell();
    if (size > 0) {
        loader.seek(0, ImageFile::SeekFromImage);
        uint8_t buffer[kChunk];
        int32_t remaining = size;
        while (remaining > 0) {
            console::out("転送中 (%d%%).\r",
                         static_cast<int>(static_cast<int64_t>(size - remaining) * 100 / size));
            const int chunk = remaining < kChunk ? static_cast<int>(remaining) : kChunk;
            // A read cut short (the file shrank under us) must not send stale
            // buffer bytes: send what was read and stop after it.
            const int got = loader.read(buffer, chunk);
            if (got <= 0 || line.write(buffer, got) != 0) {
                console::out("転送できませんでした.\n");
                loader.close();
                return 0;
            }
            remaining -= got;
            if (got < chunk)
                break;
        }
        if (remaining == 0)
            console::out("完了しました.\n");
        else
            console::out("転送できませんでした.\n");
    }
    loader.close();
    return 0;
}
