// ferry88sim: a simulated PC-8801 agent for the ferry2 client, on a
// pseudo-terminal. The first line on standard output is the slave device.
#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "sim/agent.h"
#include "sim/d88_info.h"
#include "sim/floppy.h"
#include "sim/pty_port.h"
#include "sim/rom_banks.h"
#include "sim/sample_disk.h"
#include "sim/sim_log.h"
#include "sim/sim_options.h"

namespace {

volatile std::sig_atomic_t stopRequested = 0;

void onSignal(int)
{
    stopRequested = 1;
}

void installHandlers()
{
    // No SA_RESTART: a poll in progress returns at once and the loops see the flag.
    struct sigaction sa;
    std::memset(&sa, 0, sizeof sa);
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);
}

// Written under a temporary name and renamed, so that a reader polling for the
// file never sees half a path.
bool writePortFile(const std::string& path, const std::string& slave)
{
    std::string temp = path + ".tmp";
    std::FILE* f = std::fopen(temp.c_str(), "w");
    if (!f)
        return false;
    bool ok = std::fprintf(f, "%s\n", slave.c_str()) > 0;
    ok = std::fclose(f) == 0 && ok;
    return ok && std::rename(temp.c_str(), path.c_str()) == 0;
}

bool loadDrive(const sim::SimOptions& o, int drive, std::unique_ptr<sim::Floppy>* out)
{
    if (!o.image[drive].empty()) {
        out->reset(new sim::Floppy);
        std::string error;
        if (!(*out)->load(o.image[drive], &error, o.imageIndex[drive])) {
            std::fprintf(stderr, "ferry88sim: %s: %s\n", o.image[drive].c_str(), error.c_str());
            return false;
        }
    } else if (o.blank[drive] >= 0) {
        out->reset(new sim::Floppy);
        (*out)->blank(o.blank[drive]);
    } else if (drive == 0 && o.sample) {
        out->reset(new sim::Floppy(sim::makeSampleFloppy()));
    }
    return true;
}

// Disks are saved on every way out, so a run stopped by a signal keeps what
// the client wrote.
bool saveDrives(const sim::SimOptions& o, std::unique_ptr<sim::Floppy>* drives)
{
    bool ok = true;
    for (int d = 0; d < 2; ++d) {
        if (o.save[d].empty())
            continue;
        if (!drives[d]) {
            std::fprintf(stderr, "ferry88sim: drive %d is empty, %s not written\n", d + 1,
                         o.save[d].c_str());
            ok = false;
            continue;
        }
        std::string error;
        if (!drives[d]->save(o.save[d], &error)) {
            std::fprintf(stderr, "ferry88sim: %s: %s\n", o.save[d].c_str(), error.c_str());
            ok = false;
        }
    }
    return ok;
}

bool loadDrives(const sim::SimOptions& o, sim::SimLog& log, std::unique_ptr<sim::Floppy>* drives)
{
    for (int d = 0; d < 2; ++d) {
        if (!loadDrive(o, d, &drives[d]))
            return false;
        if (drives[d]) {
            for (const std::string& warning : drives[d]->loadWarnings())
                log.event("load-warning", {{"drive", d + 1}, {"what", warning}});
        }
    }
    return true;
}

bool loadRoms(const sim::SimOptions& o, sim::SimLog& log, sim::RomBanks* roms)
{
    if (o.romDir.empty())
        return true;
    std::vector<std::string> found;
    std::string error;
    if (!roms->loadDir(o.romDir, &found, &error)) {
        std::fprintf(stderr, "ferry88sim: %s\n", error.c_str());
        return false;
    }
    std::string names;
    for (const std::string& name : found)
        names += (names.empty() ? "" : " ") + name;
    log.event("rom-files", {{"dir", o.romDir}, {"found", names}});
    return true;
}

// Opens the line, serves the sessions and saves the drives: the exit status.
int serve(const sim::SimOptions& options, sim::SimLog& log,
          std::unique_ptr<sim::Floppy>* drives, const sim::RomBanks& roms)
{
    sim::PtyPort port;
    std::string error;
    if (!port.open(&error)) {
        std::fprintf(stderr, "ferry88sim: %s\n", error.c_str());
        return 1;
    }
    installHandlers();
    port.setStopFlag(&stopRequested);
    if (options.baud)
        port.setPacing(options.baud);

    std::printf("%s\n", port.slavePath().c_str());
    std::fflush(stdout);
    if (!options.portFile.empty() && !writePortFile(options.portFile, port.slavePath())) {
        std::fprintf(stderr, "ferry88sim: cannot write %s\n", options.portFile.c_str());
        return 1;
    }
    log.event("start", {{"port", port.slavePath()},
                        {"drive1", drives[0] ? drives[0]->medium() : -1},
                        {"drive2", drives[1] ? drives[1]->medium() : -1}});

    sim::Agent agent(options, port, log, drives[0].get(), drives[1].get(), roms);
    using Outcome = sim::Agent::Outcome;
    const Outcome outcome = agent.serve();
    const char* how = outcome == Outcome::Sessions  ? "sessions"
                      : outcome == Outcome::Stopped ? "signal"
                      : outcome == Outcome::HungUp  ? "hangup"
                                                    : "time limit";
    if (outcome == Outcome::HungUp)
        port.hangUp();
    else if (outcome != Outcome::Stopped)
        port.linger(3000);
    log.event("exit", {{"reason", how}, {"sessions", agent.sessionsCompleted()}});

    bool saved = saveDrives(options, drives);
    if (outcome == Outcome::TimedOut) {
        std::fprintf(stderr, "ferry88sim: time limit reached\n");
        return 3;
    }
    return saved ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    sim::SimOptions options;
    std::string error;
    if (!sim::parseSimOptions(argc, argv, &options, &error)) {
        std::fprintf(stderr, "ferry88sim: %s\n%s", error.c_str(), sim::simUsage());
        return 1;
    }
    if (options.help) {
        std::fputs(sim::simUsage(), stdout);
        return 0;
    }
    if (options.showVersion) {
        std::printf("ferry88sim %s\n", FERRY88SIM_VERSION);
        return 0;
    }

    if (!options.info.empty()) {
        std::string text;
        if (!sim::describeD88(options.info, &text)) {
            std::fprintf(stderr, "ferry88sim: %s: %s\n", options.info.c_str(), text.c_str());
            return 1;
        }
        std::fputs(text.c_str(), stdout);
        return 0;
    }

    sim::SimLog log;
    log.setEcho(options.verbose);
    if (!options.logPath.empty() && !log.open(options.logPath, &error)) {
        std::fprintf(stderr, "ferry88sim: %s\n", error.c_str());
        return 1;
    }
    std::unique_ptr<sim::Floppy> drives[2];
    sim::RomBanks roms;
    if (!loadDrives(options, log, drives) || !loadRoms(options, log, &roms))
        return 1;
    return serve(options, log, drives, roms);
}
