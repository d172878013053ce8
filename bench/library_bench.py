#!/usr/bin/env python3
"""Library export speed: the bridge against plistlib + json.dumps.

    library_bench.py [BRIDGE] [--tracks N] [--runs R] [--library FILE]
                     [--reader READ_LIBRARY] [--reference-only]

1. Makes a synthetic library of N tracks (default 100000) in bench/out/ with
   generate_library.py, unless it is there already.
2. Runs the bridge (default build/bridge/HarmonodeAppleMusic) with
   HARMONODE_MUSIC_LIBRARY set to that file, writes "library\\nquit\\n" to its
   standard input and reads all it writes.
3. Runs the reference pipeline in a child Python: plistlib.load of the file,
   then json.dumps of the result (dates and data through str).
4. Optionally runs read_library (bench/read_library.cpp), the reader alone.

Every measurement is a fresh child process, forked from a small wrapper: wall
time from start to exit and its peak resident memory from wait4(). Prints the best wall time of R runs
(default 3) and the largest peak memory for each, and the ratio of the
reference's time to the bridge's.
"""

import argparse
import os
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
            raise RuntimeError("%s exited with %d\n%s" % (command[0], status, message))
        with open(report) as f:
            seconds, peak = f.read().split()
    summary = check(output) if check else output.decode("utf-8", "replace").strip()
    return Measurement(float(seconds), int(peak), summary)


def best_of(runs, label, command, **kwargs):
    results = []
    for run in range(runs):
        m = measure(command, **kwargs)
        print("  %-10s run %d: %7.2f s, peak %7.1f MiB" % (label, run + 1, m.seconds, m.peak_kib / 1024), flush=True)
        results.append(m)
    best = min(results, key=lambda m: m.seconds)
    return best, max(m.peak_kib for m in results)



def check_bridge_output(output):
    """The bridge's output must hold the reply to library, a JSON library
    document on the line before the first "###"; gives a summary of it."""
    end = output.find(b"\n###\n")
    if end < 0:
        raise RuntimeError("the bridge wrote no reply marker; its output ends with %r" % output[-300:])
    reply = output[output.rfind(b"\n", 0, end) + 1:end]
    if not reply.startswith(b"{") or b'"tracks"' not in reply:
        raise RuntimeError("the bridge's reply to library is not a library document: %r" % reply[:300])
    return "reply line %.1f MB, all output %.1f MB" % (len(reply) / 1e6, len(output) / 1e6)


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("bridge", nargs="?", default=str(ROOT / "build/bridge/HarmonodeAppleMusic"),
                        help="the bridge binary (default build/bridge/HarmonodeAppleMusic)")
    parser.add_argument("--tracks", type=int, default=100_000, help="tracks in the synthetic library")
    parser.add_argument("--runs", type=int, default=3, help="runs of each measurement (best is kept)")
    parser.add_argument("--library", help="library file to use (default bench/out/library-N.xml, made if missing)")
    parser.add_argument("--seed", type=int, default=1, help="seed for a library that is made")
    parser.add_argument("--reader", help="read_library binary, to time the library reader alone as well")
    parser.add_argument("--reference-only", action="store_true", help="measure the reference pipeline only")
    args = parser.parse_args(argv)
    runs = max(1, args.runs)

    library = Path(args.library) if args.library else BENCH / "out" / ("library-%d.xml" % args.tracks)
    if not library.exists():
        if args.library:
            parser.error("no library file at %s" % library)
        library.parent.mkdir(parents=True, exist_ok=True)
        print("making %s (%d tracks) ..." % (library, args.tracks), flush=True)
        partial = library.with_suffix(".partial")
        subprocess.run([sys.executable, str(BENCH / "generate_library.py"), str(args.tracks), str(partial),
                        "--seed", str(args.seed)], check=True)
        partial.rename(library)
    size = library.stat().st_size
    print("library %s: %.1f MB" % (library, size / 1e6))

    bridge = None
    if not args.reference_only:
        if os.access(args.bridge, os.X_OK):
            env = dict(os.environ, HARMONODE_MUSIC_LIBRARY=str(library))
            print("bridge %s" % args.bridge, flush=True)
            bridge = best_of(runs, "bridge", [os.path.abspath(args.bridge)], stdin_bytes=b"library\nquit\n",
                             env=env, check=check_bridge_output)
            print("  " + bridge[0].summary)
        else:
            print("no bridge binary at %s; measuring the reference only" % args.bridge)

    reader = None
    if args.reader:
        print("reader %s" % args.reader, flush=True)
        reader = best_of(runs, "reader", [os.path.abspath(args.reader), str(library)])

    print("reference: plistlib.load + json.dumps", flush=True)
    reference = best_of(runs, "reference", [sys.executable, "-c", REFERENCE, str(library)])
    print("  " + reference[0].summary)

    print()
    print("%-28s %9s %12s" % ("", "wall (s)", "peak (MiB)"))
    rows = [("bridge: library export", bridge), ("reader alone", reader), ("plistlib + json.dumps", reference)]
    for name, result in rows:
        if result:
            print("%-28s %9.2f %12.1f" % (name, result[0].seconds, result[1] / 1024))
    if bridge:
        ratio = reference[0].seconds / bridge[0].seconds
        print()
        print("reference / bridge time: %.2fx (needs at least 6x)" % ratio)
        print("peak memory: bridge %.1f MiB, reference %.1f MiB (bridge must be lower)" %
              (bridge[1] / 1024, reference[1] / 1024))
        return 0 if ratio >= 6 and bridge[1] < reference[1] else 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
