#!/usr/bin/env python3
"""Helpers of bench/wine-install.sh.

  wine_bench.py corpus DIR SMALL BIGMIB[,BIGMIB...] [SEED]
      Writes DIR/app: SMALL files of 1-64 KiB in folders of 100 (d00, d01, ...) and one
      file per BIGMIB in DIR/app/big. Fixed seed: the same arguments give the same bytes,
      and file i is the same in every corpus of the same seed.
  wine_bench.py time LABEL [--follow TEXT] -- COMMAND...
      Runs COMMAND (a Wine program: wine execs into the Windows process, so the child is
      that process) and prints one line: LABEL, wall seconds from start to exit, the
      child's peak resident memory (VmHWM at exit, from wait4) in KiB, its exit code and
      the load average just before the start, its user and system CPU seconds and the CPU
      seconds the prefix's wineserver spent meanwhile (when one was running at the start). --follow also waits, polling, for every
      process of this WINEPREFIX whose command line holds TEXT and that exists when the
      child ends (the uninstaller hands its work to a copy of itself and exits).
      The program's output is appended to $WINE_BENCH_LOG (default: discarded).
  wine_bench.py pe-arch FILE...
      Prints, one line per file, the architecture of a Windows program: i686 for a PE32,
      x86_64 for a PE32+, "none" for anything else; exit code 1 if any is none.
"""
import os
import random
import sys
import time

POOL_TEXT = 4 << 20
POOL_RANDOM = 1 << 20


def make_pools(rng):
    words = []
    for _ in range(3000):
        n = 2 + rng.randrange(9)
        words.append("".join(chr(97 + rng.randrange(26)) for _ in range(n)))
    # A skewed choice, as in text: a few words are common.
    parts, size = [], 0
    while size < POOL_TEXT:
        line = " ".join(words[int(len(words) * rng.random() ** 3)] for _ in range(4 + rng.randrange(12)))
        line += "\r\n"
        parts.append(line)
        size += len(line)
    text = "".join(parts).encode("ascii")[:POOL_TEXT]
    noise = rng.randbytes(POOL_RANDOM)
    return text, noise


def piece(rng, pool, n):
    """n bytes of pool from a random offset (wrapping)."""
    at = rng.randrange(len(pool))
    out = pool[at:at + n]
    while len(out) < n:
        out += pool[:n - len(out)]
    return out


