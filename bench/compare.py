#!/usr/bin/env python3
"""Compares quorvel with du, gdu and ncdu on the standard trees, side by side.

    bench/compare.py [--runs N] [--trees T1,T2] [--dir /tmp/qvbench] [--tools LIST]
                     [--threads 1,0] [--cold] [--one-core]

Builds quorvel in release mode (build-bench/), generates the trees with the shared
generator (../shared/bench/gen_tree.py) outside the repository when they are missing,
installs gdu, ncdu and GNU time from Debian when they are missing (as root), warms the
caches (unless --cold), then runs every tool N times in turn on each tree and prints the
median wall time, CPU time (user + system) and peak resident set of each, with ratios to
du and, when quorvel ran with one scanner thread, to that single-threaded walk.

The tools:
  quorvel  quorvel --export csv --output /dev/null TREE, with a settings file of its own
           (XDG_CONFIG_HOME in a temporary folder), so that the user's settings play no
           part. With --threads 1,0 it runs once per value, side by side, labelled
           quorvel-1t, quorvel-auto (0: as many as the program chooses) and so on; the
           value goes to ScanThreads in the section [Settings].
  du       du -s --apparent-size TREE (hard links counted once, as quorvel does)
  gdu      gdu -n -p -a TREE
  ncdu     ncdu TREE in a pseudo-terminal (ncdu keeps its tree in memory only in its
           interactive mode), quit with "q" as soon as its browser shows.

Modes:
  --cold      before every run of every tool: sync and drop the page, dentry and inode
              caches (echo 3 > /proc/sys/vm/drop_caches). Root only.
  --one-core  every tool runs under taskset -c 0.
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
DROP_CACHES = "/proc/sys/vm/drop_caches"


def sh(cmd, **kw):
    return subprocess.run(cmd, check=True, **kw)


def ensure_tools(names):
    wanted = [("gdu", "gdu"), ("ncdu", "ncdu"), ("time", TIME)]
    missing = [p for p, b in wanted if (p in names or p == "time") and not shutil.which(b)]
    if missing:
        if os.geteuid() != 0:
            sys.exit("missing: %s; install with: sudo apt-get install -y %s"
                     % (" ".join(missing), " ".join(missing)))
        sh(["apt-get", "install", "-y", "-q"] + missing, stdout=subprocess.DEVNULL)


def build():
    b = os.path.join(ROOT, "build-bench")
    sh(["cmake", "-S", ROOT, "-B", b, "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Release"],
       stdout=subprocess.DEVNULL)
    # The target builds the window's module too; the export never loads it.
    sh(["cmake", "--build", b, "--target", "quorvel"], stdout=subprocess.DEVNULL)
    return os.path.join(b, "quorvel")


class Runner:
    """Runs one tool once, in the chosen mode: cold caches, one core."""

    def __init__(self, cold, one_core):
        self.cold = cold
        self.prefix = ["taskset", "-c", "0"] if one_core else []

    def prepare(self):
        if self.cold:
            os.sync()
            with open(DROP_CACHES, "w") as f:
                f.write("3\n")

    def timed(self, cmd, env=None):
        """Runs cmd under /usr/bin/time; returns (wall, cpu, rss_kib)."""
        self.prepare()
        with tempfile.NamedTemporaryFile("r") as out:
            subprocess.run([TIME, "-o", out.name, "-f", "%e %U %S %M"] + self.prefix + cmd,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=env)
            wall, user, system, rss = out.read().split()[-4:]
        return float(wall), float(user) + float(system), int(rss)

    def timed_ncdu(self, tree):
        """ncdu in a pseudo-terminal, quit once its browser shows the scanned tree.

        While it scans, ncdu redraws its progress several times a second; the first half
        second without any output means the browser is up. The wall time is taken up to
        ncdu's last output before that pause; CPU time and peak resident set come from
        /usr/bin/time."""
        self.prepare()
        with tempfile.NamedTemporaryFile("r") as out:
            start = time.monotonic()
            pid, fd = pty.fork()
            if pid == 0:
                os.environ["TERM"] = "xterm"
                os.execv(TIME, [TIME, "-o", out.name, "-f", "%e %U %S %M"] + self.prefix
                         + ["ncdu", tree])
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


def quorvel_config(base, threads):
    """A private settings folder for quorvel; threads None leaves ScanThreads unset."""
    home = os.path.join(base, "auto" if threads is None else "t%d" % threads)
    os.makedirs(os.path.join(home, "Quorvel"), exist_ok=True)
    with open(os.path.join(home, "Quorvel", "Quorvel.ini"), "w", newline="") as f:
        f.write("[Settings]\r\n")
        if threads is not None:
            f.write("ScanThreads=%d\r\n" % threads)
    return dict(os.environ, XDG_CONFIG_HOME=home)


def quorvel_label(threads):
    if threads is None:
        return "quorvel"
    return "quorvel-auto" if threads == 0 else "quorvel-%dt" % threads


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--runs", type=int, default=5)
    ap.add_argument("--trees", default="T1,T2")
    ap.add_argument("--dir", default=os.environ.get("QV_BENCH_DIR", "/tmp/qvbench"))
    ap.add_argument("--gen", default=os.path.join(ROOT, "..", "shared", "bench", "gen_tree.py"))
    ap.add_argument("--tools", default="quorvel,du,gdu,ncdu",
                    help="the tools to run, of quorvel, du, gdu and ncdu")
    ap.add_argument("--threads", default=None,
                    help="run quorvel once per number of scanner threads, e.g. 1,0 "
                         "(0: automatic)")
    ap.add_argument("--cold", action="store_true",
                    help="drop the caches before every run (root only)")
    ap.add_argument("--one-core", action="store_true", help="run every tool on CPU 0 only")
    args = ap.parse_args()

    names = [t for t in args.tools.split(",") if t]
    unknown = set(names) - {"quorvel", "du", "gdu", "ncdu"}
    if unknown:
        sys.exit("unknown tool: %s" % ", ".join(sorted(unknown)))
    try:
        threads = ([None] if args.threads is None
                   else [int(t) for t in args.threads.split(",") if t != ""])
    except ValueError:
        sys.exit("--threads takes numbers separated by commas, e.g. 1,0")
    if any(t is not None and t < 0 for t in threads) or not threads:
        sys.exit("--threads takes numbers of 0 or more, e.g. 1,0")
    if args.cold and (os.geteuid() != 0 or not os.access(DROP_CACHES, os.W_OK)):
        sys.exit("--cold drops the kernel's caches through %s, which only root can do; "
                 "run as root or leave out --cold" % DROP_CACHES)
    if args.one_core and not shutil.which("taskset"):
        sys.exit("--one-core needs taskset (package util-linux)")

    ensure_tools(names)
    quorvel = build() if "quorvel" in names else None
    os.makedirs(args.dir, exist_ok=True)
    runner = Runner(args.cold, args.one_core)
    configs = tempfile.mkdtemp(prefix="qvbench-config-")
    tools = {}
    for name in names:
        if name == "quorvel":
            for t in threads:
                env = quorvel_config(configs, t)
                tools[quorvel_label(t)] = (
                    lambda tree, env=env: runner.timed(
                        [quorvel, "--export", "csv", "--output", "/dev/null", tree], env))
        elif name == "du":
            tools["du"] = lambda tree: runner.timed(["du", "-s", "--apparent-size", tree])
        elif name == "gdu":
            tools["gdu"] = lambda tree: runner.timed(["gdu", "-n", "-p", "-a", tree])
        elif name == "ncdu":
            tools["ncdu"] = runner.timed_ncdu

    mode = ", ".join(m for m, on in (("cold caches", args.cold), ("warm caches", not args.cold),
                                       ("one core (taskset -c 0)", args.one_core)) if on)
    print("mode: %s; %d runs, medians" % (mode, args.runs))
    single = "quorvel-1t" if "quorvel-1t" in tools else None
    header = "%-4s %-13s %9s %9s %9s %8s %8s" % ("tree", "tool", "wall_s", "cpu_s", "rss_MiB",
                                                 "wall/du", "cpu/du")
    if single:
        header += " %8s %8s" % ("wall/1t", "cpu/1t")
    print(header)
    try:
        for tree in args.trees.split(","):
            path = os.path.join(args.dir, tree)
            if not os.path.isdir(path):
                seed = {"T1": "1", "T2": "2"}.get(tree, "1")
                sh([sys.executable, args.gen, tree, path, "--seed", seed],
                   stdout=subprocess.DEVNULL)
            if not args.cold:
                for run in tools.values():  # warm the caches
                    run(path)
            results = {name: [] for name in tools}
            for _ in range(args.runs):
                for name, run in tools.items():
                    results[name].append(run(path))
            med = {name: tuple(statistics.median(r[i] for r in rs) for i in range(3))
                   for name, rs in results.items()}
            ratio = lambda a, b: "%8.2f" % (a / b) if b else "%8s" % "-"
            for name, (wall, cpu, rss) in med.items():
                line = "%-4s %-13s %9.3f %9.3f %9.1f" % (tree, name, wall, cpu, rss / 1024)
                du = med.get("du")
                line += " " + (ratio(wall, du[0]) + " " + ratio(cpu, du[1]) if du
                               else "%8s %8s" % ("-", "-"))
                if single:
                    line += " " + ratio(wall, med[single][0]) + " " + ratio(cpu, med[single][1])
                print(line)
            sys.stdout.flush()
    finally:
        shutil.rmtree(configs, ignore_errors=True)


if __name__ == "__main__":
    main()
