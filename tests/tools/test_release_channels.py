"""Release trees for patch day: kept releases share the files that did not change (hard
links, so two releases with one unchanged 100 MiB file take about 100 MiB), a channel is a
tree of its own that serve answers under /channels/NAME/, a kept release's manifest is served
under its own URL, and `kmcontent rollout` rewrites the current manifest's rollout line."""
import os
import subprocess
import unittest

import kmtools

MIB = 1 << 20


def disk_use(folder):
    """Bytes of disk the folder takes, each hard-linked file counted once (as du does)."""
    done = subprocess.run(["du", "-s", "--block-size=1", folder], capture_output=True, text=True, check=True)
    return int(done.stdout.split()[0])


def read(path):
    with open(path, "rb") as f:
        return f.read()


class KeptReleasesShareDisk(unittest.TestCase):
    def setUp(self):
        self.folder = kmtools.TempFolder(self)
        self.build = self.folder.join("build")
        self.release = self.folder.join("release")

    def test_two_kept_releases_with_an_unchanged_100_mib_file_take_about_100_mib(self):
        big = os.urandom(100 * MIB)
        kmtools.write_file(self.build, "data/world.pak", big)
        kmtools.write_file(self.build, "readme.txt", b"first\r\n")
        kmtools.publish(self.build, self.release, "1")
        kmtools.write_file(self.build, "readme.txt", b"second\r\n")
        result = kmtools.publish(self.build, self.release, "2")
        self.assertIn("Shared 1 unchanged files", result.stdout)

        first = os.path.join(self.release, "releases", "v1", "files", "data", "world.pak")
        second = os.path.join(self.release, "releases", "v2", "files", "data", "world.pak")
        self.assertEqual(os.stat(first).st_ino, os.stat(second).st_ino)
        # The block map of the big file is shared too; the changed file is a copy of its own.
        self.assertEqual(os.stat(first + ".kmmap").st_ino, os.stat(second + ".kmmap").st_ino)
        self.assertNotEqual(os.stat(os.path.join(self.release, "releases", "v2", "files", "readme.txt")).st_nlink, 2)
        self.assertLess(disk_use(self.release), 102 * MIB)

        # A file changed in one byte (same size) is copied, and the kept copies are untouched.
        changed = bytearray(big)
        changed[50 * MIB] ^= 1
        kmtools.write_file(self.build, "data/world.pak", bytes(changed))
        kmtools.publish(self.build, self.release, "3")
        third = os.path.join(self.release, "releases", "v3", "files", "data", "world.pak")
        self.assertNotEqual(os.stat(third).st_ino, os.stat(second).st_ino)
        with open(third, "rb") as f:
            self.assertEqual(f.read(), bytes(changed))
        with open(second, "rb") as f:
            self.assertEqual(f.read(), big)
        # Pruning the oldest release leaves its shared file to the release that still has it.
        kmtools.publish(self.build, self.release, "4", "--keep", "1")
        self.assertFalse(os.path.exists(first))
        self.assertFalse(os.path.exists(second))
        self.assertEqual(os.stat(third).st_nlink, 2)


