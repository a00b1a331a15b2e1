"""Reading ferry88sim's JSON log for the benchmarks: what crossed the line, and how long it
takes on a real line (10 bits a byte, at the rate in force when it crossed; a reply the
client asked for at double speed goes at twice the line rate)."""
import json


def packet_chars(payload_len):
    """Characters of a packet whose payload has payload_len bytes: the lead character and
    the 7-bit coded body (sequence, length, payload, CRC)."""
    return 1 + ((payload_len + 6) * 8 + 6) // 7


def line_traffic(log_path, line_rate):
    """(bytes PC to agent, bytes agent to PC, seconds both ways, seconds agent to PC)."""
    to_agent = from_agent = 0
    seconds = agent_seconds = 0.0
    fast_pending = False
    with open(log_path) as log:
        for line in log:
            entry = json.loads(line)
            if "lead" in entry:
                chars = packet_chars(len(entry["payload"]) // 2)
                to_agent += chars
                seconds += chars * 10 / entry["speed"]
            elif entry.get("event") == "fast-wait":
                fast_pending = True
            elif entry.get("event") == "sent":
                rate = 2 * line_rate if fast_pending and not entry.get("ack") else line_rate
                if not entry.get("ack"):
                    fast_pending = False
                from_agent += entry["wire"]
                seconds += entry["wire"] * 10 / rate
                agent_seconds += entry["wire"] * 10 / rate
    return to_agent, from_agent, seconds, agent_seconds
