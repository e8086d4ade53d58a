"""Test certificates made with openssl in a scratch folder: a CA of the tests' own, a
certificate for "localhost" it signs, one of the same name that nobody signed, and the
trust of the CA in the run's Wine prefix (its machine "Root" store, through
tests/root_cert.exe), which the test takes back at its end."""
import os
import subprocess

from kmtest import env
from kmtest.launcher import build_file


def _openssl(*args, cwd):
    subprocess.run(["openssl"] + list(args), cwd=cwd, check=True, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)


class TestCertificates:
    """Files in folder: ca.der, signed.pem/.key (by the CA), unsigned.pem/.key (self-signed)."""

    def __init__(self, folder):
        self.folder = folder
        os.makedirs(folder, exist_ok=True)
        ca = ["-subj", "/CN=Kelmorra Test CA", "-addext", "basicConstraints=critical,CA:TRUE",
              "-addext", "keyUsage=critical,keyCertSign,cRLSign"]
        _openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "ca.key", "-out", "ca.pem",
                 "-days", "2", *ca, cwd=folder)
        _openssl("x509", "-in", "ca.pem", "-outform", "DER", "-out", "ca.der", cwd=folder)
        _openssl("req", "-newkey", "rsa:2048", "-nodes", "-keyout", "signed.key", "-out", "signed.csr",
                 "-subj", "/CN=localhost", cwd=folder)
        with open(os.path.join(folder, "ext.cnf"), "w") as f:
            f.write("subjectAltName=DNS:localhost\nbasicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\n")
        _openssl("x509", "-req", "-in", "signed.csr", "-CA", "ca.pem", "-CAkey", "ca.key", "-CAcreateserial",
                 "-out", "signed.pem", "-days", "2", "-extfile", "ext.cnf", cwd=folder)
        _openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "unsigned.key", "-out",
                 "unsigned.pem", "-days", "2", "-subj", "/CN=localhost", "-addext",
                 "subjectAltName=DNS:localhost", cwd=folder)

    def pair(self, name):
        return os.path.join(self.folder, name + ".pem"), os.path.join(self.folder, name + ".key")

    def trust_ca(self, facts, trusted=True):
        """Adds the CA to (or removes it from) the prefix's machine Root store."""
        subprocess.run([env.WINE, build_file("tests", "root_cert.exe"), "add" if trusted else "remove",
                        "Z:" + os.path.join(self.folder, "ca.der").replace("/", "\\")],
                       env=facts["env"], check=True, stdout=subprocess.DEVNULL, timeout=120)
