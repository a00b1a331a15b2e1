#!/usr/bin/env python3
"""Reads a disk through ferry88sim with `ferry2 r`, twice:

  unthrottled  a whole 2HD disk (154 formatted tracks) as fast as the pseudo-terminal goes;
  paced        --baud 19200: the sim paces the line both ways at the rate the client's port
               is set to (19200 bps, 38400 for double-speed replies), on a whole 2D disk
               (80 formatted tracks of 16 sectors of 256 bytes).

For each it reports the wall time, the client's CPU time, the modelled line time (every
character that crossed the line, 10 bits each, at the rate in force when it crossed; from
the sim's log) and the ratio of wall time to line time. Paced, the ratio says how close
ferry2 comes to the line: 1.00 would be a line never idle.

    bench/read_bench.py [--build build]
"""
import argparse
import os
import random
import resource
import struct
import subprocess
import tempfile
import time

from sim_log import line_traffic


def d88_image(formatted_tracks, sectors=26, size_code=1, media=0x20, seed=8801):
    """An image of the medium byte `media` (0x00 2D, 0x20 2HD): the given tracks formatted
    with `sectors` sectors of 128 << size_code."""
    rng = random.Random(seed)
    size = 128 << size_code
    header = bytearray(688)
    header[0:11] = b"READ BENCH\0"
    header[27] = media
    body = bytearray()
    for t in range(164):
        if t not in formatted_tracks:
            continue
        struct.pack_into("<I", header, 32 + 4 * t, 688 + len(body))
        for r in range(1, sectors + 1):
            body += bytes([t // 2, t % 2, r, size_code]) + struct.pack("<H", sectors)
            body += bytes([0, 0, 0, 0, 0, 0, 0, 0]) + struct.pack("<H", size)
            # Half text-like, half fill: a plausible mix for the run-length replies.
            text = bytes(rng.choice(b"ABCDEFGHIJKLMNOP 0123456789\r\n") for _ in range(size // 2))
            body += text + bytes([0xE5]) * (size - len(text))
    struct.pack_into("<I", header, 28, 688 + len(body))
    return bytes(header + body)


def run(build, image_bytes, sim_args, label):
    with tempfile.TemporaryDirectory() as work:
        image = os.path.join(work, "src.d88")
        with open(image, "wb") as f:
            f.write(image_bytes)
        log = os.path.join(work, "sim.log")
        sim = subprocess.Popen([os.path.join(build, "sim", "ferry88sim"), "--drive1", image,
                                "--log", log] + sim_args,
                               stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        port = sim.stdout.readline().strip()
        start = time.monotonic()
        client = subprocess.Popen([os.path.join(build, "ferry2"), "r", "-p" + port, "out.d88"],
                                  cwd=work, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                  stderr=subprocess.STDOUT, env=dict(os.environ, LC_ALL="C.UTF-8"))
        _, status, usage = os.wait4(client.pid, 0)
        wall = time.monotonic() - start
        output = client.stdout.read().decode()
        sim.wait(timeout=10)
        if status != 0 or "終了しました" not in output:
            raise SystemExit(f"{label}: ferry2 failed:\n{output}")
        cpu = usage.ru_utime + usage.ru_stime
        _, _, wire, agent = line_traffic(log, 19200)
        read_ms = [l for l in output.splitlines() if l.endswith(" ms.")]
        print(f"{label:12s} wall {wall:7.3f} s   client cpu {cpu:6.3f} s   "
              f"line {wire:7.3f} s (agent→PC {agent:7.3f} s)   wall/line {wall / wire:5.3f}   "
              f"({read_ms[-1] if read_ms else ''})")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", default="build")
    args = parser.parse_args()
    args.build = os.path.abspath(args.build)
    run(args.build, d88_image(set(range(154))), [], "unthrottled")
    run(args.build, d88_image(set(range(80)), sectors=16, size_code=1, media=0x00),
        ["--baud", "19200"], "paced 2D")


if __name__ == "__main__":
    main()
