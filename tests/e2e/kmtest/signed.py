"""Signed releases for the tests: published by the real `kmcontent publish --sign` with the
tests' release key (tests/e2e/keys, built into build/win/tests/testkey/KMLauncher.exe), and
bytes changed so that their size and CRC-32 stay the same, as an attacker would change them."""
import os
import shutil
import subprocess
import tempfile
import zlib


def test_key():
    return os.path.join(os.environ["KM_SOURCE"], "tests", "e2e", "keys", "release.key")


def keyed_launcher_exe():
    return os.path.join(os.environ["KM_WIN_BUILD"], "tests", "testkey", "KMLauncher.exe")


def kmcontent(*args):
    tool = os.path.join(os.environ["KM_NATIVE_BUILD"], "kmcontent")
    done = subprocess.run([tool] + list(args), capture_output=True, text=True, timeout=120)
    if done.returncode != 0:
        raise AssertionError("kmcontent %s failed: %s" % (args[0], done.stderr))


def publish(files, version, key=None, with_maps=False, tree=None):
    """(manifest text, {path: bytes}) of a release published from files {path: bytes}; with
    with_maps, the block maps publish wrote for large files too (a server without them
    makes the launcher download every file whole). With tree, a release folder the caller
    keeps, the release is published into it after the ones published there before (into a
    new folder for each call otherwise)."""
    work = tempfile.mkdtemp(prefix="km-signed-")
    release = tree or os.path.join(work, "release")
    try:
        for path, data in files.items():
            target = os.path.join(work, "build", *path.split("/"))
            os.makedirs(os.path.dirname(target), exist_ok=True)
            with open(target, "wb") as f:
                f.write(data)
        kmcontent("publish", "--build", os.path.join(work, "build"), "--out", release,
                  "--version", str(version), "--sign", key or test_key())
        with open(os.path.join(release, "manifest"), "rb") as f:
            manifest = f.read().decode("latin-1")
        published = {}
        for path in files:
            for name in (path, path + ".kmmap") if with_maps else (path,):
                target = os.path.join(release, "files", *name.split("/"))
                if os.path.exists(target):
                    with open(target, "rb") as f:
                        published[name] = f.read()
        return manifest, published
    finally:
        shutil.rmtree(work, ignore_errors=True)


def other_key():
    """A fresh release key that no launcher is built with (path of its release.key)."""
    folder = tempfile.mkdtemp(prefix="km-otherkey-")
    kmcontent("keygen", "--out", folder)
    return os.path.join(folder, "release.key")


def same_crc_change(data, change_at, fix_at):
    """data with the byte at change_at changed and the four bytes at fix_at set so that the
    length and the CRC-32 stay those of data (CRC-32 is affine over the bits of a message of
    fixed length, so 32 free bits can cancel any change)."""
    zeros = zlib.crc32(bytes(len(data)))

    def effect(position, value):
        delta = bytearray(len(data))
        delta[position] = value
        return zlib.crc32(bytes(delta)) ^ zeros

    target = effect(change_at, 0x5A)
    rows = [(effect(fix_at + bit // 8, 1 << (bit % 8)), 1 << bit) for bit in range(32)]
    # Gaussian elimination over GF(2): find the fix bits whose effects add up to target.
    pivots = {}
    for value, mask in rows:
        for bit in reversed(range(32)):
            if not value >> bit & 1:
                continue
            if bit not in pivots:
                pivots[bit] = (value, mask)
                break
            value ^= pivots[bit][0]
            mask ^= pivots[bit][1]
    fix = 0
    for bit in reversed(range(32)):
        if target >> bit & 1:
            target ^= pivots[bit][0]
            fix ^= pivots[bit][1]
    assert target == 0
    changed = bytearray(data)
    changed[change_at] ^= 0x5A
    for i in range(4):
        changed[fix_at + i] ^= fix >> (8 * i) & 0xFF
    assert len(changed) == len(data) and zlib.crc32(bytes(changed)) == zlib.crc32(data) and changed != data
    return bytes(changed)
