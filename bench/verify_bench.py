#!/usr/bin/env python3
"""What a verified write costs: for each image of the D88 corpus, `ferry2 w`, `ferry2 w --verify`
and `ferry2 r` of the same disk through ferry88sim paced both ways at 19200 bps (--baud 19200,
double-speed replies at 38400), with the wall time, the modelled line time (10 bits a character
at the rate in force; from the sim's log), their ratio and the characters on the line in each
direction. Verification should cost no more than one `r` of the same disk, plus the rewrites;
a ratio near 1.00 says ferry2 keeps the line busy.

    bench/verify_bench.py [--build build] [--corpus ../shared/testdata/d88] [--baud 19200]
                          [--whole-2d] [image ...]

--whole-2d takes, instead of the corpus, the whole 2D disk of read_bench.py (80 tracks of 16
sectors of 256 bytes, half text, half fill): the disk the paced figures in README.md are for.

It takes a while: a 2HD disk read back at 38400 bps is minutes of line time.
"""
import argparse
import glob
import os
import struct
import subprocess
import tempfile
import time

from read_bench import d88_image
from sim_log import line_traffic

MEDIA = {0x00: "2D", 0x10: "2DD", 0x20: "2HD"}


def run(build, work, sim_args, ferry_args, stdin_text=""):
    log = os.path.join(work, "sim.log")
    if os.path.exists(log):
        os.remove(log)
    sim = subprocess.Popen([os.path.join(build, "sim", "ferry88sim"), "--log", log] + sim_args,
                           stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    port = sim.stdout.readline().strip()
    start = time.monotonic()
    client = subprocess.run([os.path.join(build, "ferry2")] + ferry_args[:1] + ["-p" + port] +
                            ferry_args[1:], cwd=work, input=stdin_text.encode(),
                            stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                            env=dict(os.environ, LC_ALL="C.UTF-8"))
    wall = time.monotonic() - start
    sim.wait(timeout=30)
    output = client.stdout.decode()
    if client.returncode != 0:
        raise SystemExit(f"ferry2 {' '.join(ferry_args)} failed:\n{output}")
    to_agent, from_agent, wire, _ = line_traffic(log, 19200)
    return wall, to_agent, from_agent, wire


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", default="build")
    parser.add_argument("--corpus", default=os.path.join(os.path.dirname(__file__), "..", "..",
                                                         "shared", "testdata", "d88"))
    parser.add_argument("--baud", default="19200")
    parser.add_argument("--whole-2d", action="store_true")
    parser.add_argument("images", nargs="*")
    args = parser.parse_args()
    build = os.path.abspath(args.build)
    images = args.images or sorted(glob.glob(os.path.join(args.corpus, "*.d88")) +
                                   glob.glob(os.path.join(args.corpus, "*.d77")))
    if args.whole_2d:
        with tempfile.NamedTemporaryFile(prefix="whole-2d-", suffix=".d88", delete=False) as f:
            f.write(d88_image(set(range(80)), sectors=16, size_code=1, media=0x00))
        images = [f.name]
    print(f"{'image':24s} {'':8s} {'wall s':>8s} {'line s':>8s} {'wall/line':>9s} {'PC->88':>9s} "
          f"{'88->PC':>9s}")
    for image in images:
        with open(image, "rb") as f:
            media = MEDIA.get(f.read(688)[27], "2D")
        with tempfile.TemporaryDirectory() as work:
            src = os.path.join(work, "src.d88")
            with open(image, "rb") as f, open(src, "wb") as out:
                data = f.read()
                size = struct.unpack_from("<I", data, 28)[0]
                out.write(data[:size])   # the first image of the file
            name = os.path.basename(image)[:24]
            paced = ["--baud", args.baud]
            rows = [
                ("w", ["--blank1", media] + paced, ["w", "src.d88"], "\n"),
                ("w verify", ["--blank1", media] + paced, ["w", "--verify", "src.d88"], "\n"),
                ("r", ["--drive1", src] + paced, ["r", "out.d88"], ""),
            ]
            for label, sim_args, ferry_args, stdin_text in rows:
                wall, to_agent, from_agent, wire = run(build, work, sim_args, ferry_args,
                                                       stdin_text)
                print(f"{name:24s} {label:8s} {wall:8.1f} {wire:8.1f} {wall / wire:9.3f} "
                      f"{to_agent:9d} {from_agent:9d}", flush=True)
                name = ""
    if args.whole_2d:
        os.remove(images[0])


if __name__ == "__main__":
    main()
