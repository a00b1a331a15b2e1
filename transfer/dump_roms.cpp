// ROM dump: the PC-8801's ROMs, in 4096-byte banks, into one file each.
#include <cstring>

#include "core/console.h"
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

} // namespace

Outcome DiskClient::dumpRoms()
{
    const unsigned rows = selectedRows(caps.romBitmap);
    int total = 0;
    for (int row = 0; row < static_cast<int>(sizeof kRoms / sizeof kRoms[0]); ++row)
        if (rows & (1u << row))
            total += kRoms[row].banks;

    const uint8_t fast = fastReceive ? 1 : 0;
    uint8_t bank[kBankSize];
    RomSummary summary;
    int lastBank = -1;
    auto fileFailure = [&](const ImageFile& file, const RomRow& rom) {
        Outcome o = Outcome::failed(Step::RomFile, Cause::FileError);
        o.systemError = file.systemError;
        o.file = rom.file;
        o.lastDone = lastBank;
        return o;
    };
    for (int row = 0; row < static_cast<int>(sizeof kRoms / sizeof kRoms[0]); ++row) {
        if (!(rows & (1u << row)))
            continue;
        const RomRow& rom = kRoms[row];
        ImageFile file;
        if (!file.open(rom.file, ImageFile::CreateAlways))
            return fileFailure(file, rom);

        for (int j = 0; j < rom.banks; ++j) {
            const int bankNumber = rom.firstBank + j;
            // A Ctrl-C lets the bank in flight finish and asks for no new one.
            if (interrupts::stopRequested()) {
                console::out("\n");
                Outcome o = Outcome::failed(Step::RomBank, Cause::Interrupted, bankNumber);
                o.lastDone = lastBank;
                o.file = rom.file;
                return o;
            }
            console::out("ROM データを受信中 (%d/%d)\r", summary.banks + 1, total);

            const uint8_t request[3] = {wire::kCmdRomBank, static_cast<uint8_t>(bankNumber), fast};
            int code = sendPacket(request, 3, true, false);
            if (code != wire::kOk) {
                console::out("\nError1: %d\n", code);
                Outcome o = linkFailure(Step::RomBank, code, bankNumber);
                o.lastDone = lastBank;
                o.file = rom.file;
                return o;
            }
            // A short reply leaves zeros, not the previous bank, in the file.
            std::memset(bank, 0, sizeof bank);
            int received = 0;
            code = receivePacket(bank, kBankSize, fastReceive, &received);
            if (code != wire::kOk) {
                console::out("\nError2: %d\n", code);
                Outcome o = linkFailure(Step::RomBank, code, bankNumber);
                o.lastDone = lastBank;
                o.file = rom.file;
                return o;
            }
            ++summary.banks;
            if (verbose && received < kBankSize)
                console::out("\nbank %.2x: short reply of %d bytes, rest zero\n", bankNumber,
                             received);

            // A 2D-only machine has a 2 KiB disk ROM: half a bank, and no
            // second bank.
            const bool halfDiskRom = row == kDiskRomRow && caps.hasHdDrive == 0;
            const int length = halfDiskRom ? kBankSize / 2 : kBankSize;
            if (file.write(bank, length) != length) {
                console::out("\n");
                return fileFailure(file, rom);
            }
            lastBank = bankNumber;
            if (halfDiskRom)
                break;
        }
        file.close();
    }
    console::out("\n\n");

    return finishSequence(summary, lastBank);
}
