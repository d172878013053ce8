#!/usr/bin/env python3
"""Library export speed and memory: the bridge against plistlib + json.dumps.

    library_bench.py [BRIDGE] [--tracks N[,N...]] [--runs R] [--reference-tracks N[,N...]]
                     [--markup-tracks N[,N...]] [--no-million] [--private-root PRIVATE_ROOT]
                     [--reader READ_LIBRARY] [--seed S]

For each library size (default 10000,100000,1000000 tracks):
1. Makes a synthetic library of N tracks in bench/out/ with
   generate_library.py, unless it is there already (the 1,000,000-track one
   is 1.9 GB and is made once; --no-million leaves it out, and so does a
   disk without the room to make it).
2. Runs the bridge (default build/bridge/HarmonodeAppleMusic) with
   HARMONODE_MUSIC_LIBRARY set to that file, writes "library\nquit\n" to its
   standard input and reads all it writes, in 1 MiB reads as a host would.
3. With --private-root (bench/private_root.cpp), runs "write\nquit\n" the
   same way inside a file system root of its own whose
   /Volumes/Media/_harmonode holds an earlier file, and checks that the file
   was replaced whole by the text the bridge showed.
4. Optionally runs read_library (bench/read_library.cpp), the reader alone.
5. For the sizes in --reference-tracks (default 100000), runs the reference
   pipeline in a child Python: plistlib.load of the file, then json.dumps of
   the result (dates and data through str).
6. For the sizes in --markup-tracks (default 100000), the same library with
   a comment, a processing instruction and an undeclared entity reference
   among its tracks (generate_library.py --markup), whose reply must be the
   clean one's with the reference kept as written.

Every measurement is a fresh child process, forked from a small wrapper:
wall time from start to exit and its peak resident memory from wait4().
Prints the best and the median wall time of R runs (default 3) and the
largest peak memory of each, one row per library, then checks the goals: at
100,000 tracks library and write in at most 0.25 s with at most 100 MiB, at
least 18 times faster than the reference; at 1,000,000 tracks at most 11
times the time and peak memory of 100,000; the library with markup at most
1.3 times the time of the clean one. Exits with 1 when a measured goal is
missed. Wall times mean something only on a quiet machine: the load average
is printed before and after.
"""

import argparse
import os
import shutil
import subprocess
import sys
import tempfile
from pathlib import Path

BENCH = Path(__file__).resolve().parent
ROOT = BENCH.parent

REFERENCE = r"""
import json, plistlib, sys
with open(sys.argv[1], "rb") as f:
    library = plistlib.load(f)
text = json.dumps(library, default=str)
sys.stdout.write("%d tracks, %d bytes of JSON\n" % (len(library.get("Tracks", {})), len(text)))
"""


# Runs argv[2:] in a forked child and writes "<wall seconds> <peak KiB>" to the
# file argv[1]. The child is forked from this small process rather than
# spawned from the benchmark itself, because a child's peak memory as the
# kernel reports it starts from the address space it was exec'd from (and
# Python spawns with vfork, which shares the benchmark's).
WRAPPER = r"""
import os, sys, time
start = time.perf_counter()
pid = os.fork()
if pid == 0:
    try:
        os.execv(sys.argv[2], sys.argv[2:])
    finally:
        os._exit(127)
_, status, usage = os.wait4(pid, 0)
seconds = time.perf_counter() - start
with open(sys.argv[1], "w") as f:
    f.write("%f %d\n" % (seconds, usage.ru_maxrss))
sys.exit(os.waitstatus_to_exitcode(status))
"""


class Measurement:
    def __init__(self, seconds, peak_kib, summary):
        self.seconds = seconds
        self.peak_kib = peak_kib
        self.summary = summary  # what check() made of the output


