"""POST /register against the real account server: the answer grammar the launcher reads,
refused input, duplicate names (also racing), the database across a restart, and passwords
that the database does not give back."""
import concurrent.futures
import os
import sqlite3
import time
import unittest
import urllib.parse

import kmtools


def form(user, password, email=""):
    """The body exactly as the launcher builds it (blank as %20, every field present)."""
    quote = lambda text: urllib.parse.quote(text, safe="-._~")
    return ("user=%s&pass=%s&email=%s" % (quote(user), quote(password), quote(email))).encode("latin-1")


class Register(unittest.TestCase):
    def setUp(self):
        self.folder = kmtools.TempFolder(self)
        os.makedirs(self.folder.join("release"))
        self.accounts = self.folder.join("accounts.db")
        self.server = kmtools.serve(self, self.folder.join("release"), self.accounts)

    def register(self, body):
        status, headers, answer = self.server.request(
            "POST", "/register", {"Content-Type": "application/x-www-form-urlencoded"}, body)
        self.assertEqual(status, 200)
        self.assertTrue(answer.endswith(b"\r\n"), answer)
        return answer.decode("utf-8").rstrip("\r\n")

    def rows(self):
        db = sqlite3.connect(self.accounts)
        try:
            return db.execute("SELECT name, password_hash, email FROM accounts ORDER BY id").fetchall()
        finally:
            db.close()

    def test_a_new_account_is_ok_and_stored(self):
        self.assertEqual(self.register(form("Mara_1", "secret pass", "mara@example.com")), "OK Account Mara_1 created.")
        [(name, _, email)] = self.rows()
        self.assertEqual((name, email), ("Mara_1", "mara@example.com"))
        self.assertIn("account created", self.server.log_line("POST /register 200"))

    def test_email_is_optional(self):
        self.assertTrue(self.register(form("nomail", "1234")).startswith("OK"))
        self.assertEqual(self.rows()[0][2], "")

    def test_a_taken_name_is_refused_in_any_letter_case(self):
        self.assertTrue(self.register(form("Thorn", "first1")).startswith("OK"))
        for name in ("Thorn", "thorn", "THORN"):
            answer = self.register(form(name, "second2"))
            self.assertTrue(answer.startswith("ERR "), answer)
            self.assertIn("taken", answer)
        self.assertEqual(len(self.rows()), 1)

    def test_bad_input_is_refused_with_a_message_for_the_player(self):
        cases = [
            (form("ab", "1234"), "User names are 3 to 16"),
            (form("x" * 17, "1234"), "User names are 3 to 16"),
            (form("with blank", "1234"), "User names are 3 to 16"),
            (form("dash-name", "1234"), "User names are 3 to 16"),
            (form("caf\u00e9", "1234"), "User names are 3 to 16"),
            (form("goodname", "123"), "Passwords are 4 to 20"),
            (form("goodname", "p" * 21), "Passwords are 4 to 20"),
            (form("goodname", "1234", "not-an-address"), "e-mail"),
            (b"user=goodname&pass=12%zz34&email=", "not understood"),
            (b"pass=1234", "User names"),
            (b"", "User names"),
        ]
        for body, message in cases:
            with self.subTest(body=body):
                answer = self.register(body)
                self.assertTrue(answer.startswith("ERR "), answer)
                self.assertIn(message, answer)
        self.assertEqual(self.rows(), [])

    def test_names_and_passwords_at_their_limits(self):
        self.assertTrue(self.register(form("abc", "1234")).startswith("OK"))
        self.assertTrue(self.register(form("p" * 16, "q" * 20)).startswith("OK"))
        self.assertTrue(self.register(form("amp_pass", "a&b=c d%")).startswith("OK"))

    def test_twenty_racing_registrations_of_one_name_create_one_account(self):
        def attempt(index):
            return self.register(form("Racer", "password%d" % index))

        with concurrent.futures.ThreadPoolExecutor(max_workers=20) as pool:
            answers = list(pool.map(attempt, range(20)))
        self.assertEqual(sum(a.startswith("OK") for a in answers), 1, answers)
        self.assertTrue(all(a.startswith("OK") or "taken" in a for a in answers), answers)
        self.assertEqual(len(self.rows()), 1)

    def test_accounts_survive_a_restart(self):
        self.assertTrue(self.register(form("Keeper", "1234")).startswith("OK"))
        self.server.restart()
        self.assertIn("taken", self.register(form("keeper", "5678")))
        self.assertTrue(self.register(form("Second", "5678")).startswith("OK"))
        self.assertEqual([row[0] for row in self.rows()], ["Keeper", "Second"])

    def test_passwords_are_stored_only_as_salted_argon2id(self):
        password = "Sunrise42"
        self.assertTrue(self.register(form("alpha", password)).startswith("OK"))
        self.assertTrue(self.register(form("beta", password)).startswith("OK"))
        (_, hash_a, _), (_, hash_b, _) = self.rows()
        self.assertTrue(hash_a.startswith("$argon2id$"), hash_a)
        self.assertNotEqual(hash_a, hash_b)  # salted: the same password hashes differently
        self.server.stop()
        for name in os.listdir(self.folder.path):
            if name.startswith("accounts.db"):
                with open(self.folder.join(name), "rb") as f:
                    data = f.read()
                self.assertNotIn(password.encode(), data, name)
                self.assertNotIn(password.encode("utf-16-le"), data, name)


class RegisterLimits(unittest.TestCase):
    def test_a_client_that_creates_too_many_accounts_is_slowed_and_answers_take_equal_time(self):
        folder = kmtools.TempFolder(self)
        os.makedirs(folder.join("release"))
        server = kmtools.serve(self, folder.join("release"), folder.join("accounts.db"), "--register-rate", "3")
        timings = {}
        for name in ("Fresh", "fresh", "Other"):
            start = time.monotonic()
            status, _, answer = server.request("POST", "/register", {}, form(name, "1234"))
            timings[name] = time.monotonic() - start
            self.assertEqual(status, 200, answer)
        # A taken name is hashed and held like a free one: its answer is not the quick one.
        self.assertGreaterEqual(timings["fresh"], 0.45)
        self.assertGreaterEqual(timings["Fresh"], 0.45)
        status, headers, answer = server.request("POST", "/register", {}, form("Fourth", "1234"))
        self.assertEqual(status, 429)
        self.assertTrue(answer.startswith(b"ERR ") and answer.endswith(b"\r\n"), answer)
        self.assertGreaterEqual(int(headers["retry-after"]), 1)
        self.assertIn("refused: too many accounts", server.log_line("POST /register 429"))


if __name__ == "__main__":
    unittest.main()
