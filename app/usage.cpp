#include "app/usage.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include "core/console.h"
#include "core/i18n.h"
#include "link/protocol.h"

void printBanner()
{
    printVersion();
    console::out(tr("PC-8801 のディスクと ROM を RS-232C ケーブルで PC と受け渡します.\n\n"));
}

namespace
{

const char* const kCommands = N_("usage:\n"
           "  ferry2 b [-p#]\n"
           "          PC-8801 側にプログラムを転送する\n"
           "  ferry2 s [-p#] [-19s]\n"
           "          PC-8801 の ROM データを吸い出す\n"
           "  ferry2 r [-p#] [-d#] [-m#] [-19svw] [-t \"title\"] <disk.d88>\n"
           "          ディスクからディスクイメージを作成する\n"
           "  ferry2 w [-p#] [-d#] [-19v] <disk.d88(;#)>\n"
           "          ディスクイメージをディスクに書き出す\n"
           "\n"
           "option:\n"
           "    -p#   通信ポート番号を指定\n"
           "    -1/-9 19200/9600 bps で通信\n"
           "    -d#   読み書きに使用するドライブ番号を指定\n"
           "    -m#   読み出すディスクのメディアを指定(0:2D 1:2DD 2:2HD)\n"
           "    -v    詳細出力\n"
           "    -w    読み込んだイメージにライトプロテクトをかける\n"
           "    -s    88 -> PC 間で高速転送を行わない (19200 bps 時のみ)\n"
           "    -t    ディスクイメージのタイトルを指定する\n"
           "\n"
           "  ferry2 i <disk.d88(;#)> [<disk2.d88(;#)>] [--svg <out.svg>]\n"
           "          ディスクイメージの内容を表示する (2 つ指定すると比較する)\n"
           "  ferry2 r ... [--resume] [--retries N] <disk.d88>\n"
           "  ferry2 w ... [--verify] <disk.d88(;#)>\n");
const char* const kLongOptions = N_("\n"
           "long option:\n"
           "    --verify     書き込んだディスクを読み返して照合する\n"
           "    --resume     中断した読み込みを続きから再開する\n"
           "    --retries N  エラーのあったトラックを N 回まで読み直す (0-9)\n"
           "    --svg FILE   ディスクイメージの図を SVG で書き出す\n"
           "    --help       この説明を表示する\n"
           "    --version    バージョンを表示する\n");

} // namespace

const char* usageText()
{
    // The lines of c and of the later long options come after the existing
    // ones of each block, which stay as they are.
    static std::string text;
    text = std::string(tr(kCommands)) +
           tr("  ferry2 c [--from F] [--to F] [--lossy] [--geometry C,H,S,N] <in(;#)> <out>\n"
              "          ディスクイメージの形式を変換する (F: d88 hfe imd raw)\n") +
           tr(kLongOptions) +
           tr("    --from F     入力の形式を拡張子によらず指定する\n"
              "    --to F       出力の形式を拡張子によらず指定する\n"
              "    --lossy      出力の形式に入らないトラックを除いて変換する\n"
              "    --geometry C,H,S,N  ベタイメージのシリンダ, ヘッド, セクタ数, N を指定する\n") +
           tr("    --image N    ファイルの N 番目のイメージを使う (w, i, c)\n"
              "    -p/dev/ttyUSB0  デバイスのパスで通信ポートを指定 (-p に空白なしで続ける)\n"
              "\n"
              "example:\n"
              "  ferry2 w -p1 -d1 'disk.d88;2'\n"
              "  ferry2 w -p1 -d1 --image 2 disk.d88\n"
              "          ; はシェルでコマンドの区切りになるため, file;N は ' ' で囲む\n") +
           tr("\n"
              "language:\n"
              "    LANGUAGE, LC_ALL, LC_MESSAGES, LANG のうち最初に設定されているものが ja で\n"
              "    始まるか C, POSIX なら日本語, それ以外なら英語で表示する\n"
              "    (Windows でどれも設定されていなければ, 表示言語に従う)\n");
    return text.c_str();
}

void usageExit()
{
    console::out("%s", usageText());
    std::exit(1);
}

void printVersion()
{
    console::out("Ferrybox 2.%.2d\n", wire::kMinorVersion);
}
