#!/usr/bin/env python3
"""Measures vantrel on a private Xvfb against its own pauses and against xdotool.

    python3 bench/x11_bench.py build/vantrel [--one-core]

With --one-core the benchmark, its server, vantrel and xdotool all run on the first processor,
which takes the cost of waking a process on another core out of every round trip (on a virtual
machine that cost varies from run to run by tens of microseconds). Prints one table: typing 1000 clusters present in the keymap and 1000 absent from it (all
distinct), a 350 ms move, and three quick actions per request (a move with no pauses, a key, a
cursor read) beside the same action done by xdotool, one process per action, which is what a
request/response client of that tool pays. Measures; asserts nothing.
"""
import json
import os
import statistics
import subprocess
import sys
import time


def start_server():
    read, write = os.pipe()
    server = subprocess.Popen(
        ["Xvfb", "-displayfd", str(write), "-screen", "0", "1280x800x24", "-nolisten", "tcp"],
        pass_fds=(write,), stderr=subprocess.DEVNULL)
    os.close(write)
    number = b""
    while not number.endswith(b"\n"):
        number += os.read(read, 16)
    os.close(read)
    return server, ":" + number.decode().strip()


class Vantrel:
    def __init__(self, binary, display):
        self.process = subprocess.Popen([binary], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                        env=dict(os.environ, DISPLAY=display), bufsize=0)
        self.next_id = 1

    # Plain reads and writes on the pipes: what a lean client pays, not a buffered file's cost.
    def request(self, **request):
        request["id"] = self.next_id
        self.next_id += 1
        os.write(self.process.stdin.fileno(), (json.dumps(request) + "\n").encode())
        line = b""
        while not line.endswith(b"\n"):
            chunk = os.read(self.process.stdout.fileno(), 65536)
            assert chunk, "vantrel ended"
            line += chunk
        reply = json.loads(line)
        assert reply.get("ok"), reply
        return reply

    def timed(self, **request):
        start = time.perf_counter()
        self.request(**request)
        return time.perf_counter() - start

    def close(self):
        self.process.stdin.close()
        self.process.wait()


def per_action(action, count, rounds=5):
    """The median over `rounds` of the mean time of `count` actions."""
    means = []
    for _ in range(rounds):
        start = time.perf_counter()
        for i in range(count):
            action(i)
        means.append((time.perf_counter() - start) / count)
    return statistics.median(means)


def main():
    arguments = [a for a in sys.argv[1:] if a != "--one-core"]
    binary = arguments[0] if arguments else "build/vantrel"
    if "--one-core" in sys.argv:
        os.sched_setaffinity(0, {min(os.sched_getaffinity(0))})
    server, display = start_server()
    try:
        vantrel = Vantrel(binary, display)
        vantrel.request(action="mouse_move", x=10, y=10, durationMs=-1)
        rows = []
        present = "".join("abcdefghijklmnopqrstuvwxyz0123456789"[i % 36] for i in range(1000))
        seconds = vantrel.timed(action="type", text=present)
        rows.append(("1000 clusters present in the keymap", seconds, 8.0))
        absent = "".join(chr(0x4E00 + i) for i in range(1000))
        seconds = vantrel.timed(action="type", text=absent)
        rows.append(("1000 distinct clusters absent from it", seconds, 8.0))
        seconds = vantrel.timed(action="mouse_move", x=1000, y=700, durationMs=350)
        rows.append(("a 350 ms move (140 steps)", seconds, 0.35))
        for label, ratio_of, expected in rows:
            print(f"{label:40s} {ratio_of:8.3f} s  {ratio_of / expected:6.3f} x its pauses")

        env = dict(os.environ, DISPLAY=display)
        count = 400
        quick = [
            ("ping (the pipes alone)",
             lambda i: vantrel.request(action="ping"),
             None),
            ("move, no pauses",
             lambda i: vantrel.request(action="mouse_move", x=100 + i % 50, y=100, durationMs=-1),
             lambda i: subprocess.run(["xdotool", "mousemove", str(100 + i % 50), "100"],
                                      env=env, check=True)),
            ("key a",
             lambda i: vantrel.request(action="key", text="a"),
             lambda i: subprocess.run(["xdotool", "key", "a"], env=env, check=True)),
            ("cursor position",
             lambda i: vantrel.request(action="cursor_position"),
             lambda i: subprocess.run(["xdotool", "getmouselocation"], env=env, check=True,
                                      stdout=subprocess.DEVNULL)),
        ]
        print(f"{'action':40s} {'vantrel':>10s} {'xdotool':>10s} {'ratio':>8s}")
        for label, ours, theirs in quick:
            mine = per_action(ours, count)
            if theirs is None:
                print(f"{label:40s} {mine * 1e6:8.0f} us")
                continue
            other = per_action(theirs, count // 8)
            print(f"{label:40s} {mine * 1e6:8.0f} us {other * 1e6:8.0f} us {other / mine:7.0f}x")
        vantrel.close()
    finally:
        server.terminate()
        server.wait()


if __name__ == "__main__":
    main()
