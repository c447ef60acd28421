#!/usr/bin/env python3
"""make install and make uninstall: install.py install|uninstall --build DIR [--prefix PREFIX].

install copies the build's files under PREFIX (DESTDIR honoured) with cmake --install, and notes
beside CMake's install_manifest.txt the folders it made, so that uninstall (with the same DESTDIR)
removes every file of the manifest and then exactly those folders, when empty: the prefix is left
as it was found.
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile

FOLDERS = "install_folders.txt"
MANIFEST = "install_manifest.txt"


def fail(message):
    print("make install: " + message, file=sys.stderr)
    sys.exit(1)


def cmake_install(build, prefix, destdir):
    env = dict(os.environ, DESTDIR=destdir)
    return subprocess.run(["cmake", "--install", build, "--prefix", prefix], env=env).returncode


def give_back(build, name):
    """A file that root wrote into the build goes to the build's owner."""
    path = os.path.join(build, name)
    if os.path.exists(path):
        stat = os.stat(build)
        try:
            os.chown(path, stat.st_uid, stat.st_gid)
        except OSError:
            pass


def install(opts):
    destdir = os.environ.get("DESTDIR", "")
    # The folders this install will make: those of a trial install into a scratch folder that are
    # missing from the real tree (a trial writes nothing outside its folder: DESTDIR covers all).
    scratch = tempfile.mkdtemp(prefix="lumivex-install-")
    try:
        trial = subprocess.run(["cmake", "--install", opts.build, "--prefix", opts.prefix],
                               env=dict(os.environ, DESTDIR=scratch), stdout=subprocess.DEVNULL,
                               stderr=subprocess.PIPE, text=True)
        if trial.returncode != 0:
            fail("the install failed:\n" + trial.stderr)
        made = []
        for folder, _dirs, _files in os.walk(scratch):
            path = os.path.relpath(folder, scratch)
            if path != "." and not os.path.isdir(destdir + "/" + path):
                made.append(destdir + "/" + path)
    finally:
        shutil.rmtree(scratch, ignore_errors=True)
    record = os.path.join(opts.build, FOLDERS)
    known = []
    if os.path.exists(record):
        with open(record) as f:
            known = f.read().splitlines()
    if cmake_install(opts.build, opts.prefix, destdir) != 0:
        fail("cmake --install failed")
    # An install over an earlier one keeps the folders the earlier one made.
    with open(record, "w") as f:
        f.write("".join(p + "\n" for p in sorted(set(known + made))))
    give_back(opts.build, FOLDERS)
    give_back(opts.build, MANIFEST)


def uninstall(opts):
    destdir = os.environ.get("DESTDIR", "")
    manifest = os.path.join(opts.build, MANIFEST)
    if not os.path.exists(manifest):
        fail("nothing to uninstall: %s is missing (make install writes it)" % manifest)
    with open(manifest) as f:
        files = [line for line in f.read().splitlines() if line]
    for path in files:
        full = destdir + path
        if os.path.lexists(full):
            os.remove(full)
            print("-- Removed: " + full)
    record = os.path.join(opts.build, FOLDERS)
    folders = []
    if os.path.exists(record):
        with open(record) as f:
            folders = [line for line in f.read().splitlines() if line]
    # Deepest first; a folder that holds anything else stays. The record names them whole,
    # DESTDIR included.
    for folder in sorted(folders, key=lambda p: p.count("/"), reverse=True):
        try:
            os.rmdir(folder)
            print("-- Removed: " + folder + "/")
        except OSError:
            pass
    for name in (MANIFEST, FOLDERS):
        if os.path.exists(os.path.join(opts.build, name)):
            os.remove(os.path.join(opts.build, name))


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("action", choices=["install", "uninstall"])
    parser.add_argument("--build", required=True, help="the build folder (make build: build/default)")
    parser.add_argument("--prefix", default="/usr/local")
    opts = parser.parse_args()
    if opts.action == "install":
        install(opts)
    else:
        uninstall(opts)


if __name__ == "__main__":
    main()
