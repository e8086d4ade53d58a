"""Runs one Windows-side GoogleTest program under wine64 in the run's prefix and exits with
its exit code: `python3 -m kmtest.run_win tests/name_test.exe [gtest options]`. The servers of
kmtest.scenario run beside it, named to it in KM_TEST_FILES, KM_TEST_MIRROR and KM_TEST_CONTROL."""
import subprocess
import sys

from kmtest import env
from kmtest.scenario import Scenario


def main():
    facts = env.load()
    command = [env.WINE, sys.argv[1], "--gtest_color=no"] + sys.argv[2:]
    scenario = Scenario()
    try:
        completed = subprocess.run(command, env=dict(facts["env"], **scenario.environment()), timeout=280)
    finally:
        scenario.stop()
    sys.exit(completed.returncode)


if __name__ == "__main__":
    main()