class Result:
    """The runs of one measurement: the best and the median wall time, the
    largest peak memory, the best run's summary."""

    def __init__(self, runs):
        ordered = sorted(runs, key=lambda m: m.seconds)
        self.best = ordered[0]
        self.seconds = ordered[0].seconds
        self.median = ordered[len(ordered) // 2].seconds
        self.peak_kib = max(m.peak_kib for m in runs)


class CannotRun(Exception):
    """The command could not be run here (it exited with 125)."""


def measure(command, stdin_bytes=b"", env=None, check=None):
    """Runs `command` once in a fresh child; gives its wall time, its peak
    resident memory and check(output), where output is all it wrote."""
    with tempfile.TemporaryDirectory() as scratch, tempfile.TemporaryFile() as errors:
        report = os.path.join(scratch, "usage")
        child = subprocess.Popen([sys.executable, "-c", WRAPPER, report] + command, stdin=subprocess.PIPE,
                                 stdout=subprocess.PIPE, stderr=errors, env=env)
        try:
            child.stdin.write(stdin_bytes)
            child.stdin.close()
        except BrokenPipeError:
            pass
        # Read as a host would: big reads, nothing but collecting the bytes.
        pieces = []
        fd = child.stdout.fileno()
        while True:
            piece = os.read(fd, 1 << 20)
            if not piece:
                break
            pieces.append(piece)
        output = b"".join(pieces)
        child.stdout.close()
        status = child.wait()
        if status != 0:
            errors.seek(0)
            message = errors.read().decode("utf-8", "replace")[-2000:]
            if status == 125:
                raise CannotRun(message.strip())
            raise RuntimeError("%s exited with %d\n%s" % (command[0], status, message))
        with open(report) as f:
            seconds, peak = f.read().split()
    summary = check(output) if check else output.decode("utf-8", "replace").strip()
    return Measurement(float(seconds), int(peak), summary)


def best_of(runs, label, make_command, **kwargs):
    """`runs` measurements; make_command() gives each run's command."""
    results = []
    for run in range(runs):
        m = measure(make_command(), **kwargs)
        print("  %-10s run %d: %7.3f s, peak %7.1f MiB" % (label, run + 1, m.seconds, m.peak_kib / 1024), flush=True)
        results.append(m)
    return Result(results)


def first_block(output):
    """The progress text and the reply line of the first block."""
    end = output.find(b"\n###\n")
    if end < 0:
        raise RuntimeError("the bridge wrote no reply marker; its output ends with %r" % output[-300:])
    start = output.rfind(b"\n", 0, end) + 1
    return output[:start], output[start:end]


class LibraryReply:
    """The summary of a run of library: the sizes of its reply line and of
    all its output."""

    def __init__(self, reply, output):
        self.reply_size, self.output_size = len(reply), len(output)
        self.entity = b"&nbsp;(live)" in reply

    def __str__(self):
        return "reply line %.1f MB, all output %.1f MB" % (self.reply_size / 1e6, self.output_size / 1e6)


def check_library_output(output):
    """The bridge's output must hold the reply to library, a JSON library
    document on the line before the first "###"; gives a summary of it."""
    _, reply = first_block(output)
    if not reply.startswith(b"{") or b'"tracks"' not in reply:
        raise RuntimeError("the bridge's reply to library is not a library document: %r" % reply[:300])
    return LibraryReply(reply, output)


DESTINATION = "Volumes/Media/_harmonode/harmonode_itunes.json"


class PrivateRoots:
    """File system roots for runs of write, each with an earlier file at the
    destination; each checked and removed after its run."""

    def __init__(self, helper, bridge):
        self.helper, self.bridge, self.root = helper, bridge, None

    def command(self):
        self.root = Path(tempfile.mkdtemp(prefix="harmonode-bench-root-"))
        destination = self.root / DESTINATION
        destination.parent.mkdir(parents=True)
        destination.write_bytes(b"an earlier file")
        return [self.helper, str(self.root), self.bridge]

    def check(self, output):
        try:
            progress, reply = first_block(output)
            wrote = b"Wrote to file:///" + DESTINATION.encode() + b"\n"
            if reply != b"{}" or not progress.endswith(wrote):
                raise RuntimeError("write did not succeed: %r" % output[-300:])
            text = progress[:-len(wrote)]
            if (self.root / DESTINATION).read_bytes() + b"\n" != text:
                raise RuntimeError("the written file is not the text write showed")
            return "file %.1f MB, all output %.1f MB" % ((len(text) - 1) / 1e6, len(output) / 1e6)
        finally:
            self.remove()

    def remove(self):
        # The mount points are empty folders out here: removed one by one,
        # never recursively, so nothing outside the root can be touched.
        for entry in self.root.iterdir():
            if entry.name == "Volumes":
                continue
            if entry.is_symlink():
                entry.unlink()
            else:
                entry.rmdir()
        shutil.rmtree(self.root / "Volumes")
        self.root.rmdir()


# What generate_library.py writes for each track, near enough to tell
# whether a library fits on the disk.
BYTES_PER_TRACK = 1900
MILLION = 1_000_000


def library_file(tracks, seed, markup=False):
    """The library of `tracks` tracks in bench/out/, made if it is not there;
    none when the disk has no room for it."""
    library = BENCH / "out" / ("library-%d%s.xml" % (tracks, "-markup" if markup else ""))
    if not library.exists():
        library.parent.mkdir(parents=True, exist_ok=True)
        needed = tracks * BYTES_PER_TRACK * 1.2
        if shutil.disk_usage(library.parent).free < needed:
            print("%s: not made, the disk has less than %.1f GB free" % (library, needed / 1e9), flush=True)
            return None
        print("making %s (%d tracks) ..." % (library, tracks), flush=True)
        partial = library.with_suffix(".partial")
        subprocess.run([sys.executable, str(BENCH / "generate_library.py"), str(tracks), str(partial),
                        "--seed", str(seed)] + (["--markup"] if markup else []), check=True)
        partial.rename(library)
    return library


def load():
    return "load average %.2f, %.2f, %.2f" % os.getloadavg()


def sizes(text):
    return [int(n) for n in text.split(",") if n]


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("bridge", nargs="?", default=str(ROOT / "build/bridge/HarmonodeAppleMusic"),
                        help="the bridge binary (default build/bridge/HarmonodeAppleMusic)")
    parser.add_argument("--tracks", type=sizes, default=[10_000, 100_000, MILLION],
                        help="tracks in the synthetic libraries, comma-separated")
    parser.add_argument("--no-million", action="store_true",
                        help="leave out the library of 1,000,000 tracks (1.9 GB on disk)")
    parser.add_argument("--reference-tracks", type=sizes, default=[100_000],
                        help="sizes at which the reference pipeline is measured too")
    parser.add_argument("--markup-tracks", type=sizes, default=[100_000],
                        help="sizes at which the library with markup among its tracks is measured too")
    parser.add_argument("--runs", type=int, default=3, help="runs of each measurement (best is kept)")
    parser.add_argument("--seed", type=int, default=1, help="seed for a library that is made")
    parser.add_argument("--private-root", help="private_root binary, to measure write as well")
    parser.add_argument("--reader", help="read_library binary, to time the library reader alone as well")
    args = parser.parse_args(argv)
    runs = max(1, args.runs)
    bridge = os.path.abspath(args.bridge)
    if not os.access(bridge, os.X_OK):
        parser.error("no bridge binary at %s" % args.bridge)
    for option, path, target in (("--private-root", args.private_root, "private_root"),
                                 ("--reader", args.reader, "read_library")):
        if path and not os.access(path, os.X_OK):
            parser.error("%s: no program at %s (cmake --build <dir> --target %s)" % (option, path, target))

    rows = []
    print(load(), flush=True)
    jobs = [(tracks, False) for tracks in args.tracks if not (args.no_million and tracks >= MILLION)]
    jobs += [(tracks, True) for tracks in args.markup_tracks if tracks in args.tracks]
    for tracks, markup in jobs:
        library = library_file(tracks, args.seed, markup)
        if library is None:
            continue
        print("library %s: %.1f MB" % (library, library.stat().st_size / 1e6), flush=True)
        env = dict(os.environ, HARMONODE_MUSIC_LIBRARY=str(library))
        row = {"tracks": tracks, "markup": markup, "size": library.stat().st_size}
        row["library"] = best_of(runs, "library", lambda: [bridge], stdin_bytes=b"library\nquit\n", env=env,
                                 check=check_library_output)
        print("  %s" % row["library"].best.summary)
        if args.private_root:
            roots = PrivateRoots(os.path.abspath(args.private_root), bridge)
            try:
                row["write"] = best_of(runs, "write", roots.command, stdin_bytes=b"write\nquit\n", env=env,
                                       check=roots.check)
                print("  " + row["write"].best.summary)
            except CannotRun as reason:
                roots.remove()
                print("  write: not measured, no private root here: %s" % reason)
        if args.reader:
            row["reader"] = best_of(runs, "reader", lambda: [os.path.abspath(args.reader), str(library)])
        if tracks in args.reference_tracks and not markup:
            print("  reference: plistlib.load + json.dumps", flush=True)
            row["reference"] = best_of(runs, "reference", lambda: [sys.executable, "-c", REFERENCE, str(library)])
            print("  " + row["reference"].best.summary)
        rows.append(row)
    print(load())

    print()
    columns = [("library", "library"), ("write", "write"), ("reader", "reader alone"),
               ("reference", "plistlib+json.dumps")]
    print("%15s %8s" % ("tracks", "file MB") + "".join(" | %-26s" % title for _, title in columns) + " | ratio")
    print("%15s %8s" % ("", "") + "".join(" | %6s %7s %11s" % ("best", "median", "peak (MiB)") for _ in columns))
    for row in rows:
        name = "%d%s" % (row["tracks"], " markup" if row["markup"] else "")
        line = "%15s %8.1f" % (name, row["size"] / 1e6)
        for key, _ in columns:
            result = row.get(key)
            line += (" | %6.3f %7.3f %11.1f" % (result.seconds, result.median, result.peak_kib / 1024) if result
                     else " | %6s %7s %11s" % ("-", "-", "-"))
        if "reference" in row:
            line += " | %.1fx" % (row["reference"].seconds / row["library"].seconds)
        print(line)

    print()
    missed = 0
    clean = {row["tracks"]: row for row in rows if not row["markup"]}
    marked = {row["tracks"]: row for row in rows if row["markup"]}

    def goal(ok, text):
        nonlocal missed
        missed += 0 if ok else 1
        print("%s  %s" % ("met   " if ok else "MISSED", text))

    if 100_000 in clean:
        row = clean[100_000]
        for command in ("library", "write"):
            if command in row:
                seconds, peak = row[command].seconds, row[command].peak_kib / 1024
                goal(seconds <= 0.25, "%s at 100,000 tracks in %.3f s (at most 0.25 s)" % (command, seconds))
                goal(peak <= 100, "%s at 100,000 tracks peaks at %.1f MiB (at most 100 MiB)" % (command, peak))
        if "reference" in row:
            ratio = row["reference"].seconds / row["library"].seconds
            goal(ratio >= 18, "library %.1f times faster than the reference (at least 18)" % ratio)
    if 100_000 in clean and MILLION in clean:
        small, large = clean[100_000], clean[MILLION]
        for command in ("library", "write"):
            if command in small and command in large:
                time_ratio = large[command].seconds / small[command].seconds
                peak_ratio = large[command].peak_kib / small[command].peak_kib
                goal(time_ratio <= 11, "%s at 1,000,000 tracks takes %.2f times as long (at most 11)" %
                     (command, time_ratio))
                goal(peak_ratio <= 11, "%s at 1,000,000 tracks peaks at %.2f times the memory (at most 11)" %
                     (command, peak_ratio))
    for tracks, row in marked.items():
        if tracks not in clean:
            continue
        for command in ("library", "write"):
            if command in row and command in clean[tracks]:
                ratio = row[command].seconds / clean[tracks][command].seconds
                goal(ratio <= 1.3, "%s at %d tracks with markup takes %.2f times as long as without (at most 1.3)" %
                     (command, tracks, ratio))
        reply, plain = row["library"].best.summary, clean[tracks]["library"].best.summary
        goal(reply.entity and reply.reply_size == plain.reply_size + len(" &nbsp;(live)"),
             "the reply with markup at %d tracks is the clean one with the entity reference kept as written" % tracks)
    return 1 if missed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
