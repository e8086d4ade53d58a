"""Accounts kept in PostgreSQL: a throw-away cluster (initdb and pg_ctl on a loopback port,
run as the `postgres` user when the tests run as root, since the server refuses root), two
`kmcontent serve` instances sharing it, one name registered from both at once, and a
database that goes away."""
import concurrent.futures
import glob
import os
import pwd
import shutil
import socket
import subprocess
import tempfile
import unittest
from unittest import mock

import kmtools


def postgres_bin():
    found = sorted(glob.glob("/usr/lib/postgresql/*/bin/initdb"))
    return os.path.dirname(found[-1]) if found else None


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Cluster:
    """initdb into a temporary folder, started on 127.0.0.1 with trust authentication."""

    def __init__(self):
        self.bin = postgres_bin()
        self.folder = tempfile.mkdtemp(prefix="kmcontent-pg-")
        self.data = os.path.join(self.folder, "data")
        self.port = free_port()
        self.prefix = []
        if os.getuid() == 0:
            owner = pwd.getpwnam("postgres")
            os.chown(self.folder, owner.pw_uid, owner.pw_gid)
            self.prefix = ["runuser", "-u", "postgres", "--"]
        self.run("initdb", "-D", self.data, "-A", "trust", "-U", "kmtest", "--no-sync", "-E", "UTF8")
        self.start()

    def run(self, tool, *args):
        result = subprocess.run(self.prefix + [os.path.join(self.bin, tool)] + list(args), capture_output=True,
                                text=True, timeout=120, cwd=self.folder)
        if result.returncode != 0:
            raise AssertionError("%s failed: %s %s" % (tool, result.stdout, result.stderr))
        return result.stdout

    def start(self):
        options = "-p %d -k %s -c listen_addresses=127.0.0.1 -c fsync=off" % (self.port, self.folder)
        self.run("pg_ctl", "-D", self.data, "-o", options, "-l", os.path.join(self.folder, "log"), "-w", "start")

    def stop(self):
        self.run("pg_ctl", "-D", self.data, "-m", "immediate", "-w", "stop")

    def uri(self):
        return "postgresql://kmtest@127.0.0.1:%d/postgres" % self.port

    def query(self, sql):
        result = subprocess.run(["psql", self.uri(), "-tAc", sql], capture_output=True, text=True, timeout=60)
        if result.returncode != 0:
            raise AssertionError(result.stderr)
        return result.stdout.strip()

    def remove(self):
        try:
            self.stop()
        except AssertionError:
            pass
        shutil.rmtree(self.folder, True)


def form(user, password):
    return ("user=%s&pass=%s&email=" % (user, password)).encode()


