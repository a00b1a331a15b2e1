// ROM dump: the PC-8801's ROMs, in 4096-byte banks, into one file each.
#include <cstring>
#include <string>

#include "core/console.h"
#include "core/i18n.h"
#include "core/interrupt.h"
#include "core/verbose.h"
#include "image/image_file.h"
#include "link/disk_client.h"
#include "link/protocol.h"

namespace {

constexpr int kBankSize = 4096;

struct RomRow {
    const char* file;
    uint8_t firstBank;
    int banks;
};

const RomRow kRoms[] = {
    {"kanji1.rom", 0x00, 32},  {"kanji2.rom", 0x20, 32}, {"n88.rom", 0x40, 8},
    {"n80.rom", 0x48, 8},      {"n88_0.rom", 0x50, 2},   {"n88_1.rom", 0x52, 2},
    {"n88_2.rom", 0x54, 2},    {"n88_3.rom", 0x56, 2},   {"disk.rom", 0x58, 2},
    {"cdbios.rom", 0x60, 16},  {"jisyo.rom", 0x70, 128},
};
constexpr int kDiskRomRow = 8;
constexpr unsigned kAlwaysRows = 0x1FC;   // rows 2..8

// Rows to fetch as a bit set over row numbers. The dictionary (bit 2) is the
// last row and the CD-ROM BIOS (bit 3) the one before it.
unsigned selectedRows(uint8_t romBitmap)
{
    unsigned rows = kAlwaysRows;
    if (romBitmap & 0x01)
        rows |= 1u << 0;
    if (romBitmap & 0x02)
        rows |= 1u << 1;
    if (romBitmap & 0x04)
        rows |= 1u << 10;
    if (romBitmap & 0x08)
        rows |= 1u << 9;
    return rows;
}

// Where a ROM's banks gather until the ROM is complete: beside its file, so
// the rename that puts it in place stays within one folder.
std::string tempName(const RomRow& rom)
{
    return std::string(rom.file) + ".part";
}

// The run so far, shared by the steps of the dump.
struct RomDump {
    explicit RomDump(DiskClient& c) : client(c) {}
    DiskClient& client;
    int total = 0;         // banks of all selected ROMs
    RomSummary summary;
    int lastBank = -1;     // the last bank received in full
};

// A failure inside one ROM: its temporary file goes, the earlier file (if any)
// stays, and the closing says that this ROM was not saved.
Outcome abandonRom(const RomDump& dump, ImageFile& file, const RomRow& rom, Outcome o)
{
    file.close();
    ImageFile::remove(tempName(rom).c_str());
    o.lastDone = dump.lastBank;
    o.file = rom.file;
    o.romNotSaved = true;
    return o;
}

Outcome fileFailure(const RomDump& dump, ImageFile& file, const RomRow& rom, int systemError)
{
    Outcome o = Outcome::failed(Step::RomFile, Cause::FileError);
    o.systemError = systemError;
    return abandonRom(dump, file, rom, o);
}

// One bank: the request, then the reply into bank (zeros past a short reply).
// A link code.
int fetchBank(RomDump& dump, int bankNumber, uint8_t* bank)
{
    DiskClient& client = dump.client;
    const uint8_t fast = client.fastReceive ? 1 : 0;
    const uint8_t request[3] = {wire::kCmdRomBank, static_cast<uint8_t>(bankNumber), fast};
    int code = client.sendPacket(request, 3, true, false);
    if (code != wire::kOk) {
        console::out("\nError1: %d\n", code);
        return code;
    }
    // A short reply leaves zeros, not the previous bank, in the file.
    std::memset(bank, 0, kBankSize);
    int received = 0;
    code = client.receivePacket(bank, kBankSize, client.fastReceive, &received);
    if (code != wire::kOk) {
        console::out("\nError2: %d\n", code);
        return code;
    }
    ++dump.summary.banks;
    if (verbose && received < kBankSize)
        console::out("\nbank %.2x: short reply of %d bytes, rest zero\n", bankNumber, received);
    return wire::kOk;
}

// One ROM, bank by bank, into its temporary file, renamed over the ROM file
// only once every bank is in: an interrupted dump must not replace a complete
// file from an earlier run with a part of one.
Outcome dumpRom(RomDump& dump, int row, bool hasHdDrive)
{
    const RomRow& rom = kRoms[row];
    const std::string temp = tempName(rom);
    ImageFile file;
    if (!file.open(temp.c_str(), ImageFile::CreateAlways))
        return fileFailure(dump, file, rom, file.systemError);

    uint8_t bank[kBankSize];
    for (int j = 0; j < rom.banks; ++j) {
        const int bankNumber = rom.firstBank + j;
        // A Ctrl-C lets the bank in flight finish and asks for no new one.
        if (interrupts::stopRequested()) {
            console::out("\n");
            return abandonRom(dump, file, rom,
                              Outcome::failed(Step::RomBank, Cause::Interrupted, bankNumber));
        }
        console::out(tr("ROM データを受信中 (%d/%d)\r"), dump.summary.banks + 1, dump.total);
        const int code = fetchBank(dump, bankNumber, bank);
        if (code != wire::kOk)
            return abandonRom(dump, file, rom,
                              dump.client.linkFailure(Step::RomBank, code, bankNumber));

        // A 2D-only machine has a 2 KiB disk ROM: half a bank, and no
        // second bank.
        const bool halfDiskRom = row == kDiskRomRow && !hasHdDrive;
        const int length = halfDiskRom ? kBankSize / 2 : kBankSize;
        if (file.write(bank, length) != length) {
            console::out("\n");
            return fileFailure(dump, file, rom, file.systemError);
        }
        dump.lastBank = bankNumber;
        if (halfDiskRom)
            break;
    }
    file.close();
    int systemError = 0;
    if (!ImageFile::replace(temp.c_str(), rom.file, &systemError)) {
        console::out("\n");
        return fileFailure(dump, file, rom, systemError);
    }
    return Outcome::done(Operation::RomDump);
}

} // namespace

Outcome DiskClient::dumpRoms()
{
    const unsigned rows = selectedRows(caps.romBitmap);
    const int rowCount = static_cast<int>(sizeof kRoms / sizeof kRoms[0]);
    RomDump dump(*this);
    for (int row = 0; row < rowCount; ++row)
        if (rows & (1u << row))
            dump.total += kRoms[row].banks;

    for (int row = 0; row < rowCount; ++row) {
        if (!(rows & (1u << row)))
            continue;
        Outcome o = dumpRom(dump, row, caps.hasHdDrive != 0);
        if (!o.completed)
            return o;
    }
    console::out("\n\n");
    return finishSequence(dump.summary, dump.lastBank);
}
