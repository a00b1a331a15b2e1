#pragma once
// The simulated agent: takes the PC's packets off the pseudo-terminal, answers
// each command as the PC-8801 program would, and logs what it sees and every
// rule the client breaks (speed switches, sequence numbers, payload sizes).
#include <cstdint>
#include <string>
#include <vector>

#include "sim/agent_packet.h"

namespace sim {

class Floppy;
class PtyPort;
class RomBanks;
class SimLog;
struct SimOptions;

class Agent {
public:
    enum class Outcome { Sessions, Stopped, TimedOut };

    // drive1 and drive2 may be null (an empty drive). Everything is borrowed.
    Agent(const SimOptions& options, PtyPort& port, SimLog& log, Floppy* drive1, Floppy* drive2,
          const RomBanks& roms);

    // Serves sessions until the count of the options is reached, the port's
    // stop flag is raised or the run's time limit passes.
    Outcome serve();
    int sessionsCompleted() const { return completed; }

private:
    struct PendingWrite {
        bool active = false;
        int track = 0;
        int length = 0;
        int drive = 0;
    };

    bool nextPacket(int timeoutMs, ReceivedPacket* out);
    void handle(const ReceivedPacket& p);
    void handleCommand(const ReceivedPacket& p);
    void handleData(const ReceivedPacket& p);

    void medium(const std::vector<uint8_t>& payload);
    void readTrack(int track, bool fast, uint64_t purgesBefore);
    void romBank(int bank, bool fast, uint64_t purgesBefore);

    void startSession();
    void endSession(const char* reason);
    bool done() const;
    bool timeUp();

    enum class Sent { Ack, Reply };
    void send(Sent kind, std::vector<uint8_t> payload);
    void sendNoise();
    void awaitFastSwitch(const char* what, uint64_t purgesBefore);

    const SimOptions& options;
    PtyPort& port;
    SimLog& log;
    Floppy* drives[2];
    const RomBanks& roms;

    PacketDecoder decoder;
    uint16_t sequence = 0;         // of the PC's last "!" packet
    int64_t startUs = 0;
    bool timedOut = false;

    // Counters of the whole run, for fault injection.
    int packetsReceived = 0;
    int commandsReceived = 0;
    int packetsSent = 0;
    int mediumQueries = 0;
    uint32_t noiseState = 0x2545F491;

    // Session state.
    bool sessionActive = false;
    bool sessionHadWork = false;   // a command other than hello was accepted
    uint64_t purgesAtLastPacket = 0;
    unsigned lineSpeed = 0;        // the client's speed at its hello
    int completed = 0;
    int currentDrive = 0;
    int nextTrack = 0;
    bool reading = false;
    PendingWrite pendingWrite;
};

} // namespace sim
