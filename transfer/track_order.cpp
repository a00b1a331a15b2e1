#include "transfer/track_order.h"

ReadSchedule::ReadSchedule(const std::vector<int>& tracks, int retries) : retries(retries)
{
    for (int t : tracks) {
        wanted.insert(t);
        // Begin names track 0 itself.
        if (t != 0)
            pending.push_back(t);
    }
}

ReadSchedule::Next ReadSchedule::next() const
{
    Next n;
    if (inFlight < 0) {
        // At the start, and after the read-last-track command when a retry
        // is still to come: only a begin makes the agent deliver again.
        n.command = !started || !pending.empty() ? Command::Begin : Command::Done;
        return n;
    }
    n.delivers = inFlight;
    if (pending.empty()) {
        n.command = Command::ReadLast;
    } else {
        n.command = Command::ReadNext;
        n.names = pending.front();
    }
    return n;
}

void ReadSchedule::begun()
{
    started = true;
    inFlight = 0;
}

ReadSchedule::Reply ReadSchedule::replied(bool bad)
{
    const int t = inFlight;
    // The command that brought this reply named the next track, if any.
    if (pending.empty()) {
        inFlight = -1;
    } else {
        inFlight = pending.front();
        pending.pop_front();
    }

    Reply reply;
    if (!wanted.count(t) || finished.count(t))
        return reply;   // track 0 after a new begin, or one not asked for
    reply.wanted = true;
    reply.attempt = ++attempts[t];
    if (bad && reply.attempt <= retries) {
        // Named by the very next command: its reply comes after the one
        // already named.
        pending.push_front(t);
        return reply;
    }
    reply.final = true;
    finished.insert(t);
    return reply;
}
