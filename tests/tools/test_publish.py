"""`kmcontent publish` as operators run it: the release tree it writes, the builds it refuses
(with their messages and a non-zero exit, and nothing written), a release replaced
while something keeps reading it, and what a run killed midway leaves."""
import os
import subprocess
import threading
import time
import unittest
import zlib

import kmtools


def manifest_files(text):
    """path -> (crc, size) from the file lines of a manifest."""
    files = {}
    for line in text.split("\n")[1:]:
        parts = line.split(" ", 2)
        if len(parts) == 3 and parts[0] not in ("version", "name", "notes", "mirror", "gameserver", "files"):
            files[parts[2]] = (int(parts[0], 16), int(parts[1]))
    return files


class Publish(unittest.TestCase):
    def setUp(self):
        self.folder = kmtools.TempFolder(self)
        self.build = self.folder.join("build")
        self.release = self.folder.join("release")
        os.makedirs(self.build)

    def refused(self, *extra, version="1"):
        result = kmtools.run_kmcontent("publish", "--build", self.build, "--out", self.release, "--version", version,
                                       *extra)
        self.assertEqual(result.returncode, 1, result.stderr)
        self.assertIn("nothing was published", result.stderr)
        self.assertFalse(os.path.exists(self.release))
        leftovers = [name for name in os.listdir(self.folder.path) if name not in ("build", "notes.txt")]
        self.assertEqual(leftovers, [])
        return result.stderr

    def test_release_tree_with_manifest_and_files(self):
        data = {"Kelmorra.exe": os.urandom(5000), "Data/new area.dat": os.urandom(100000), "empty.bin": b""}
        for path, content in data.items():
            kmtools.write_file(self.build, path, content)
        with open(self.folder.join("notes.txt"), "w") as f:
            f.write("Fixed the bridge\n\nNew quests\n")
        result = kmtools.publish(self.build, self.release, "9", "--name", "Bridge", "--notes", self.folder.join("notes.txt"),
                                 "--mirror", "http://127.0.0.1:9000/files", "--gameserver", "127.0.0.1:7000")
        self.assertIn("Published version 9: 3 files", result.stdout)
        self.assertIn("warning: the mirror http://127.0.0.1:9000/files is plain HTTP and the release is not signed",
                      result.stderr)
        with open(os.path.join(self.release, "manifest")) as f:
            text = f.read()
        self.assertTrue(text.startswith("KMCONTENT\nversion 9\nname Bridge\nnotes Fixed the bridge\nnotes\nnotes New quests\n"
                                        "mirror http://127.0.0.1:9000/files\ngameserver 127.0.0.1:7000\nfiles 3\n"), text)
        listed = manifest_files(text)
        self.assertEqual(set(listed), set(data))
        for path, content in data.items():
            self.assertEqual(listed[path], (zlib.crc32(content), len(content)))
            with open(os.path.join(self.release, "files", *path.split("/")), "rb") as f:
                self.assertEqual(f.read(), content)

    def test_refused_paths_are_named(self):
        for path in ("KMLauncher.log", "saves/slot1.tmp", "coinit.tmp", "what?.dat", "CON.txt", "trailing."):
            kmtools.write_file(self.build, path, b"x")
        kmtools.write_file(self.build, "fine.dat", b"x")
        kmtools.write_file(self.build, "Data/Map.dat", b"1")
        kmtools.write_file(self.build, "data/map.dat", b"2")
        kmtools.write_file(self.build, "data/Épée.txt", b"3")
        kmtools.write_file(self.build, "data/épée.txt", b"4")
        message = self.refused()
        for path in ("KMLauncher.log", "saves/slot1.tmp", "coinit.tmp", "what?.dat", "CON.txt", "trailing."):
            self.assertIn(path + ": ", message)
        self.assertIn('"Data/Map.dat" and "data/map.dat" name one file on Windows', message)
        self.assertRegex(message, '"data/[Éé]pée.txt" and "data/[Éé]pée.txt" name one file on Windows')
        self.assertNotIn("fine.dat", message)

    def test_bad_release_values_are_refused(self):
        kmtools.write_file(self.build, "a.dat", b"x")
        self.assertIn("version must be a whole number", self.refused(version="1.5"))
        with open(self.folder.join("notes.txt"), "w") as f:
            f.write("line\n" * 1001)
        self.assertIn("at most 1000", self.refused("--notes", self.folder.join("notes.txt")))
        self.assertIn("mirror must begin", self.refused("--mirror", "cdn.example.com"))
        self.assertIn("at most 64", self.refused("--gameserver", "g" * 65))

    def test_command_line_mistakes_exit_2_with_usage(self):
        for args in (["publish"], ["publish", "--build", self.build], ["publish", "--bogus", "1"], ["frobnicate"],
                     ["publish", "--build", self.build, "--out", self.release, "--version", "1", "--jobs", "0"]):
            with self.subTest(args=args):
                result = kmtools.run_kmcontent(*args)
                self.assertEqual(result.returncode, 2)
                self.assertTrue(result.stderr)
        self.assertFalse(os.path.exists(self.release))

    def test_help_describes_both_commands(self):
        result = kmtools.run_kmcontent("--help")
        self.assertEqual(result.returncode, 0)
        for option in ("--build", "--out", "--version", "--notes", "--mirror", "--gameserver", "--release", "--listen",
                       "--accounts"):
            self.assertIn(option, result.stdout)
        self.assertIn("--dry-run", kmtools.run_kmcontent("publish", "--help").stdout)

    def test_dry_run_prints_the_manifest_and_writes_nothing(self):
        kmtools.write_file(self.build, "a.dat", b"abc")
        result = kmtools.run_kmcontent("publish", "--build", self.build, "--version", "4", "--dry-run")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn("%08X 3 a.dat\n" % zlib.crc32(b"abc"), result.stdout)
        self.assertEqual(os.listdir(self.folder.path), ["build"])

    def test_a_reader_never_sees_a_missing_or_partial_release(self):
        for index in range(200):
            kmtools.write_file(self.build, "d/f%03d.dat" % index, os.urandom(2000))
        kmtools.publish(self.build, self.release, "1")
        complete = set()
        problems = []
        stop = threading.Event()

        def read_release():
            while not stop.is_set():
                try:
                    with open(os.path.join(self.release, "manifest")) as f:
                        text = f.read()
                except OSError as error:
                    problems.append(repr(error))
                    continue
                if not text.endswith("\n") or len(manifest_files(text)) != 200:
                    problems.append("partial manifest of %d bytes" % len(text))
                complete.add(text.split("\n")[1])

        reader = threading.Thread(target=read_release)
        reader.start()
        try:
            for version in range(2, 7):
                kmtools.write_file(self.build, "d/f000.dat", os.urandom(2000))
                kmtools.publish(self.build, self.release, str(version))
        finally:
            stop.set()
            reader.join()
        self.assertEqual(problems, [])
        self.assertIn("version 6", complete)
        self.assertEqual(sorted(os.listdir(self.folder.path)), ["build", "release"])

    def test_a_run_killed_midway_leaves_a_staging_folder_the_next_run_deletes(self):
        kmtools.write_file(self.build, "a.dat", b"first")
        kmtools.publish(self.build, self.release, "1")
        releases = os.path.join(self.release, "releases")
        with open(os.path.join(self.build, "big.dat"), "wb") as f:
            f.truncate(512 << 20)  # long enough to copy that the run is caught in the middle
        process = subprocess.Popen([kmtools.kmcontent(), "publish", "--build", self.build, "--out", self.release,
                                    "--version", "2", "--block-maps-from", "0"],
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + 60
        staging = []
        while not staging and process.poll() is None and time.monotonic() < deadline:
            staging = [name for name in os.listdir(releases) if name.startswith(".v2.new-")]
        process.kill()
        process.wait()
        self.assertEqual(staging, [".v2.new-%d" % process.pid])
        self.assertTrue(os.path.isdir(os.path.join(releases, staging[0])))

        os.remove(os.path.join(self.build, "big.dat"))
        result = kmtools.publish(self.build, self.release, "3")
        self.assertIn("Deleted %s, left by an interrupted publish\n" % os.path.join(releases, staging[0]),
                      result.stdout)
        self.assertEqual(sorted(os.listdir(releases)), ["v1", "v3"])

    def test_a_folder_that_is_not_a_release_is_kept(self):
        kmtools.write_file(self.build, "a.dat", b"x")
        kmtools.write_file(self.release, "thesis.doc", b"years of work")
        result = kmtools.run_kmcontent("publish", "--build", self.build, "--out", self.release, "--version", "1")
        self.assertEqual(result.returncode, 1)
        self.assertIn("is not a release", result.stderr)
        with open(os.path.join(self.release, "thesis.doc"), "rb") as f:
            self.assertEqual(f.read(), b"years of work")


if __name__ == "__main__":
    unittest.main()
