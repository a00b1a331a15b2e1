// The one place where an operation's outcome becomes the closing lines and the
// exit status. A completed operation gets its summary and "終了しました。";
// anything else one message on standard error that names the step, the cause
// and what to do, and status 1.
#include "app/closing.h"

#include <cinttypes>
#include <string>

#include "core/console.h"
#include "core/i18n.h"
#include "core/outcome.h"
#include "core/system_error.h"
#include "core/verbose.h"
#include "image/d88.h"
#include "link/protocol.h"
#include "link/serial_ports.h"
#include "link/sio.h"

namespace {

std::string format(const char* pattern, int value)
{
    char text[128];
    std::snprintf(text, sizeof text, pattern, value);
    return text;
}

// The step as the user knows it.
std::string stepText(const Outcome& o)
{
    switch (o.step) {
    case Step::None:
    case Step::Port: return "通信ポート";
    case Step::Connect: return "88 との接続";
    case Step::MediumQuery: return "ディスクの確認";
    case Step::Begin: return "読み込みの開始";
    case Step::ReadTrack: return format("トラック %d の読み込み", o.where);
    case Step::WriteTrack:
        if (o.operation == Operation::VerifyRewrite)
            return format(tr("トラック %d の書き直し"), o.where);
        return format("トラック %d の書き込み", o.where);
    case Step::VerifyTrack: return format("トラック %d の照合", o.where);
    case Step::RomBank:
        return format("ROM バンク %02X", o.where) + (o.file.empty() ? "" : " (" + o.file + ")") +
               " の受信";
    case Step::ImageOpen: return "ディスクイメージ " + o.file;
    case Step::ImageRead:
        if (o.where >= 0)
            return "ディスクイメージ " + o.file + format(" のトラック %d", o.where);
        return "ディスクイメージ " + o.file + " の読み込み";
    case Step::ImageWrite: return "ディスクイメージ " + o.file + " への書き込み";
    case Step::RomFile: return "ROM ファイル " + o.file + " への書き込み";
    case Step::LoaderFile: return o.file + " の読み込み";
    case Step::Upload: return "プログラムの転送";
    case Step::End: return "終了コマンド";
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
    std::string text = format(tr("%d トラックすべて書き込み済みです."), o.write.tracksWritten);
    if (o.lastDone >= 0)
        text += " " + format(o.operation == Operation::VerifyRewrite
                                 ? tr("トラック %d まで書き直しました.")
                                 : tr("トラック %d まで照合しました."),
                             o.lastDone);
    return text;
}

// The cause in words, then what to do.
std::string causeText(const Outcome& o)
{
    switch (o.cause) {
    case Cause::None:
    case Cause::PortUnusable: return "使えません.";
    case Cause::NoAnswer:
        return "応答がありません. 88 側のプログラムが動いているか, ケーブルがつながっているか"
               "確認してください.";
    case Cause::HungUp:
        return "回線が切断されました. ケーブルと USB 変換器の接続, 88 の電源を確認してください.";
    case Cause::LineError:
        return "通信エラーが生じました" + reasonText(o.systemError) +
               ". ケーブルと USB 変換器の接続を確認してください.";
    case Cause::Corrupted:
        return "データが壊れています. ケーブルを確認するか, -9 (9600 bps) や -s "
               "(高速転送なし) を試してください.";
    case Cause::Refused:
        return "コマンドが拒否されました. 88 側のプログラムを ferry2 b で転送し直してください.";
    case Cause::BadSequence:
        return "応答の順序が食い違っています. 88 側のプログラムを ferry2 b で転送し直してください.";
    case Cause::BadReply:
        return "応答の内容が正しくありません. 88 側のプログラムを ferry2 b で転送し直してください.";
    case Cause::VersionMismatch:
        return "88 側のバージョンが一致しません. ferry2 b でこの版のプログラムを転送してください.";
    case Cause::UnknownMedium:
        return "ディスクの種類が特定できません. ディスクを確かめるか, -m でメディアを指定して"
               "ください.";
    case Cause::DiskError:
        return format("ディスク操作に関するエラーが生じました (%d). ディスクとドライブを"
                      "確認してください.",
                      o.mediumAnswer);
    case Cause::WriteProtected:
        return "ディスクはライトプロテクトされています. プロテクトを外してから実行してください.";
    case Cause::Not2D: return "この 88 は 2D 専用機です. 2D のディスクだけを扱えます.";
    case Cause::OtherDisk:
        return "中断した読み込みとは別のディスクです (トラック 0 が一致しません). 同じディスクを"
               "入れるか, --resume を付けずに実行して最初から読み込んでください.";
    case Cause::OtherMedium:
        return std::string("中断した読み込みとメディアが違います (ドライブのディスクは ") +
               d88::mediumName(o.mediumAnswer) +
               "). 同じディスクを入れるか, --resume を付けずに実行して最初から読み込んで"
               "ください.";
    case Cause::FileError:
    case Cause::DamagedImage:
    case Cause::NoImage:
    case Cause::NotResumable: return "";
    case Cause::Interrupted: {
        std::string done;
        if (inVerifyPhase(o))
            done = " " + verifyPhaseText(o);
        else if (o.lastDone >= 0 && o.step == Step::RomBank)
            done = format(" ROM バンク %02X まで受信しました.", o.lastDone);
        else if (o.lastDone >= 0 && o.operation == Operation::Write)
            done = format(" トラック %d まで書き込みました.", o.lastDone);
        else if (o.lastDone >= 0)
            done = format(" トラック %d まで読み込みました.", o.lastDone);
        else if (o.step == Step::ReadTrack || o.step == Step::WriteTrack)
            done = " トラックはひとつも終わっていません.";
        return "中断しました." + done;
    }
    case Cause::NoKey: return "キー入力がないため中止しました.";
    case Cause::VerifyMismatch:
        return format("書き直しても一致しないトラックが %d あります. ディスクを替えて"
                      "書き込み直してください.",
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
        console::err(
            "通信ポート番号は 1 以上で指定してください (-p1 が COM1 と /dev/ttyS0 です).\n");
        return;
    }
    const std::string reason = reasonText(o.systemError);
    switch (fault) {
    case OpenFault::NotFound: {
        console::err("通信ポート %s がありません%s.\n", device.c_str(), reason.c_str());
        const std::vector<std::string> ports = listSerialPorts();
        if (ports.empty()) {
            console::err("この PC に通信ポートが見つかりません. USB 変換器がつながっているか"
                         "確認してください.\n");
            return;
        }
        std::string list;
        for (const std::string& p : ports)
            list += (list.empty() ? "" : ", ") + p;
        console::err("使える通信ポート: %s\n", list.c_str());
        return;
    }
    case OpenFault::NoPermission: {
        console::err("通信ポート %s を開く権限がありません%s.\n", device.c_str(), reason.c_str());
        const std::string group = deviceGroup(device);
        if (!group.empty())
            console::err("%s グループに入ってから (sudo usermod -aG %s $USER), ログインし直して"
                         "ください.\n",
                         group.c_str(), group.c_str());
        return;
    }
    case OpenFault::InUse:
        console::err("通信ポート %s は他のプログラムが使用中です%s. そのプログラムを終了してから"
                     "実行してください.\n",
                     device.c_str(), reason.c_str());
        return;
    case OpenFault::BadSettings:
        console::err("通信ポート %s が通信設定 (8 ビット, パリティなし, ストップビット 1, "
                     "RTS/CTS) を受け付けません%s.\n",
                     device.c_str(), reason.c_str());
        return;
    default:
        console::err("通信ポート %s を開けません%s.\n", device.c_str(), reason.c_str());
        return;
    }
}

// A file that could not be read, written or used, in one sentence each.
std::string fileMessage(const Outcome& o)
{
    const char* name = o.file.c_str();
    const std::string reason = reasonText(o.systemError);
    char text[512];
    switch (o.step) {
    case Step::LoaderFile:
        if (o.systemError == 0)
            std::snprintf(text, sizeof text,
                          "%s が空です. 正しいファイルをこのフォルダに置いてください.", name);
        else
            std::snprintf(text, sizeof text,
                          "%s を読めません%s. ferry2 を実行するフォルダに置いてください.", name,
                          reason.c_str());
        return text;
    case Step::ImageOpen:
        if (o.cause == Cause::NoImage)
            std::snprintf(text, sizeof text,
                          "ディスクイメージ %s に指定されたディスクがありません. ferry2 i %s で"
                          "中身を確認してください.",
                          name, name);
        else if (o.cause == Cause::DamagedImage)
            std::snprintf(text, sizeof text,
                          "ディスクイメージ %s の構造が壊れているため, 追加できません. 別の"
                          "ファイルに読み込んでください.",
                          name);
        else
            std::snprintf(
                text, sizeof text, "ディスクイメージ %s を開けません%s.%s", name, reason.c_str(),
                o.operation == Operation::Read ? " フォルダの書き込みの権限を確認してください."
                                               : "");
        return text;
    case Step::ImageRead:
        if (o.cause == Cause::NotResumable)
            std::snprintf(text, sizeof text,
                          "ディスクイメージ %s の中断した読み込みには, 続きを読むための記録が"
                          "ありません (ほかのツールか古い版で作られたものです). --resume を付けずに"
                          "実行すると, 最初から読み込み直します.",
                          name);
        else if (o.where >= 0)
            std::snprintf(text, sizeof text,
                          "ディスクイメージ %s が壊れています (トラック %d). 書き戻せません.", name,
                          o.where);
        else
            std::snprintf(text, sizeof text, "ディスクイメージ %s が壊れています. 書き戻せません.",
                          name);
        return text;
    case Step::RomFile:
        std::snprintf(text, sizeof text,
                      "ROM ファイル %s に書き込めません%s. ディスクの空きと書き込みの権限を"
                      "確認してください.",
                      name, reason.c_str());
        return text;
    default:
        std::snprintf(text, sizeof text,
                      "ディスクイメージ %s に書き込めません%s. ディスクの空きと書き込みの権限を"
                      "確認してください.",
                      name, reason.c_str());
        return text;
    }
}

void reportFailure(const Outcome& o)
{
    if (o.step == Step::Port) {
        reportPort(o);
        return;
    }
    std::string line;
    if (o.side() == Side::ImageFile)
        line = fileMessage(o);
    else
        line = stepText(o) + ": " + causeText(o);
    if (o.step == Step::Connect && o.cause == Cause::NoAnswer)
        line = "88 が応答しません. ferry2 b でプログラムを転送し, 88 で load \"COM:N81X\" と "
               "run を実行してから, もう一度試してください. ケーブルと通信速度 (-1/-9) も"
               "確認してください.";
    console::err("%s\n", line.c_str());
    if (inVerifyPhase(o) && o.cause != Cause::Interrupted && o.cause != Cause::VerifyMismatch)
        console::err("%s\n", verifyPhaseText(o).c_str());
    for (const std::string& note : o.notes)
        console::err("  %s\n", note.c_str());
    if (o.operation == Operation::Read &&
        (o.step == Step::ReadTrack || o.step == Step::Begin ||
         (o.step == Step::ImageWrite && o.lastDone >= 0)) &&
        o.cause != Cause::OtherDisk)
        console::err("読み込み途中のディスクイメージは, 同じ r に --resume を付けると続きから"
                     "読み込めます (付けなければ最初から読み込み直して置き換えます).\n");
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
        extra += format(", 中断前から %d トラック", s.resumedTracks);
    if (s.retriesAsked)
        extra += format(", 読み直し %d トラック", s.retriedTracks);
    console::out("結果: %d トラック (未フォーマット %d), %d セクタ (ID CRC エラー %d, "
                 "データ CRC エラー %d, アドレスマークなし %d, 削除マーク %d)%s, %u バイト "
                 "-> %s;%d\n",
                 s.formattedTracks + s.unformattedTracks, s.unformattedTracks, s.sectors,
                 s.idCrcErrors, s.dataCrcErrors, s.missingAddressMarks, s.deletedSectors,
                 extra.c_str(), static_cast<unsigned>(s.imageBytes), s.file.c_str(), s.imageIndex);
}

void printWriteSummary(const WriteSummary& s)
{
    std::string verified;
    const VerifySummary& v = s.verify;
    if (v.verified) {
        verified = format(", 照合しました (%d トラック", v.tracksVerified);
        if (v.tracksRewritten > 0)
            verified += format(", 書き直し %d トラック", v.tracksRewritten);
        if (v.tracksUnverifiable > 0)
            verified += format(", 読み返せないトラック %d", v.tracksUnverifiable);
        if (v.sectorsLeftOut > 0)
            verified += format(", 書き込み量を超えて照合しないセクタ %d", v.sectorsLeftOut);
        if (v.extraSectors > 0)
            verified += format(", イメージにないセクタ %d", v.extraSectors);
        verified += ")";
    }
    console::out("結果: %d トラック書き込み, 送信 %" PRIu64 " バイト%s\n", s.tracksWritten,
                 static_cast<uint64_t>(s.wireBytes), verified.c_str());
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
    console::out("終了しました。\n");
    return 0;
}