class ChannelsAndRollouts(unittest.TestCase):
    def setUp(self):
        self.folder = kmtools.TempFolder(self)
        self.release = self.folder.join("release")

    def publish(self, version, readme, *extra):
        build = self.folder.join("build-%s" % version)
        kmtools.write_file(build, "readme.txt", readme)
        return kmtools.publish(build, self.release, version, *extra)

    def test_a_channel_is_served_beside_the_live_release(self):
        refused = kmtools.run_kmcontent("publish", "--build", self.folder.join("none"), "--out", self.release,
                                        "--version", "1", "--channel", "beta")
        self.assertEqual(refused.returncode, 1)
        self.publish("1", b"live\r\n")
        self.publish("2", b"beta\r\n", "--channel", "beta")
        for name in ("Beta", "live", "a/b"):
            build = self.folder.join("build-1")
            result = kmtools.run_kmcontent("publish", "--build", build, "--out", self.release, "--version", "3",
                                           "--channel", name)
            self.assertEqual(result.returncode, 1, name)
        server = kmtools.serve(self, self.release, "", "--no-accounts")
        status, _, live = server.get("/manifest")
        self.assertEqual(status, 200)
        self.assertNotIn(b"\nchannel ", live)
        status, _, beta = server.get("/channels/beta/manifest")
        self.assertEqual(status, 200)
        self.assertIn(b"\nchannel beta\n", beta)
        self.assertIn(b"\nmirror /channels/beta/releases/v2/files\n", beta)
        self.assertIn(b"serial 2", read(os.path.join(self.release, "channels", "beta", "serial")))
        self.assertEqual(server.get("/channels/beta/files/readme.txt")[2], b"beta\r\n")
        self.assertEqual(server.get("/channels/beta/releases/v2/files/readme.txt")[2], b"beta\r\n")
        self.assertEqual(server.get("/files/readme.txt")[2], b"live\r\n")
        self.assertEqual(server.get("/releases/v1/manifest")[2], live)
        for target in ("/channels/Beta/manifest", "/channels/../manifest", "/channels/gamma/manifest",
                       "/channels/beta/releases/../manifest", "/releases/v9/manifest", "/channels/beta/healthz"):
            self.assertEqual(server.get(target)[0], 404, target)

    def test_rollout_lines_follow_the_percentage(self):
        self.publish("1", b"one\r\n")
        refused = kmtools.run_kmcontent("rollout", "--release", self.release, "--percent", "30")
        self.assertEqual(refused.returncode, 1, "no release before v1 to stay on")
        self.publish("2", b"two\r\n", "--percent", "30")
        manifest = os.path.join(self.release, "manifest")
        self.assertIn(b"\nrollout 30 v2 v1\n", read(manifest))
        for percent, line in (("60", "\nrollout 60 v2 v1\n"), ("0", "\nrollout 0 v2 v1\n"), ("100", None)):
            result = kmtools.run_kmcontent("rollout", "--release", self.release, "--percent", percent)
            self.assertEqual(result.returncode, 0, result.stderr)
            text = read(manifest).decode()
            if line:
                self.assertIn(line, text)
                self.assertEqual(text.count("\nrollout "), 1)
            else:
                self.assertNotIn("\nrollout ", text)
        self.assertEqual(kmtools.run_kmcontent("rollout", "--release", self.release, "--percent", "101").returncode, 2)


if __name__ == "__main__":
    unittest.main()


