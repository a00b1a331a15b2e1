#include "image/image_select.h"

#include <cstdint>
#include <cstdio>

#include "core/bytes.h"
#include "core/console.h"
#include "core/i18n.h"
#include "image/d88.h"
#include "image/image_file.h"

namespace
{

// How many images a listing shows before it says "and more".
constexpr int kListedImages = 8;

std::string printed(const char* format, const std::string& a, long long n = 0, long long m = 0)
{
    char text[768];
    std::snprintf(text, sizeof text, format, a.c_str(), n, m);
    return text;
}

// The title bytes up to the first NUL or space run, as the listing of i shows them.
std::string titleOf(const uint8_t* header)
{
    std::string raw;
    for (int i = 0; i < 16 && header[d88::kTitle + i] != 0; ++i) {
        const uint8_t b = header[d88::kTitle + i];
        raw += static_cast<char>(b < 0x20 || b == 0x7F ? '.' : b);
    }
    while (!raw.empty() && raw.back() == ' ')
        raw.pop_back();
    return console::fromCp932(raw);
}

struct Walked {
    int64_t start;
    uint8_t header[d88::kHeaderSize];
    bool inProgress;
};

} // namespace

std::string shellQuoted(const std::string& argument)
{
    if (argument.find_first_of(";&|<>()$`\\\"' \t*?[]#~") == std::string::npos)
        return argument;
    std::string quoted = "'";
    for (char c : argument)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

std::vector<std::string> selectionProblem(ImageFile& image, const std::string& name, int index,
                                          bool acceptInterrupted)
{
    image.baseOffset = 0;
    image.seek(0, ImageFile::SeekFromEnd);
    const int64_t fileSize = image.tell();
    if (fileSize <= 0)
        return {printed(tr("%s は空のファイルです (0 バイト). D88 ディスクイメージを指定して"
                           "ください."),
                        name)};
    if (fileSize < d88::kHeaderSize)
        return {printed(tr("%s は最初のヘッダの途中で終わっています (%lld バイト, ヘッダは "
                           "%lld バイト). D88 ディスクイメージではないか, 壊れています."),
                        name, static_cast<long long>(fileSize), d88::kHeaderSize)};

    // The walk selectImage makes, keeping each header for the list.
    std::vector<Walked> images;
    int64_t start = 0;
    while (start + d88::kHeaderSize <= fileSize && images.size() < 10000) {
        Walked w;
        w.start = start;
        image.seek(static_cast<int32_t>(start), ImageFile::SeekFromImage);
        if (image.read(w.header, d88::kHeaderSize) != d88::kHeaderSize)
            break;
        const uint32_t size = readLe32(w.header + d88::kDiskSize);
        w.inProgress = size == d88::kInProgress;
        if (!w.inProgress &&
            (size < static_cast<uint32_t>(d88::kHeaderSize) || size > d88::kMaxImageSize)) {
            if (images.empty())
                return {printed(tr("%s は D88 ディスクイメージではありません (先頭のサイズ欄が "
                                   "%lld です). ファイルを確かめてください."),
                                name, static_cast<long long>(size))};
            break;
        }
        images.push_back(w);
        if (w.inProgress)
            break;
        start += size;
    }
    const int count = static_cast<int>(images.size());
    // selectImage takes an index below 1 as the first image.
    if (index < 1)
        index = 1;
    std::vector<std::string> lines;
    if (index >= 1 && index <= count) {
        if (!images[static_cast<size_t>(index - 1)].inProgress || acceptInterrupted)
            return {};
        lines.push_back(printed(tr("%s のイメージ %lld は読み込みが中断されたイメージです. "
                                   "r に --resume を付けると続きを読み込めます."),
                                name, index));
    } else {
        lines.push_back(printed(tr("%s にあるイメージは %lld 個です (イメージ %lld はありません)."),
                                name, count, index));
    }
    char text[512];
    for (int i = 0; i < count && i < kListedImages; ++i) {
        const uint8_t* header = images[static_cast<size_t>(i)].header;
        std::snprintf(text, sizeof text, tr("  イメージ %d: [%s] %s"), i + 1,
                      titleOf(header).c_str(),
                      d88::mediumName(d88::mediumFor(header[d88::kMediaType])));
        lines.push_back(text);
        if (images[static_cast<size_t>(i)].inProgress)
            lines.back() += tr(" (読み込み中断)");
    }
    if (count > kListedImages) {
        std::snprintf(text, sizeof text, tr("  ... ほか %d 個"), count - kListedImages);
        lines.push_back(text);
    }
    // The command and the file;N quoted, so they can be typed as shown.
    std::snprintf(text, sizeof text,
                  tr("中身は ferry2 i %s で確かめられます. イメージは %s か --image N で"
                     "選んでください."),
                  shellQuoted(name).c_str(),
                  shellQuoted(name + ";" + std::to_string(count)).c_str());
    lines.push_back(text);
    return lines;
}
