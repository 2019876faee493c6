"""The report every interop script gives: a PASS or FAIL line a check, then the counts."""

import argparse
import os
import shutil
import subprocess

# What a check that fails to write or read a file raises: the check fails, the others go on.
ERRORS = (subprocess.CalledProcessError, ValueError, OSError)


def fresh_folder(path):
    shutil.rmtree(path, ignore_errors=True)
    os.makedirs(path)


def arguments(doc, work, **tools):
    """--<tool> for each tool path and --work, the folder then made afresh."""
    parser = argparse.ArgumentParser(description=doc.splitlines()[0])
    for name, default in {**tools, "work": work}.items():
        parser.add_argument("--" + name, default=default)
    args = parser.parse_args()
    fresh_folder(args.work)
    return args


class Tally:
    def __init__(self):
        self.passed = self.failed = 0

    def check(self, name, problems):
        """problems: None, one text or several; each is a FAIL line."""
        found = [problems] if isinstance(problems, str) else list(problems or [])
        self.passed += not found
        self.failed += bool(found)
        print("\n".join(f"FAIL {name}: {p}" for p in found) or f"PASS {name}", flush=True)

    def run(self, name, problems, *args):
        """Checks what problems(*args) yields; an error it raises is its one problem."""
        try:
            found = list(problems(*args))
        except ERRORS as error:
            found = [str(error)]
        self.check(name, found)

    def end(self, work=None):
        """Removes the work folder, prints the counts and returns the exit code."""
        if work:
            shutil.rmtree(work, ignore_errors=True)
        print(f"{self.passed} passed, {self.failed} failed")
        return 1 if self.failed else 0
