#!/usr/bin/python3
"""End-to-end tests: the real viewer under Wine on an X display, driven as a person would.

Each case starts `wine zelkora.exe ARGS`, looks into the running viewer with zelkora-probe.exe
(window geometry, status texts, menu check marks, message boxes), reads the picture from a
screenshot of the X root window, presses keys with xdotool and checks the exit code.

    /usr/bin/python3 tests/e2e/e2e.py [--exe EXE] [--probe PROBE] [--prefix DIR] [--work DIR]
                                      [--reuse-prefix] [-k PATTERN]

Without DISPLAY the script runs itself again under xvfb-run on a private 4096x2400 screen.
Adding a case: write a function taking the harness `h` in one of the cases_*.py files,
decorate it with @case, and use h.start(...), the Viewer methods and check(...).
Relative paths given as arguments are taken from the current folder, the defaults from the
repository root.
"""

import argparse
import glob
import importlib
import os
import subprocess
import sys
import time
import traceback

import numpy as np

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from harness import (BACKDROP, CASES, OWN_DISPLAY_MARK, REPO, SCREEN, Failure,  # noqa: E402
                     Harness, write_ppm)

for _module in sorted(glob.glob(os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                             "cases_*.py"))):
    importlib.import_module(os.path.splitext(os.path.basename(_module))[0])


def run_cases(h, pattern):
    passed = failed = 0
    for function in CASES:
        name = function.__name__
        if pattern and pattern not in name:
            continue
        h.case_name = name
        started = time.monotonic()
        try:
            function(h)
            outcome = "PASS"
        except Failure as failure:
            outcome = f"FAIL ({failure})"
        except Exception:  # a broken case is a failed case, and the run goes on
            outcome = "FAIL (error)\n" + traceback.format_exc()
        try:
            h.finish_case()
        except Failure as failure:
            if outcome == "PASS":
                outcome = f"FAIL ({failure})"
        if outcome == "PASS":
            passed += 1
        else:
            failed += 1
        print(f"{name}: {outcome} [{time.monotonic() - started:.1f} s]", flush=True)
    print(f"{passed} passed, {failed} failed", flush=True)
    return failed == 0 and passed > 0


def from_repo(path):
    return path if os.path.isabs(path) else os.path.join(REPO, path)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--exe", default=os.environ.get("ZELKORA_EXE"),
                        help="viewer (default build/win32/zelkora.exe; env ZELKORA_EXE)")
    parser.add_argument("--probe", default=os.environ.get("ZELKORA_PROBE"),
                        help="probe (default build/win32/tests/zelkora-probe.exe; "
                             "env ZELKORA_PROBE)")
    parser.add_argument("--prefix", default=os.environ.get("ZELKORA_E2E_PREFIX"),
                        help="Wine prefix, made anew for each run (default build/e2e-wine; "
                             "env ZELKORA_E2E_PREFIX)")
    parser.add_argument("--work", default=os.environ.get("ZELKORA_E2E_WORK"),
                        help="logs, screenshots and generated files (default build/e2e-work; "
                             "env ZELKORA_E2E_WORK)")
    parser.add_argument("--reuse-prefix", action="store_true",
                        help="keep an existing prefix instead of making a new one")
    parser.add_argument("-k", dest="pattern", default="", help="run only cases whose name "
                        "contains this")
    args = parser.parse_args()
    args.exe = os.path.abspath(args.exe) if args.exe else from_repo("build/win32/zelkora.exe")
    args.probe = (os.path.abspath(args.probe) if args.probe
                  else from_repo("build/win32/tests/zelkora-probe.exe"))
    args.prefix = os.path.abspath(args.prefix) if args.prefix else from_repo("build/e2e-wine")
    args.work = os.path.abspath(args.work) if args.work else from_repo("build/e2e-work")

    if not os.environ.get("DISPLAY"):
        command = ["xvfb-run", "-a", "-s", f"-screen 0 {SCREEN}", sys.executable,
                   os.path.abspath(__file__), "--exe", args.exe, "--probe", args.probe,
                   "--prefix", args.prefix, "--work", args.work]
        command += ["--reuse-prefix"] if args.reuse_prefix else []
        command += ["-k", args.pattern] if args.pattern else []
        env = dict(os.environ, **{OWN_DISPLAY_MARK: "1"})
        return subprocess.run(command, env=env).returncode

    for path in (args.exe, args.probe):
        if not os.path.isfile(path):
            print(f"missing {path}", flush=True)
            print("0 passed, 1 failed", flush=True)
            return 1
    if os.environ.get(OWN_DISPLAY_MARK):
        backdrop = os.path.join(args.work, "backdrop.ppm")
        os.makedirs(args.work, exist_ok=True)
        write_ppm(backdrop, np.full((16, 16, 3), BACKDROP, dtype=np.uint8))
        # display sets the root background and exits, reporting 1 all the same.
        subprocess.run(["display", "-window", "root", backdrop], capture_output=True)

    h = Harness(args)
    try:
        h.prepare_prefix(args.reuse_prefix)
        ok = run_cases(h, args.pattern)
    finally:
        h.stop_wine()
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
