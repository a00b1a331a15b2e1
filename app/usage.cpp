#include "app/usage.h"

#include <cstdio>
#include <cstdlib>

#include "core/console.h"
#include "link/protocol.h"

void printBanner()
{
    console::out("Ferrybox 2.%.2d\n", wire::kMinorVersion);
    console::out("PC-8801 のディスクと ROM を RS-232C ケーブルで PC と受け渡します.\n\n");
}

const char* usageText()
{
    return "usage:\n"
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
           "    -t    ディスクイメージのタイトルを指定する\n";
}

void usageExit()
{
    console::out("%s", usageText());
    std::exit(1);
}
