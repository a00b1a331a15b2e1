#pragma once
// Which track each read-track command names. The agent delivers the track that
// the command before named (the begin command names track 0), so the command
// that delivers a track has already named the next one before that track's
// reply is seen. A track that comes back with errors is retried by naming it
// again at once: the reply of the track already named comes first, then the
// retry, then the schedule goes on where it was.
//
//   command        names   delivers
//   begin            0
//   05 01            1       0        track 0 comes back with errors
//   05 00            0       1        its retry is named ...
//   05 02            2       0        ... and delivered after track 1
//   05 03            3       2
//
// The last track is delivered by the read-last-track command, after which the
// agent names nothing; retrying it needs a new begin, whose track 0 is read
// again and not used.
#include <deque>
#include <map>
#include <set>
#include <vector>

class ReadSchedule {
public:
    enum class Command {
        Begin,      // send the begin command (it names track 0)
        ReadNext,   // read track command: deliver `delivers`, name `names`
        ReadLast,   // read last track command: deliver `delivers`
        Done,
    };
    struct Next {
        Command command = Command::Done;
        int delivers = -1;
        int names = -1;
    };
    // What one reply was to the reader.
    struct Reply {
        bool wanted = false;    // a track of the list, not yet final
        int attempt = 0;        // 1 for the first read of the track
        bool final = false;     // no more replies of this track will come
    };

    // tracks: the tracks to read, in the order they are to be read (ascending);
    // track 0 comes first whether listed or not, since begin names it.
    // retries: further reads of a track whose reply has sectors with errors.
    ReadSchedule(const std::vector<int>& tracks, int retries);

    // The command to send now.
    Next next() const;
    // Whether a reply of track t now would be used (a track of the list that
    // is not final yet), so that a reader shows only those.
    bool uses(int t) const { return wanted.count(t) && !finished.count(t); }
    // The begin command was acknowledged and answered.
    void begun();
    // The reply to the read command from next() came; `bad` when it has
    // sectors with a CRC error or a missing address mark.
    Reply replied(bool bad);

private:
    std::set<int> wanted;
    std::set<int> finished;
    std::map<int, int> attempts;
    std::deque<int> pending;     // tracks still to be named, in order
    int inFlight = -1;           // the track the next reply carries
    bool started = false;
    int retries = 0;
};
