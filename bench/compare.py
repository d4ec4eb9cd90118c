#!/usr/bin/env python3
"""Compares quorvel with du, gdu and ncdu on the standard trees, side by side, warm caches.

    bench/compare.py [--runs N] [--trees T1,T2] [--dir /tmp/qvbench]

Builds quorvel in release mode (build-bench/), generates the trees with the shared
generator (../shared/bench/gen_tree.py) outside the repository when they are missing,
installs gdu and ncdu from Debian when they are missing (as root), warms the caches, then
runs every tool N times in turn on each tree and prints the median wall time, CPU time
(user + system) and peak resident set of each, with ratios to quorvel.

The tools:
  quorvel  quorvel --export csv --output /dev/null TREE
  du       du -s --apparent-size -l TREE
  gdu      gdu -n -p -a TREE
  ncdu     ncdu TREE in a pseudo-terminal (ncdu keeps its tree in memory only in its
           interactive mode), quit with "q" as soon as its browser shows.
"""
import argparse
import os
import pty
import select
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
TIME = "/usr/bin/time"


def sh(cmd, **kw):
    return subprocess.run(cmd, check=True, **kw)


def ensure_tools():
    missing = [p for p, b in (("gdu", "gdu"), ("ncdu", "ncdu"), ("time", TIME))
               if not shutil.which(b)]
    if missing:
        if os.geteuid() != 0:
            sys.exit("missing: %s; install with: sudo apt-get install -y %s"
                     % (" ".join(missing), " ".join(missing)))
        sh(["apt-get", "install", "-y", "-q"] + missing, stdout=subprocess.DEVNULL)


def build():
    b = os.path.join(ROOT, "build-bench")
    sh(["cmake", "-S", ROOT, "-B", b, "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Release"],
       stdout=subprocess.DEVNULL)
    sh(["cmake", "--build", b, "--target", "quorvel"], stdout=subprocess.DEVNULL)
    return os.path.join(b, "quorvel")


def timed(cmd):
    """Runs cmd under /usr/bin/time; returns (wall, cpu, rss_kib)."""
    with tempfile.NamedTemporaryFile("r") as out:
        subprocess.run([TIME, "-o", out.name, "-f", "%e %U %S %M"] + cmd,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        wall, user, system, rss = out.read().split()[-4:]
    return float(wall), float(user) + float(system), int(rss)


def timed_ncdu(tree):
    """ncdu in a pseudo-terminal, quit once its browser shows the scanned tree.

    While it scans, ncdu redraws its progress several times a second; the first half second
    without any output means the browser is up. The wall time is taken up to ncdu's last
    output before that pause; CPU time and peak resident set come from /usr/bin/time."""
    with tempfile.NamedTemporaryFile("r") as out:
        start = time.monotonic()
        pid, fd = pty.fork()
        if pid == 0:
            os.environ["TERM"] = "xterm"
            os.execv(TIME, [TIME, "-o", out.name, "-f", "%e %U %S %M", "ncdu", tree])
        last_output = None
        quit_sent = False
        while True:
            r, _, _ = select.select([fd], [], [], 0.05)
            if r:
                try:
                    chunk = os.read(fd, 65536)
                except OSError:
                    break
                if not chunk:
                    break
                if not quit_sent:
                    last_output = time.monotonic()
            elif (not quit_sent and last_output is not None
                  and time.monotonic() - last_output > 0.5):
                os.write(fd, b"q")
                quit_sent = True
            if time.monotonic() - start > 600:
                os.kill(pid, 9)
                break
        os.waitpid(pid, 0)
        os.close(fd)
        _, user, system, rss = out.read().split()[-4:]
    return last_output - start, float(user) + float(system), int(rss)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--runs", type=int, default=5)
    ap.add_argument("--trees", default="T1,T2")
    ap.add_argument("--dir", default=os.environ.get("QV_BENCH_DIR", "/tmp/qvbench"))
    ap.add_argument("--gen", default=os.path.join(ROOT, "..", "shared", "bench", "gen_tree.py"))
    args = ap.parse_args()

    ensure_tools()
    quorvel = build()
    os.makedirs(args.dir, exist_ok=True)
    tools = {
        "quorvel": lambda t: timed([quorvel, "--export", "csv", "--output", "/dev/null", t]),
        "du": lambda t: timed(["du", "-s", "--apparent-size", "-l", t]),
        "gdu": lambda t: timed(["gdu", "-n", "-p", "-a", t]),
        "ncdu": timed_ncdu,
    }
    print("%-4s %-8s %9s %9s %10s %9s %9s" % ("tree", "tool", "wall_s", "cpu_s", "rss_MiB",
                                            "wall/qv", "rss/qv"))
    for tree in args.trees.split(","):
        path = os.path.join(args.dir, tree)
        if not os.path.isdir(path):
            seed = {"T1": "1", "T2": "2"}.get(tree, "1")
            sh([sys.executable, args.gen, tree, path, "--seed", seed], stdout=subprocess.DEVNULL)
        for run in tools.values():  # warm the caches
            run(path)
        results = {name: [] for name in tools}
        for _ in range(args.runs):
            for name, run in tools.items():
                results[name].append(run(path))
        med = {name: tuple(statistics.median(r[i] for r in rs) for i in range(3))
               for name, rs in results.items()}
        qv = med["quorvel"]
        for name, (wall, cpu, rss) in med.items():
            print("%-4s %-8s %9.3f %9.3f %10.1f %9.2f %9.2f" % (
                tree, name, wall, cpu, rss / 1024, wall / qv[0], rss / qv[2]))
        sys.stdout.flush()


if __name__ == "__main__":
    main()
