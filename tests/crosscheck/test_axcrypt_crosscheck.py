"""The axcrypt field format, written a second time from standard parts: AES from the
`cryptography` package, SHA-256 and HMAC from hashlib/hmac, Base64 from base64. The game
client reads what the launcher writes, so the two implementations must agree byte for byte.

Run by CTest with AXCRYPT_CLI naming the axcrypt_cli program of the native build."""
import base64
import hashlib
import hmac
import os
import re
import struct
import subprocess
import unittest

from cryptography.hazmat.primitives.ciphers import Cipher, algorithms, modes

PASS = b"zmxncbvlaksjdhfgpqowieurytzmxncb"
IV_TAG = b"kmlf"  # the launcher's fixed tag; only needed to predict its IV
CLI = os.environ.get("AXCRYPT_CLI", "")


def derive(salt, passphrase):
    h = salt + bytes(16)
    for _ in range(8192):
        h = hashlib.sha256(h + passphrase).digest()
    return h


def text_form(container):
    coded = base64.b64encode(container).decode("ascii")
    return "\r\n".join(coded[i:i + 76] for i in range(0, len(coded), 76))


def encrypt(passphrase, plain, iv):
    """The container for a given IV (whose low nibble must already carry len % 16)."""
    key = derive(iv, passphrase)
    block_cipher = Cipher(algorithms.AES(key), modes.ECB()).encryptor()
    work = bytearray(16)
    chain = iv
    cipher = b""
    for start in range(0, len(plain), 16):
        piece = plain[start:start + 16]
        work[:len(piece)] = piece  # the rest keeps the previous block's bytes
        block = block_cipher.update(bytes(a ^ b for a, b in zip(work, chain)))
        work = bytearray(block)
        chain = block
        cipher += block
    tag = hmac.new(key, cipher, hashlib.sha256).digest()
    return text_form(iv + cipher + tag)


def launcher_iv(seconds, length):
    digest = hashlib.sha256(struct.pack("<qQ", seconds, length) + IV_TAG).digest()
    return digest[:15] + bytes([(digest[15] & 0xF0) | (length & 0x0F)])


def decode(text):
    coded = re.sub(r"[^A-Za-z0-9+/]", "", text)
    return base64.b64decode(coded + "=" * (-len(coded) % 4))


def decrypt(passphrase, text):
    """Returns (plain text, whether the tag is right)."""
    data = decode(text)
    assert len(data) >= 64 and len(data) % 16 == 0, len(data)
    iv, cipher, tag = data[:16], data[16:-32], data[-32:]
    key = derive(iv, passphrase)
    plain = Cipher(algorithms.AES(key), modes.CBC(iv)).decryptor().update(cipher)
    rest = iv[15] & 0x0F
    if rest:
        plain = plain[:len(plain) - 16 + rest]
    good_tag = hmac.compare_digest(tag, hmac.new(key, cipher, hashlib.sha256).digest())
    return plain.split(b"\0")[0], good_tag


def cli(*args, stdin=b""):
    result = subprocess.run([CLI, *args], input=stdin, capture_output=True, check=True)
    return result.stdout


def sample(length):
    return bytes(0x21 + (i * 13 + length) % 94 for i in range(length))


LENGTHS = [1, 2, 15, 16, 17, 31, 32, 33, 47, 48, 49, 63, 64, 65, 100, 127, 128]


@unittest.skipUnless(CLI and os.path.exists(CLI), "AXCRYPT_CLI not built")
class AxcryptCrossCheck(unittest.TestCase):
    def test_launcher_output_is_byte_for_byte_the_independent_one(self):
        for length in LENGTHS:
            plain = sample(length)
            seconds = 1700000000 + length
            ours = cli("encrypt", PASS, str(seconds), plain).decode("ascii")
            theirs = encrypt(PASS, plain, launcher_iv(seconds, length))
            self.assertEqual(ours, theirs, f"{length} bytes")

    def test_independent_reader_reads_launcher_fields_and_accepts_their_tags(self):
        for plain in [b"player", b"KELMORRA", b"127.0.0.1:25858", sample(64), sample(128)]:
            text = cli("encrypt-now", PASS, plain).decode("ascii")
            self.assertEqual(decrypt(PASS, text), (plain, True))

    def test_launcher_reads_fields_with_any_iv(self):
        for length in LENGTHS:
            plain = sample(length)
            random_iv = os.urandom(15) + bytes([(os.urandom(1)[0] & 0xF0) | (length & 0x0F)])
            text = encrypt(PASS, plain, random_iv)
            self.assertEqual(cli("decrypt", PASS, stdin=text.encode("ascii")), plain, f"{length} bytes")


if __name__ == "__main__":
    unittest.main()
