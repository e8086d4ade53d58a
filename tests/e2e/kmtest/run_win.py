"""Runs one Windows-side GoogleTest program under wine64 in the run's prefix and exits with
its exit code: `python3 -m kmtest.run_win tests/name_test.exe [gtest options]`."""
import subprocess
import sys

from kmtest import env


def main():
    facts = env.load()
    command = [env.WINE, sys.argv[1], "--gtest_color=no"] + sys.argv[2:]
    completed = subprocess.run(command, env=facts["env"], timeout=280)
    sys.exit(completed.returncode)


if __name__ == "__main__":
    main()
