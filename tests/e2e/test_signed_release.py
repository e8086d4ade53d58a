"""Signed releases with the real launcher built with the tests' release key: it installs a
signed release, refuses an unsigned one, one changed in a single byte, one signed by another
key, an older one and the first release of a version published twice, never places a file (or starts a new launcher) whose bytes were changed
with size and CRC-32 kept, and verifies a resumed part file as a whole. A launcher built
without a key updates from a signed release as from any other."""
import os
import shutil
import tempfile

from kmtest.case import READY, UPDATE_FAILED, OFFLINE
from kmtest.launcher import launcher_exe, wait_until
from kmtest.server import ContentServer
from kmtest.signed import keyed_launcher_exe, other_key, publish, same_crc_change
from test_update import UpdateTestCase, blob

REFUSED = ("Could not verify the update server's release.",
           "Your game files were not changed. Press RETRY later, or PLAY without updating.")


def game_files():
    return {"Kelmorra.dat": blob(300_000), "data/maps/field.dat": blob(70_000), "readme.txt": b"Welcome\r\n"}


class SignedReleaseTest(UpdateTestCase):
    def keyed_folder(self):
        game = self.folder()
        shutil.copy(keyed_launcher_exe(), game.path("KMLauncher.exe"))
        return game

    def serve_release(self, manifest, files):
        server = ContentServer(files, manifest)
        self.addCleanup(server.stop)
        return server

    def serve_signed(self, files, version):
        return self.serve_release(*publish(files, version))

    def refused(self, game, server, reason):
        """Runs the launcher to its refusal and closes it; nothing of the release is used."""
        after = len(game.statuses())
        process = self.start_launcher(game, server=server.address)
        status = self.wait_for_phase(game, OFFLINE, after=after)
        self.assertEqual(status[1:], REFUSED)
        self.wait_for_log(game, "Refusing the release of %s: %s" % (server.address, reason))
        self.assertFalse(any(p.startswith("/files/") for p in server.paths_requested()))
        self.close(process)

    def test_signed_release_installs_and_tampered_manifests_are_refused(self):
        files = game_files()
        manifest, published = publish(files, 5)
        game = self.keyed_folder()
        for body, reason in [
            (manifest.split("sha256 ")[0], "the manifest is not signed"),
            (manifest.replace("version 5\n", "version 6\n"), "the signature does not match"),
            (publish(files, 5, key=other_key())[0], "the signature does not match"),
        ]:
            self.refused(game, self.serve_release(body, published), reason)
            self.assertFalse(game.exists("Kelmorra.dat"))

        server = self.serve_release(manifest, published)
        process, status = self.run_until(game, server, READY)
        self.assertEqual(status[1], "Up to date  -  version 5")
        self.assert_files_equal(game, files)
        self.close(process)
        # The installed version is a cache line every launcher reads and keeps.
        self.assertIn(b"00000000 5 0 :signed version\r\n", game.read("KMLauncher.crc"))

        older_manifest, older_files = publish(dict(files, **{"readme.txt": b"Old readme\r\n"}), 4)
        self.refused(game, self.serve_release(older_manifest, older_files),
                     "version 4 is older than version 5, already installed here")
        self.assertEqual(game.read("readme.txt"), files["readme.txt"])

    def test_a_version_published_again_replaces_the_first_release_for_good(self):
        tree = os.path.join(tempfile.mkdtemp(prefix="km-tree-"), "release")
        self.addCleanup(shutil.rmtree, os.path.dirname(tree), True)
        files = game_files()
        first = publish(files, 7, tree=tree)
        hotfix = dict(files, **{"readme.txt": b"Hotfixed readme\r\n"})
        second = publish(hotfix, 7, tree=tree)
        self.assertIn("\nserial 1\n", first[0])
        self.assertIn("\nserial 2\n", second[0])

        game = self.keyed_folder()
        process, status = self.run_until(game, self.serve_release(*second), READY)
        self.assertEqual(status[1], "Up to date  -  version 7")
        self.assert_files_equal(game, hotfix)
        self.close(process)
        crc = game.read("KMLauncher.crc")
        self.assertIn(b"00000000 7 0 :signed version\r\n", crc)
        self.assertRegex(crc, rb"(?m)^[0-9A-F]{8} 2 7 :signed serial\r$")

        # The first release of version 7 served again: refused before any file is asked for.
        self.refused(game, self.serve_release(*first),
                     "version 7 serial 1 is older than version 7 serial 2, already installed here")
        self.assertEqual(game.read("readme.txt"), hotfix["readme.txt"])
        # The installed release itself is still taken, with nothing to download.
        server = self.serve_release(*second)
        after = len(game.statuses())
        process = self.start_launcher(game, server=server.address)
        self.assertEqual(self.wait_for_phase(game, READY, after=after)[1], "Up to date  -  version 7")
        self.assertFalse(any(p.startswith("/files/") for p in server.paths_requested()))
        self.close(process)

    def test_file_changed_with_size_and_crc_kept_is_never_moved_into_place(self):
        files = game_files()
        server = self.serve_signed(files, 3)
        forged = same_crc_change(files["Kelmorra.dat"], 100, 2000)
        server.rule("/files/Kelmorra.dat", body=forged)
        game = self.keyed_folder()
        process, status = self.run_until(game, server, UPDATE_FAILED)
        self.assertEqual(status[1], "The update could not be downloaded.")
        self.assertEqual(game.log_lines().count("SHA-256 mismatch on Kelmorra.dat - deleting the download"), 3)
        self.assertFalse(game.exists("Kelmorra.dat"))
        self.assertFalse(game.exists("Kelmorra.dat.part"))
        self.close(process)

    def test_resumed_part_file_is_verified_whole_and_fetched_again_when_wrong(self):
        files = game_files()
        server = self.serve_signed(files, 3)
        game = self.keyed_folder()
        # A part file with the right CRC-32 for its length but changed bytes: the rest comes
        # by a range request and the CRC-32 of the whole file matches.
        half = files["Kelmorra.dat"][:150_000]
        game.write("Kelmorra.dat.part", same_crc_change(half, 10, 1000))
        process, _ = self.run_until(game, server, READY)
        lines = game.log_lines()
        self.assertTrue(any(line.startswith("SHA-256 mismatch on Kelmorra.dat (got ") for line in lines), lines)
        ranges = [r.headers.get("Range") for r in server.file_requests("/files/Kelmorra.dat")]
        self.assertEqual(ranges, ["bytes=150000-", None])
        self.assert_files_equal(game, files)
        self.close(process)

    def test_tampered_new_launcher_is_never_started(self):
        with open(keyed_launcher_exe(), "rb") as f:
            new_launcher = f.read() + b"\0" * 4096
        server = self.serve_signed({"KMLauncher.exe": new_launcher, "data/x.bin": blob(30_000)}, 9)
        server.rule("/files/KMLauncher.exe", body=same_crc_change(new_launcher, 4000, 64))
        game = self.keyed_folder()
        process, _ = self.run_until(game, server, UPDATE_FAILED)
        self.assertIn("SHA-256 mismatch on KMLauncher.exe - deleting the download", game.log_lines())
        self.assertNotIn("Self-update: started the new launcher", game.log_lines())
        with open(keyed_launcher_exe(), "rb") as f:
            self.assertEqual(game.read("KMLauncher.exe"), f.read())
        self.assertFalse(game.exists("KMLauncher.exe.part") or game.exists("KMLauncher.old"))
        self.close(process)

    def test_launcher_without_a_key_updates_from_a_signed_release(self):
        files = game_files()
        server = self.serve_signed(files, 8)
        game = self.folder()
        shutil.copy(launcher_exe(), game.path("KMLauncher.exe"))
        process, status = self.run_until(game, server, READY)
        self.assertEqual(status[1], "Up to date  -  version 8")
        self.assert_files_equal(game, files)
        self.assertFalse(any("SHA-256" in line or "Refusing" in line for line in game.log_lines()))
        self.close(process)
