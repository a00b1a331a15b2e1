// PacketLink::receivePacket fed an arbitrary byte stream through the memory
// line: the hunt for a lead character, the 7-bit character code, sequence,
// length, CRC and the expansion of a "$" reply, packet after packet.
//
// Input: u8 flags (bit 0: double-speed receive), u16 capacity, u16 expected
// sequence number, then the bytes on the line.
#include <cstdint>
#include <memory>

#include "link/packet_link.h"
#include "link/protocol.h"
#include "tests/fuzz/fuzz_input.h"
#include "tests/fuzz/memory_line.h"

class PacketLinkTestAccess
{
public:
    static void setSequence(PacketLink& link, uint16_t s) { link.sequence = s; }
};

namespace
{

// Enough for every packet a short input can hold; each failed read costs a byte
// or ends the line, so the loop always ends.
constexpr int kMaxPackets = 64;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::FuzzInput in(data, size);
    const bool fast = (in.u8() & 1) != 0;
    const int capacity = in.u16() & 0x7FFF;
    const uint16_t sequence = in.u16();
    memory_line::load(in.rest(), in.remaining());

    // A link of its own per input: a character kept back from the last
    // packet (pushback) must not leak from one input into the next.
    PacketLink link;
    if (link.open(1, 19200) != 0)
        __builtin_trap();
    PacketLinkTestAccess::setSequence(link, sequence);
    std::unique_ptr<uint8_t[]> buffer(new uint8_t[static_cast<size_t>(capacity)]);

    for (int i = 0; i < kMaxPackets && memory_line::remaining() > 0; ++i) {
        int received = -1;
        const int code = link.receivePacket(buffer.get(), capacity, fast, &received);
        if (received < 0 || received > capacity || (code != wire::kOk && received != 0))
            __builtin_trap();
        if (code != wire::kOk && code != wire::kIoError && code != wire::kProtocolError &&
            code != wire::kCrcMismatch && code != wire::kBadMethod)
            __builtin_trap();
        // Every failure names its cause for the messages; a success clears it.
        if ((code == wire::kOk) != (link.lastLinkFault() == LinkFault::None))
            __builtin_trap();
        // The speed of a double-speed receive is put back on every way out.
        if (link.currentSpeed() != 19200)
            __builtin_trap();
    }
    return 0;
}