class OutcomeReports(unittest.TestCase):
    def setUp(self):
        self.folder = kmtools.TempFolder(self)
        self.release = self.folder.join("release")
        kmtools.write_file(self.folder.join("build"), "readme.txt", b"one\r\n")
        kmtools.publish(self.folder.join("build"), self.release, "1")

    def metrics(self, server):
        text = server.get("/metrics")[2].decode()
        return {line.rsplit(" ", 1)[0]: int(line.rsplit(" ", 1)[1]) for line in text.splitlines()
                if line.startswith("kmcontent_reports")}

    def test_reports_are_counted_and_one_address_is_bounded(self):
        server = kmtools.serve(self, self.release, "", "--no-accounts", "--metrics-public", "--report-rate", "5")
        body = b"release=v1&channel=live&percent=100&outcome=crc&bytes=5&seconds=1"
        statuses = [server.request("POST", "/report", body=body)[0] for _ in range(8)]
        self.assertEqual(statuses, [200] * 5 + [429] * 3)
        counted = self.metrics(server)
        self.assertEqual(counted['kmcontent_reports_total{release="v1",channel="live",outcome="crc"}'], 5)
        self.assertEqual(counted['kmcontent_reports_refused_total{reason="rate_limited"}'], 3)

    def test_only_well_formed_reports_of_kept_releases_are_counted(self):
        server = kmtools.serve(self, self.release, "", "--no-accounts", "--metrics-public")
        for body, status in [
            (b"release=v9&channel=live&percent=100&outcome=done&bytes=0&seconds=0", 200),  # no such release
            (b"release=v1&channel=beta&percent=100&outcome=done&bytes=0&seconds=0", 200),  # no such channel
            (b"release=v1&channel=live&percent=100&outcome=exploded&bytes=0&seconds=0", 400),
            (b"release=v1&channel=live&percent=100&outcome=done&bytes=0&seconds=0&name=mara", 400),
            (b"release=../v1&channel=live&percent=100&outcome=done&bytes=0&seconds=0", 400),
            (b"release=v1&channel=live&percent=100&outcome=done&bytes=0&seconds=0" + b"0" * 300, 400),
            (b"release=v1&channel=live&percent=30&outcome=done&bytes=1048576&seconds=12", 200),
        ]:
            self.assertEqual(server.request("POST", "/report", body=body)[0], status, body)
        counted = self.metrics(server)
        self.assertEqual([k for k in counted if k.startswith("kmcontent_reports_total")],
                         ['kmcontent_reports_total{release="v1",channel="live",outcome="done"}'])
        self.assertEqual(counted['kmcontent_reports_refused_total{reason="unknown_release"}'], 2)
        self.assertEqual(counted['kmcontent_reports_refused_total{reason="invalid"}'], 4)
        self.assertEqual(server.get("/report")[0], 404)


class RolloutHalts(unittest.TestCase):
    def test_failing_reports_halt_the_release_until_the_operator_acts(self):
        folder = kmtools.TempFolder(self)
        release = folder.join("release")
        for version in ("1", "2"):
            kmtools.write_file(folder.join("build"), "readme.txt", version.encode())
            kmtools.publish(folder.join("build"), release, version, *(["--percent", "50"] if version == "2" else []))
        server = kmtools.serve(self, release, "", "--no-accounts", "--metrics-public", "--report-rate", "1000",
                               "--halt-above", "0.3", "--min-reports", "10")
        newest = server.get("/manifest")[2]
        previous = server.get("/releases/v1/manifest")[2]

        def report(release_name, outcome):
            body = ("release=%s&channel=live&percent=50&outcome=%s&bytes=1&seconds=1" % (release_name, outcome))
            self.assertEqual(server.request("POST", "/report", body=body.encode())[0], 200)

        for outcome in ["crc"] * 4 + ["done"] * 5 + ["failed"] * 3:
            report("v1", outcome)  # the release before does not count for this one
        for outcome in ["done"] * 5 + ["crc", "failed", "certificate", "held"]:
            report("v2", outcome)  # 3 of 9 failing: under the minimum of 10 reports
        self.assertEqual(server.get("/manifest")[2], newest)
        report("v2", "done")  # 3 of 10: not above 0.3
        self.assertEqual(server.get("/manifest")[2], newest)
        report("v2", "crc")  # 4 of 11
        self.assertEqual(server.get("/manifest")[2], previous)
        self.assertIn("halting release v2: 4 of 11 reports failed", server.process.stderr.readline())
        metrics = server.get("/metrics")[2].decode()
        self.assertIn('kmcontent_rollout_halted{release="v2"} 1', metrics)
        self.assertIn('kmcontent_rollout_reports{release="v2",kind="failing"} 4', metrics)

        # The operator rolls out again: the halt ends and the counting starts afresh.
        result = kmtools.run_kmcontent("rollout", "--release", release, "--percent", "10")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn(b"\nrollout 10 v2 v1\n", server.get("/manifest")[2])
        self.assertIn('kmcontent_rollout_halted{release="v2"} 0', server.get("/metrics")[2].decode())
        self.assertIn("the halt of release v2 ends", server.process.stderr.readline())
