#!/usr/bin/env python3
"""The installed bridge on a copy of a library: ping, library, test, library.

    check_bridge.py BRIDGE LIBRARY_COPY SAMPLE

`test` must import SAMPLE (the sample audio file of the bridge's own
installation), and the second library must show it with its tags. Prints one
line per check ("ok: ..." or "FAILED: ...") and exits with 1 when one failed.
"""
import json
import os
import subprocess
import sys

bridge, library, sample = sys.argv[1:4]
failed = False


def check(holds, what, seen=""):
    global failed
    print(("ok: " if holds else "FAILED: ") + what + ("" if holds else f" (got {seen!r})"))
    failed = failed or not holds
    return holds


run = subprocess.run([bridge], input="ping\nlibrary\ntest\nlibrary\nquit\n", capture_output=True, text=True,
                     env=dict(os.environ, HARMONODE_MUSIC_LIBRARY=library), timeout=120)
blocks = [block.split("\n") for block in run.stdout.removesuffix("\n").split("\n###\n")]
if check(run.returncode == 0 and len(blocks) == 6, f"{bridge} answers five requests", run.stdout[-400:] + run.stderr):
    check(blocks[0] == ['{"pong":"yes..."}'], "ping", blocks[0])
    before = json.loads(blocks[1][-1]).get("tracks", [])
    check(len(before) > 0, "library shows the library's tracks", blocks[1][-1][:200])
    check(blocks[2] == ["add " + sample, '{"pid":"testing..."}'], "test imports the installed sample", blocks[2])
    after = json.loads(blocks[3][-1]).get("tracks", [])
    added = [t for t in after if t.get("FilePath") == sample]
    check(len(after) == len(before) + 1 and len(added) == 1 and added[0].get("Title") == "Ton d’essai à 440 Hz",
          "the next library shows the imported sample with its tags", added)
    check(blocks[5][-1] == "Exiting... ", "quit ends with the closing line", blocks[5])
sys.exit(1 if failed else 0)
