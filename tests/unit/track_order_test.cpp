// The read-track commands a read sends, with the one-ahead naming: a plain
// read, a resumed one, a few tracks read back, and retries interleaved with
// the track already named.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "transfer/track_order.h"

namespace {

struct Row {
    const char* label;
    std::vector<int> tracks;
    int retries;
    std::set<int> bad;                   // tracks whose every reply has errors
    std::set<int> weak;                  // tracks whose first reply has errors
    std::string commands;                // B begin, N>t names t, L read last; =t delivered
    std::string finals;                  // tracks in the order they became final
};

// Runs the schedule against an agent that delivers the track named before.
void run(const Row& row, std::string* commands, std::string* finals)
{
    ReadSchedule schedule(row.tracks, row.retries);
    int agentNext = -1;
    std::set<int> readOnce;
    for (int guard = 0; guard < 1000; ++guard) {
        const ReadSchedule::Next n = schedule.next();
        if (n.command == ReadSchedule::Command::Done)
            return;
        if (n.command == ReadSchedule::Command::Begin) {
            *commands += "B ";
            agentNext = 0;
            schedule.begun();
            continue;
        }
        ASSERT_EQ(n.delivers, agentNext) << row.label;
        const int delivered = agentNext;
        if (n.command == ReadSchedule::Command::ReadNext) {
            *commands += "N>" + std::to_string(n.names);
            agentNext = n.names;
        } else {
            *commands += "L";
            agentNext = -1;
        }
        *commands += "=" + std::to_string(delivered) + " ";
        const bool weak = row.weak.count(delivered) > 0 && readOnce.insert(delivered).second;
        const ReadSchedule::Reply reply = schedule.replied(row.bad.count(delivered) > 0 || weak);
        if (reply.final)
            *finals += std::to_string(delivered) + " ";
    }
    FAIL() << row.label << ": no end";
}

TEST(ReadSchedule, NamesTracksOneAhead)
{
    const Row rows[] = {
        {"plain read", {0, 1, 2, 3}, 0, {}, {}, "B N>1=0 N>2=1 N>3=2 L=3 ", "0 1 2 3 "},
        {"resumed at 2", {0, 2, 3}, 0, {}, {}, "B N>2=0 N>3=2 L=3 ", "0 2 3 "},
        {"read back 5 and 9", {5, 9}, 0, {}, {}, "B N>5=0 N>9=5 L=9 ", "5 9 "},
        {"read back 0 and 5", {0, 5}, 0, {}, {}, "B N>5=0 L=5 ", "0 5 "},
        {"only track 0", {0}, 0, {}, {}, "B L=0 ", "0 "},
        {"errors kept without retries", {0, 1, 2}, 0, {1}, {}, "B N>1=0 N>2=1 L=2 ", "0 1 2 "},
        {"middle track always bad", {0, 1, 2, 3}, 2, {1}, {},
         "B N>1=0 N>2=1 N>1=2 N>3=1 N>1=3 L=1 ", "0 2 3 1 "},
        {"track 0 always bad", {0, 1, 2}, 1, {0}, {}, "B N>1=0 N>0=1 N>2=0 L=2 ", "1 0 2 "},
        {"last track always bad", {0, 1, 2}, 1, {2}, {}, "B N>1=0 N>2=1 L=2 B N>2=0 L=2 ",
         "0 1 2 "},
        {"two neighbours bad", {0, 1, 2, 3}, 1, {1, 2}, {},
         "B N>1=0 N>2=1 N>1=2 N>2=1 N>3=2 L=3 ", "0 1 2 3 "},
        // Track 1 bad the first time only: its retry is the last of its replies,
        // and its neighbour's reply in between is its own.
        {"weak track", {0, 1, 2, 3}, 5, {}, {1}, "B N>1=0 N>2=1 N>1=2 N>3=1 L=3 ", "0 2 1 3 "},
    };
    for (const Row& row : rows) {
        std::string commands, finals;
        run(row, &commands, &finals);
        EXPECT_EQ(commands, row.commands) << row.label;
        EXPECT_EQ(finals, row.finals) << row.label;
    }
}

} // namespace
