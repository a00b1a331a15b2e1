#pragma once
// The simulated agent: takes the PC's packets off the pseudo-terminal, answers
// each command as the PC-8801 program would, and logs what it sees and every
// rule the client breaks (speed switches, sequence numbers, payload sizes).
//
// Like the real agent it runs a command loop: after an end command it waits
// for the next hello. A session is one client connection; it holds one or
// more command sequences, each from a hello to its end command. A client that
// opens its port purges its input, which the agent sees: a hello after such a
// purge is a new client, a hello without one continues the same connection.
#include <cstdint>
#include <string>
#include <vector>

#include "sim/agent_packet.h"
#include "sim/medium_faults.h"

namespace sim {

class Floppy;
class PtyPort;
class RomBanks;
class SimLog;
struct SimOptions;

class Agent {
public:
    // HungUp: a fault hung up the line; the caller closes the port at once.
    enum class Outcome { Sessions, Stopped, TimedOut, HungUp };

    // drive1 and drive2 may be null (an empty drive). Everything is borrowed.
    Agent(const SimOptions& options, PtyPort& port, SimLog& log, Floppy* drive1, Floppy* drive2,
          const RomBanks& roms);

    // Serves sessions until the count of the options is reached, the port's
    // stop flag is raised, the run's time limit passes or a fault hangs up.
    Outcome serve();
    int sessionsCompleted() const { return completed; }

private:
    enum class Phase {
        Idle,         // no client: the next packet starts a session
        InSequence,   // a command sequence runs
        AfterEnd,     // its end command was acknowledged: the same client may say hello again
    };

    // What one command sequence did, for its sequence-end line.
    struct CommandSequence {
        bool work = false;   // a command other than hello was accepted
        bool read = false, write = false, rom = false;
        std::vector<int> tracks;   // delivered or written, in order
        int banks = 0;
        // "read", "write", "rom", "mixed" or "none".
        const char* kind() const;
    };

    struct PendingWrite {
        bool active = false;
        int track = 0;
        int length = 0;
        int drive = 0;
    };

    Outcome run();
    int waitMs() const;
    bool nextPacket(int timeoutMs, ReceivedPacket* out);
    void handle(const ReceivedPacket& p);
    bool followClient(bool hello, bool purged);
    bool lineFault(const ReceivedPacket& p);
    void handleCommand(const ReceivedPacket& p);
    bool acceptCommand(const ReceivedPacket& p);
    void readCommand(const std::vector<uint8_t>& payload, uint64_t purgesBefore);
    void handleData(const ReceivedPacket& p);
    uint8_t unpackTrack(const std::vector<uint8_t>& payload, std::vector<uint8_t>* data);
    uint8_t writeCheck(const PendingWrite& w, size_t length);

    void medium(const std::vector<uint8_t>& payload);
    void readTrack(int track, bool fast, uint64_t purgesBefore);
    void romBank(int bank, bool fast, uint64_t purgesBefore);
    void logFaults(const std::vector<FaultAction>& acted);
    void hangUp(int track);

    void startSession();
    void endSession(const char* reason);
    void startSequence();
    void endSequence(const char* reason);
    bool lastSession() const;
    bool done() const;
    bool timeUp();

    enum class Sent { Ack, Reply };
    void send(Sent kind, std::vector<uint8_t> payload);
    void sendNoise();
    std::vector<uint8_t> frameReply(const std::vector<uint8_t>& payload, uint8_t* lead,
                                    const char** method) const;
    void awaitFastSwitch(const char* what, uint64_t purgesBefore);

    const SimOptions& options;
    PtyPort& port;
    SimLog& log;
    Floppy* drives[2];
    const RomBanks& roms;
    MediumFaults faults;

    PacketDecoder decoder;
    uint16_t packetSeq = 0;        // of the PC's last "!" packet
    int64_t startUs = 0;
    bool timedOut = false;

    // Counters of the whole run, for fault injection.
    int packetsReceived = 0;
    int commandsReceived = 0;
    int packetsSent = 0;
    int mediumQueries = 0;
    uint32_t noiseState = 0x2545F491;
    bool silenced = false;         // --silent-after, --silent-at-track, --mute-after at work
    bool hungUp = false;

    // Session state.
    Phase phase = Phase::Idle;
    int completed = 0;
    int session = 0;               // number of the current session, from 1
    int sequences = 0;             // command sequences of the current session
    uint64_t purgesAtLastPacket = 0;
    unsigned lineSpeed = 0;        // the client's speed at its hello

    // Sequence state.
    CommandSequence current;
    int currentDrive = 0;
    int nextTrack = 0;
    bool reading = false;
    PendingWrite pendingWrite;
};

} // namespace sim