@unittest.skipUnless(postgres_bin() and shutil.which("psql"), "PostgreSQL is not installed")
class PostgresAccounts(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.cluster = Cluster()
        cls.addClassCleanup(cls.cluster.remove)

    def setUp(self):
        self.cluster.query("DROP TABLE IF EXISTS accounts")
        self.folder = kmtools.TempFolder(self)
        kmtools.write_file(self.folder.join("release"), "manifest", b"KMCONTENT\nversion 1\nfiles 0\n")
        self.servers = [kmtools.serve(self, self.folder.join("release"), self.cluster.uri()) for _ in range(2)]

    def register(self, server, body):
        status, _, answer = server.request("POST", "/register", {}, body)
        return status, answer.decode().rstrip("\r\n")

    def test_two_servers_racing_for_one_name_create_one_account(self):
        def attempt(index):
            return self.register(self.servers[index % 2], form("Racer", "password%d" % index))[1]

        with concurrent.futures.ThreadPoolExecutor(max_workers=16) as pool:
            answers = list(pool.map(attempt, range(16)))
        self.assertEqual(sum(a.startswith("OK") for a in answers), 1, answers)
        self.assertTrue(all(a.startswith("OK") or "taken" in a for a in answers), answers)
        self.assertEqual(self.cluster.query("SELECT count(*) FROM accounts"), "1")
        # The same rules as with SQLite: any letter case is the same name, hashes only.
        self.assertIn("taken", self.register(self.servers[0], form("RACER", "abcd"))[1])
        self.assertIn("User names", self.register(self.servers[1], form("a b", "abcd"))[1])
        stored = self.cluster.query("SELECT name || ' ' || name_key || ' ' || password_hash FROM accounts")
        self.assertRegex(stored, r"^Racer racer \$argon2id\$")

    def test_a_database_that_went_away_is_reported_not_hidden(self):
        server = self.servers[0]
        self.assertEqual(self.register(server, form("Early", "1234"))[1], "OK Account Early created.")
        self.assertEqual(server.get("/healthz")[0], 200)
        self.cluster.stop()
        try:
            self.assertEqual(server.get("/healthz")[0], 503)
            self.assertIn("could not create", self.register(server, form("Later", "1234"))[1])
            self.assertEqual(server.get("/manifest")[0], 200)  # files are served regardless
        finally:
            self.cluster.start()
        self.assertEqual(self.register(server, form("Later", "1234"))[1], "OK Account Later created.")


@unittest.skipUnless(postgres_bin() and shutil.which("psql"), "PostgreSQL is not installed")
class SharedRolloutHalt(unittest.TestCase):
    """Two serve instances on one PostgreSQL count the reports of one release together, and
    the halt one of them decides is the other's too."""

    @classmethod
    def setUpClass(cls):
        cls.cluster = Cluster()
        cls.addClassCleanup(cls.cluster.remove)

    def test_reports_to_either_instance_halt_both(self):
        folder = kmtools.TempFolder(self)
        release = folder.join("release")
        for version in ("1", "2"):
            kmtools.write_file(folder.join("build"), "readme.txt", version.encode())
            kmtools.publish(folder.join("build"), release, version, *(["--percent", "50"] if version == "2" else []))
        servers = [kmtools.serve(self, release, self.cluster.uri(), "--report-rate", "1000", "--metrics-public",
                                 "--halt-above", "0.25", "--min-reports", "8") for _ in range(2)]
        self.assertIn(b"\nversion 2\n", servers[0].get("/manifest")[2])
        previous = servers[0].get("/releases/v1/manifest")[2]
        body = "release=v2&channel=live&percent=50&outcome=%s&bytes=1&seconds=1"
        # 3 failing of 8, half to each instance: neither alone has the minimum.
        for n, outcome in enumerate(["done", "crc", "done", "failed", "done", "done", "certificate", "done"]):
            self.assertEqual(servers[n % 2].request("POST", "/report", body=(body % outcome).encode())[0], 200)
        self.assertTrue(kmtools.wait_for(lambda: all(s.get("/manifest")[2] == previous for s in servers), 10),
                        [s.get("/metrics")[2] for s in servers])
        for server in servers:
            self.assertIn('kmcontent_rollout_reports{release="v2",kind="total"} 8', server.get("/metrics")[2].decode())
        self.assertEqual(self.cluster.query("SELECT halted_to FROM rollout_halts"), "v1")
        # A new rollout of the release resumes it on both.
        self.assertEqual(kmtools.run_kmcontent("rollout", "--release", release, "--percent", "50").returncode, 0)
        self.assertTrue(kmtools.wait_for(lambda: all(b"\nversion 2\n" in s.get("/manifest")[2] for s in servers), 10))


class PasswordFromLibpq(unittest.TestCase):
    """A role that must give its password: serve finds it where libpq looks (a password file,
    PGPASSWORD), never on its command line."""

    def setUp(self):
        self.cluster = Cluster()
        self.addCleanup(self.cluster.remove)
        self.cluster.query("CREATE ROLE kmsecret LOGIN PASSWORD 'from-the-file'")
        self.cluster.query("CREATE DATABASE kmsecret OWNER kmsecret")
        hba = os.path.join(self.cluster.data, "pg_hba.conf")
        with open(hba) as f:
            rules = f.read()
        with open(hba, "w") as f:
            f.write("host all kmsecret 127.0.0.1/32 scram-sha-256\n" + rules)
        self.cluster.run("pg_ctl", "-D", self.cluster.data, "reload")
        self.folder = kmtools.TempFolder(self)
        kmtools.write_file(self.folder.join("release"), "manifest", b"KMCONTENT\nversion 1\nfiles 0\n")
        self.uri = "postgresql://kmsecret@127.0.0.1:%d/kmsecret" % self.cluster.port

    def serve_with(self, environment):
        with mock.patch.dict(os.environ, environment):
            return kmtools.serve(self, self.folder.join("release"), self.uri)

    def test_the_password_comes_from_a_password_file_or_the_environment(self):
        passfile = self.folder.join("pgpass")
        with open(passfile, "w") as f:
            f.write("127.0.0.1:%d:kmsecret:kmsecret:from-the-file\n" % self.cluster.port)
        os.chmod(passfile, 0o600)
        server = self.serve_with({"PGPASSFILE": passfile})
        status, _, answer = server.request("POST", "/register", {}, form("Filed", "1234"))
        self.assertTrue(answer.startswith(b"OK"), answer)
        server.stop()
        server = self.serve_with({"PGPASSWORD": "from-the-file", "PGPASSFILE": "/nonexistent"})
        self.assertEqual(server.get("/healthz")[0], 200)

        with mock.patch.dict(os.environ, {"PGPASSFILE": "/nonexistent"}):
            os.environ.pop("PGPASSWORD", None)
            result = kmtools.run_kmcontent("serve", "--release", self.folder.join("release"), "--listen",
                                           "127.0.0.1:0", "--accounts", self.uri)
        self.assertEqual(result.returncode, 1)
        self.assertIn("password", result.stderr)


if __name__ == "__main__":
    unittest.main()