def corpus(directory, small, bigs, seed):
    rng = random.Random(seed)
    text, noise = make_pools(rng)
    app = os.path.join(directory, "app")
    total = 0
    for i in range(small):
        # Each file draws from its own generator: file i is the same whatever SMALL is.
        r = random.Random(seed * 1000003 + i)
        size = 1024 + r.randrange(63 * 1024 + 1)
        # One file in four is binary-like (barely compresses), the rest text-like.
        data = piece(r, noise if i % 4 == 3 else text, size)
        folder = os.path.join(app, "d%02d" % (i // 100))
        if i % 100 == 0:
            os.makedirs(folder, exist_ok=True)
        with open(os.path.join(folder, "f%05d.dat" % i), "wb") as f:
            f.write(data)
        total += size
    if bigs:
        os.makedirs(os.path.join(app, "big"), exist_ok=True)
    for k, mib in enumerate(bigs):
        r = random.Random(seed * 7919 + k)
        size = int(mib * (1 << 20))
        with open(os.path.join(app, "big", "big%d.dat" % k), "wb") as f:
            left = size
            while left > 0:
                n = min(left, 1 << 20)
                f.write(piece(r, noise if r.randrange(4) == 0 else text, n))
                left -= n
        total += size
    print("corpus: %d files of 1-64 KiB, %d large (%s MiB), %.1f MiB in all, seed %d"
          % (small, len(bigs), ",".join("%g" % b for b in bigs), total / 1048576.0, seed))


def prefix_processes(text):
    """PIDs of processes of this WINEPREFIX whose command line holds text."""
    prefix = ("WINEPREFIX=" + os.environ.get("WINEPREFIX", "")).encode()
    found = []
    for name in os.listdir("/proc"):
        if not name.isdigit() or int(name) == os.getpid():
            continue
        try:
            with open("/proc/%s/cmdline" % name, "rb") as f:
                if text.encode() not in f.read():
                    continue
            with open("/proc/%s/environ" % name, "rb") as f:
                if prefix not in f.read().split(b"\0"):
                    continue
        except OSError:
            continue
        found.append(int(name))
    return found


def cpu_seconds(pid):
    """User + system seconds of a process so far; 0 when it is gone."""
    try:
        with open("/proc/%d/stat" % pid) as f:
            fields = f.read().rsplit(")", 1)[1].split()
        return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")
    except OSError:
        return 0.0


def timed(label, follow, command):
    with open("/proc/loadavg") as f:
        load = " ".join(f.read().split()[:3])
    # The server's share: the requests of the program are served there, outside its own cpu.
    servers = prefix_processes("wineserver")
    server_before = sum(cpu_seconds(p) for p in servers)
    start = time.monotonic()
    # The program's own output goes to a log, never into the result line.
    log = os.environ.get("WINE_BENCH_LOG", os.devnull)
    actions = [(os.POSIX_SPAWN_OPEN, 1, log, os.O_WRONLY | os.O_CREAT | os.O_APPEND, 0o644),
               (os.POSIX_SPAWN_DUP2, 1, 2)]
    pid = os.posix_spawnp(command[0], command, os.environ, file_actions=actions)
    _, status, usage = os.wait4(pid, 0)
    if follow:
        waiting = prefix_processes(follow)
        while waiting:
            time.sleep(0.005)
            waiting = [p for p in waiting if os.path.exists("/proc/%d" % p) and not zombie(p)]
    seconds = time.monotonic() - start
    server = sum(cpu_seconds(p) for p in servers) - server_before
    code = os.waitstatus_to_exitcode(status)
    print("%s %.3f %d %d %s %.2f %.2f %.2f" % (label, seconds, usage.ru_maxrss, code, load.replace(" ", ","),
                                              usage.ru_utime, usage.ru_stime, server))
    return code


def zombie(pid):
    try:
        with open("/proc/%d/stat" % pid) as f:
            return f.read().rsplit(")", 1)[1].split()[0] == "Z"
    except OSError:
        return False


def pe_arch(path):
    """i686 for a PE32 image, x86_64 for a PE32+ one, None otherwise."""
    try:
        with open(path, "rb") as f:
            head = f.read(4096)
    except OSError:
        return None
    if head[:2] != b"MZ" or len(head) < 64:
        return None
    pe = int.from_bytes(head[60:64], "little")
    if pe + 26 > len(head) or head[pe:pe + 4] != b"PE\0\0":
        return None
    return {0x10B: "i686", 0x20B: "x86_64"}.get(int.from_bytes(head[pe + 24:pe + 26], "little"))


def main(argv):
    if len(argv) >= 4 and argv[1] == "corpus":
        bigs = [float(b) for b in argv[4].split(",") if b] if len(argv) > 4 else []
        corpus(argv[2], int(argv[3]), bigs, int(argv[5]) if len(argv) > 5 else 10)
        return 0
    if len(argv) >= 4 and argv[1] == "time":
        label, rest = argv[2], argv[3:]
        follow = None
        if rest[:1] == ["--follow"]:
            follow, rest = rest[1], rest[2:]
        if rest[:1] == ["--"]:
            rest = rest[1:]
        timed(label, follow, rest)
        return 0
    if len(argv) >= 3 and argv[1] == "pe-arch":
        kinds = [pe_arch(path) for path in argv[2:]]
        for kind in kinds:
            print(kind or "none")
        return 0 if all(kinds) else 1
    sys.stderr.write(__doc__)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
