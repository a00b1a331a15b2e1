// The one place where an operation's outcome becomes the closing lines and the
// exit status. A completed operation gets its summary and "終了しました。";
// anything else one message on standard error that names the step, the cause
// and what to do, and status 1.
#include "app/closing.h"

#include <cstdarg>
#include <cstdio>
#include <string>

#include "core/console.h"
#include "core/text_format.h"
#include "core/i18n.h"
#include "core/outcome.h"
#include "core/system_error.h"
#include "core/verbose.h"
#include "image/d88.h"
#include "image/image_select.h"
#include "link/protocol.h"
#include "link/serial_ports.h"
#include "link/sio.h"

namespace {

// The step as the user knows it.
std::string stepText(const Outcome& o)
{
    switch (o.step) {
    case Step::None:
    case Step::Port: return tr("通信ポート");
    case Step::Connect: return tr("88 との接続");
    case Step::MediumQuery: return tr("ディスクの確認");
    case Step::Begin: return tr("読み込みの開始");
    case Step::ReadTrack: return textFormat(tr("トラック %d の読み込み"), o.where);
    case Step::WriteTrack:
        if (o.operation == Operation::VerifyRewrite)
            return textFormat(tr("トラック %d の書き直し"), o.where);
        return textFormat(tr("トラック %d の書き込み"), o.where);
    case Step::VerifyTrack: return textFormat(tr("トラック %d の照合"), o.where);
    case Step::RomBank:
        return textFormat(tr("ROM バンク %02X%s の受信"), o.where,
                      (o.file.empty() ? "" : " (" + o.file + ")").c_str());
    case Step::ImageOpen: return textFormat(tr("ディスクイメージ %s"), o.file.c_str());
    case Step::ImageRead:
        if (o.where >= 0)
            return textFormat(tr("ディスクイメージ %s のトラック %d"), o.file.c_str(), o.where);
        return textFormat(tr("ディスクイメージ %s の読み込み"), o.file.c_str());
    case Step::ImageWrite: return textFormat(tr("ディスクイメージ %s への書き込み"), o.file.c_str());
    case Step::RomFile: return textFormat(tr("ROM ファイル %s への書き込み"), o.file.c_str());
    case Step::LoaderFile: return textFormat(tr("%s の読み込み"), o.file.c_str());
    case Step::Upload: return tr("プログラムの転送");
    case Step::End: return tr("終了コマンド");
    }
    return "";
}

std::string reasonText(int systemError)
{
    return systemError != 0 ? " (" + systemErrorText(systemError) + ")" : "";
}

// A verified write's read-back or rewrite: every track was written before
// it; how far the phase got.
bool inVerifyPhase(const Outcome& o)
{
    return o.operation == Operation::VerifyReadBack || o.operation == Operation::VerifyRewrite;
}

std::string verifyPhaseText(const Outcome& o)
{
    std::string text = textFormat(tr("%d トラックすべて書き込み済みです."), o.write.tracksWritten);
    if (o.lastDone >= 0)
        text += " " + textFormat(o.operation == Operation::VerifyRewrite
                                 ? tr("トラック %d まで書き直しました.")
                                 : tr("トラック %d まで照合しました."),
                             o.lastDone);
    return text;
}

// How far an interrupted operation got.
std::string interruptedText(const Outcome& o)
{
    if (inVerifyPhase(o))
        return " " + verifyPhaseText(o);
    if (o.lastDone >= 0 && o.step == Step::RomBank)
        return textFormat(tr(" ROM バンク %02X まで受信しました."), o.lastDone);
    if (o.lastDone >= 0 && o.operation == Operation::Write)
        return textFormat(tr(" トラック %d まで書き込みました."), o.lastDone);
    if (o.lastDone >= 0)
        return textFormat(tr(" トラック %d まで読み込みました."), o.lastDone);
    if (o.step == Step::ReadTrack || o.step == Step::WriteTrack)
        return tr(" トラックはひとつも終わっていません.");
    return "";
}

// The cause in words, then what to do.
std::string causeText(const Outcome& o)
{
    switch (o.cause) {
    case Cause::None:
    case Cause::PortUnusable: return tr("使えません.");
    case Cause::NoAnswer:
        return tr("応答がありません. 88 側のプログラムが動いているか, ケーブルがつながっているか"
                  "確認してください.");
    case Cause::HungUp:
        return tr("回線が切断されました. ケーブルと USB 変換器の接続, 88 の電源を確認してください.");
    case Cause::LineError:
        return textFormat(tr("通信エラーが生じました%s. ケーブルと USB 変換器の接続を確認してください."),
                      reasonText(o.systemError).c_str());
    case Cause::Corrupted:
        return tr("データが壊れています. ケーブルを確認するか, -9 (9600 bps) や -s "
                  "(高速転送なし) を試してください.");
    case Cause::Refused:
        return tr("コマンドが拒否されました. 88 側のプログラムを ferry2 b で転送し直してください.");
    case Cause::BadSequence:
        return tr("応答の順序が食い違っています. 88 側のプログラムを ferry2 b で転送し直してください.");
    case Cause::BadReply:
        return tr("応答の内容が正しくありません. 88 側のプログラムを ferry2 b で転送し直してください.");
    case Cause::VersionMismatch:
        return tr("88 側のバージョンが一致しません. ferry2 b でこの版のプログラムを転送してください.");
    // The medium query's own line has said what the drive answered: the step
    // and what to do are what is left to say.
    case Cause::UnknownMedium: return tr("ディスクを確かめるか, -m でメディアを指定してください.");
    case Cause::DiskError:
        return textFormat(tr("ディスクとドライブを確認してください (応答 %d)."), o.mediumAnswer);
    case Cause::WriteProtected: return tr("プロテクトを外してから実行してください.");
    case Cause::Not2D: return tr("2D のディスクとディスクイメージだけを使えます.");
    case Cause::OtherDisk:
        return tr("中断した読み込みとは別のディスクです (トラック 0 が一致しません). 同じディスクを"
                  "入れるか, --resume を付けずに実行して最初から読み込んでください.");
    case Cause::OtherMedium:
        return textFormat(tr("中断した読み込みとメディアが違います (ドライブのディスクは %s). 同じ"
                         "ディスクを入れるか, --resume を付けずに実行して最初から読み込んで"
                         "ください."),
                      d88::mediumName(o.mediumAnswer));
    case Cause::FileError:
    case Cause::DamagedImage:
    case Cause::NoImage:
    case Cause::NotResumable:
    case Cause::FolderMissing: return "";
    case Cause::Interrupted: return tr("中断しました.") + interruptedText(o);
    case Cause::NoKey: return tr("ドライブにディスクを入れてから実行してください.");
    case Cause::VerifyMismatch:
        return textFormat(tr("書き直しても一致しないトラックが %d あります. ディスクを替えて"
                         "書き込み直してください."),
                      o.write.verify.tracksDiffering);
    }
    return "";
}

// Two lines for a port that would not open: what was tried and why, then
// what to do about it.
void reportPort(const Outcome& o)
{
    const OpenFault fault = o.portFault;
    const std::string device = o.file;
    if (fault == OpenFault::BadNumber) {
        console::err(tr("通信ポート番号は 1 以上で指定してください (-p1 が COM1 と /dev/ttyS0 です).\n"));
        console::err(tr("デバイスのパスで指定するときは, -p に空白を入れずに続けてください "
                        "(-p/dev/ttyUSB0).\n"));
        return;
    }
    const std::string reason = reasonText(o.systemError);
    switch (fault) {
    case OpenFault::NotFound: {
        console::err(tr("通信ポート %s がありません%s.\n"), device.c_str(), reason.c_str());
        const std::vector<std::string> ports = listSerialPorts();
        if (ports.empty()) {
            console::err(tr("この PC に通信ポートが見つかりません. USB 変換器がつながっているか"
                            "確認してください.\n"));
            return;
        }
        std::string list;
        for (const std::string& p : ports)
            list += (list.empty() ? "" : ", ") + p;
        console::err(tr("使える通信ポート: %s\n"), list.c_str());
        return;
    }
    case OpenFault::NoPermission: {
        console::err(tr("通信ポート %s を開く権限がありません%s.\n"), device.c_str(), reason.c_str());
        // A group is named only when joining it would let the user in.
        const DeviceAccess access = deviceAccess(device);
        if (access.kind == DeviceAccess::Group)
            console::err(tr("%s グループに入ってから (sudo usermod -aG %s $USER), ログインし直して"
                            "ください.\n"),
                         access.group.c_str(), access.group.c_str());
        else if (access.kind == DeviceAccess::OwnerOnly)
            console::err(tr("%s を開けるのは持ち主の %s だけです (どのグループにも読み書きの"
                            "権限がありません). 管理者に権限を変えてもらうか, 持ち主として実行"
                            "してください.\n"),
                         device.c_str(), access.owner.c_str());
        return;
    }
    case OpenFault::InUse:
        console::err(tr("通信ポート %s は他のプログラムが使用中です%s. そのプログラムを終了してから"
                        "実行してください.\n"),
                     device.c_str(), reason.c_str());
        return;
    case OpenFault::BadSettings:
        console::err(tr("通信ポート %s が通信設定 (8 ビット, パリティなし, ストップビット 1, "
                        "RTS/CTS) を受け付けません%s.\n"),
                     device.c_str(), reason.c_str());
        return;
    default:
        console::err(tr("通信ポート %s を開けません%s.\n"), device.c_str(), reason.c_str());
        return;
    }
}

// An image file that could not be opened or used.
std::string imageOpenMessage(const Outcome& o)
{
    const char* name = o.file.c_str();
    if (o.cause == Cause::NoImage)
        return textFormat(tr("ディスクイメージ %s に指定されたディスクがありません. ferry2 i %s で"
                         "中身を確認してください."),
                      name, shellQuoted(o.file).c_str());
    if (o.cause == Cause::FolderMissing) {
        const std::string::size_type slash = o.file.find_last_of("/\\");
        const std::string folder = slash == std::string::npos ? "." : o.file.substr(0, slash);
        return textFormat(tr("ディスクイメージ %s を作れません: フォルダ %s がありません. "
                         "フォルダを作るか, あるフォルダを指定してください."),
                      name, folder.c_str());
    }
    if (o.cause == Cause::DamagedImage)
        return textFormat(tr("ディスクイメージ %s の構造が壊れているため, 追加できません. 別の"
                         "ファイルに読み込んでください."),
                      name);
    return textFormat(tr("ディスクイメージ %s を開けません%s.%s"), name,
                  reasonText(o.systemError).c_str(),
                  o.operation == Operation::Read ? tr(" フォルダの書き込みの権限を確認してください.")
                                                 : "");
}

// A file that could not be read, written or used, in one sentence each.
std::string fileMessage(const Outcome& o)
{
    const char* name = o.file.c_str();
    const std::string reason = reasonText(o.systemError);
    switch (o.step) {
    case Step::LoaderFile:
        // What the file is, where it is looked for, and how the PC-8801 side starts.
        return (o.systemError == 0
                    ? textFormat(tr("%s が空です. 正しいファイルをこのフォルダに置いてください."), name)
                    : textFormat(tr("%s を読めません%s. ferry2 を実行するフォルダに置いてください."),
                             name, reason.c_str())) +
               "\n" +
               tr("ferry2.bas は 88 側の転送プログラムに付いてくる BASIC のローダーで, ferry2 には"
                  "含まれていません. ferry2 b はいまのフォルダからこれを読みます. 88 で "
                  "load \"COM:N81X\" と入力してから ferry2 b を実行し, 転送が終わったら 88 で run "
                  "を実行すると, 88 側のプログラムが動き出します.");
    case Step::ImageOpen: return imageOpenMessage(o);
    case Step::ImageRead:
        if (o.cause == Cause::NotResumable)
            return textFormat(tr("ディスクイメージ %s の中断した読み込みには, 続きを読むための記録が"
                             "ありません (ほかのツールか古い版で作られたものです). --resume を付けずに"
                             "実行すると, 最初から読み込み直します."),
                          name);
        if (o.where >= 0)
            return textFormat(tr("ディスクイメージ %s が壊れています (トラック %d). 書き戻せません."),
                          name, o.where);
        return textFormat(tr("ディスクイメージ %s が壊れています. 書き戻せません."), name);
    case Step::RomFile:
        return textFormat(tr("ROM ファイル %s に書き込めません%s. ディスクの空きと書き込みの権限を"
                         "確認してください."),
                      name, reason.c_str());
    default:
        return textFormat(tr("ディスクイメージ %s に書き込めません%s. ディスクの空きと書き込みの権限を"
                         "確認してください."),
                      name, reason.c_str());
    }
}

// The line that names the step and the cause.
std::string failureLine(const Outcome& o)
{
    if (o.notACommand != 0) {
        // A mistyped letter: the connection was only a check, so no advice to
        // upload the agent again, just the cause in its first sentence.
        const std::string cause = causeText(o);
        const std::string::size_type stop = cause.find(". ");
        return textFormat(tr("%c はコマンドではありません (b, s, r, w, i のどれかです). 88 との接続も"
                         "できませんでした: %s"),
                      o.notACommand,
                      (stop == std::string::npos ? cause : cause.substr(0, stop + 1)).c_str());
    }
    if (o.step == Step::Connect && o.cause == Cause::NoAnswer)
        return tr("88 が応答しません. ferry2 b でプログラムを転送し, 88 で load \"COM:N81X\" と "
                  "run を実行してから, もう一度試してください. ケーブルと通信速度 (-1/-9) も"
                  "確認してください.");
    if (o.side() == Side::ImageFile)
        return fileMessage(o);
    return stepText(o) + ": " + causeText(o);
}

void reportFailure(const Outcome& o)
{
    if (o.step == Step::Port) {
        reportPort(o);
        return;
    }
    // The selection's own lines say the cause, list the images and quote the
    // command to look at them.
    if (o.cause == Cause::NoImage && !o.notes.empty()) {
        for (const std::string& note : o.notes)
            console::err("%s\n", note.c_str());
        return;
    }
    console::err("%s\n", failureLine(o).c_str());
    if (inVerifyPhase(o) && o.cause != Cause::Interrupted && o.cause != Cause::VerifyMismatch)
        console::err("%s\n", verifyPhaseText(o).c_str());
    for (const std::string& note : o.notes)
        console::err("  %s\n", note.c_str());
    // Each ROM is put in place only whole (transfer/dump_roms.cpp).
    if (o.romNotSaved)
        console::err(tr("%s は保存していません. 前に吸い出した %s があれば, そのまま残っています.\n"),
                     o.file.c_str(), o.file.c_str());
    if (o.operation == Operation::Read &&
        (o.step == Step::ReadTrack || o.step == Step::Begin ||
         (o.step == Step::ImageWrite && o.lastDone >= 0)) &&
        o.cause != Cause::OtherDisk)
        console::err(tr("読み込み途中のディスクイメージは, 同じ r に --resume を付けると続きから"
                        "読み込めます (付けなければ最初から読み込み直して置き換えます).\n"));
    if (verbose && o.linkCode != 0)
        console::err("link %d: %s\n", o.linkCode, wire::linkCodeName(o.linkCode));
    if (verbose && o.endSent)
        console::err("end command sent\n");
}

void printReadSummary(const ReadSummary& s)
{
    // Tracks kept from an interrupted read and tracks read again only where
    // the run had them.
    std::string extra;
    if (s.resumedTracks > 0)
        extra += textFormat(tr(", 中断前から %d トラック"), s.resumedTracks);
    if (s.retriesAsked)
        extra += textFormat(tr(", 読み直し %d トラック"), s.retriedTracks);
    console::out(tr("結果: %d トラック (未フォーマット %d), %d セクタ (ID CRC エラー %d, "
                    "データ CRC エラー %d, アドレスマークなし %d, 削除マーク %d)%s, %u バイト "
                    "-> %s;%d\n"),
                 s.formattedTracks + s.unformattedTracks, s.unformattedTracks, s.sectors,
                 s.idCrcErrors, s.dataCrcErrors, s.missingAddressMarks, s.deletedSectors,
                 extra.c_str(), static_cast<unsigned>(s.imageBytes), s.file.c_str(), s.imageIndex);
}

void printWriteSummary(const WriteSummary& s)
{
    std::string verified;
    const VerifySummary& v = s.verify;
    if (v.verified) {
        verified = textFormat(tr(", 照合しました (%d トラック"), v.tracksVerified);
        if (v.tracksRewritten > 0)
            verified += textFormat(tr(", 書き直し %d トラック"), v.tracksRewritten);
        if (v.tracksUnverifiable > 0)
            verified += textFormat(tr(", 読み返せないトラック %d"), v.tracksUnverifiable);
        if (v.sectorsLeftOut > 0)
            verified += textFormat(tr(", 書き込み量を超えて照合しないセクタ %d"), v.sectorsLeftOut);
        if (v.extraSectors > 0)
            verified += textFormat(tr(", イメージにないセクタ %d"), v.extraSectors);
        verified += ")";
    }
    // The byte count as text: a PRIu64 in a message would not survive its translation.
    console::out(tr("結果: %d トラック書き込み, 送信 %s バイト%s\n"), s.tracksWritten,
                 std::to_string(static_cast<uint64_t>(s.wireBytes)).c_str(), verified.c_str());
}

} // namespace

int closeRun(const Outcome& outcome)
{
    if (!outcome.completed) {
        if (!outcome.reported)
            reportFailure(outcome);
        return 1;
    }
    switch (outcome.operation) {
    case Operation::Upload: return 0;  // the upload has said "完了しました." already
    case Operation::Inspect: return 0; // i has printed its own verdict
    case Operation::Read: printReadSummary(outcome.read); break;
    case Operation::Write: printWriteSummary(outcome.write); break;
    default: break;
    }
    console::out(tr("終了しました。\n"));
    return 0;
}
