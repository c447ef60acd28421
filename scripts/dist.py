#!/usr/bin/env python3
"""Writes Lumivex's release files (make dist): the Windows zip, the Windows installer, the Debian
package when the build has the Linux saver, the web site's zip, the packages of the web-wallpaper
hosts (Lively Wallpaper, Wallpaper Engine), and SHA256SUMS of what it wrote.

Every file is written beside its final name and renamed into place, so a failed or interrupted run
leaves no half-written release file. The zips and the Debian package are reproducible: the zips'
entries are in a fixed order, and every entry, packaged file and the package's changelog carry one
fixed time, SOURCE_DATE_EPOCH when it is set, else the time of the last commit.
"""
import argparse
import glob
import hashlib
import json
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import zipfile

# 2026-01-01 00:00 UTC: the time of the entries when neither SOURCE_DATE_EPOCH nor git gives one.
FALLBACK_EPOCH = 1767225600


def fail(message):
    print("dist: " + message, file=sys.stderr)
    sys.exit(1)


def source_date_epoch(source):
    value = os.environ.get("SOURCE_DATE_EPOCH")
    if value:
        try:
            return int(value)
        except ValueError:
            fail("SOURCE_DATE_EPOCH is not a whole number of seconds: %r" % value)
    try:
        out = subprocess.run(["git", "-C", source, "log", "-1", "--format=%ct"], capture_output=True, text=True,
                             timeout=30)
        if out.returncode == 0 and out.stdout.strip().isdigit():
            return int(out.stdout.strip())
    except OSError:
        pass
    return FALLBACK_EPOCH


class Staged:
    """A release file written under a temporary name in its folder, renamed into place by commit()."""

    def __init__(self, folder, name):
        self.final = os.path.join(folder, name)
        handle, self.path = tempfile.mkstemp(prefix="." + name + ".", dir=folder)
        os.close(handle)

    def commit(self):
        os.chmod(self.path, 0o644)
        os.replace(self.path, self.final)
        return self.final

    def discard(self):
        if os.path.exists(self.path):
            os.remove(self.path)


def write_staged(folder, name, produce):
    staged = Staged(folder, name)
    try:
        produce(staged.path)
        return staged.commit()
    finally:
        staged.discard()


def zip_windows(opts, target):
    """The zip: both savers, the definitions, the licence and how to install them, in name order."""
    epoch = max(source_date_epoch(opts.source), 315532800)  # a zip cannot hold times before 1980
    stamp = time.gmtime(epoch)[:6]
    with open(os.path.join(opts.source, "packaging", "windows", "INSTALL.txt"), encoding="utf-8") as f:
        install = f.read().replace("@VERSION@", opts.version)
    entries = {
        "INSTALL.txt": install.replace("\r\n", "\n").replace("\n", "\r\n").encode("utf-8"),
        "LICENSE": open(os.path.join(opts.source, "LICENSE"), "rb").read(),
        "lumivex.ini": open(os.path.join(opts.source, "resources", "lumivex.ini"), "rb").read(),
        "lumivex.scr": open(opts.scr32, "rb").read(),
        "lumivex64.scr": open(opts.scr64, "rb").read(),
    }
    with zipfile.ZipFile(target, "w") as archive:
        for name in sorted(entries):
            info = zipfile.ZipInfo(name, date_time=stamp)
            info.compress_type = zipfile.ZIP_DEFLATED
            info.create_system = 3  # Unix, so that the permissions below are read
            info.external_attr = 0o644 << 16
            archive.writestr(info, entries[name], compresslevel=9)


def zip_web(opts, target):
    """The web site's zip: the two pages with their scripts and modules in one folder, and the licence."""
    epoch = max(source_date_epoch(opts.source), 315532800)
    stamp = time.gmtime(epoch)[:6]
    folder = "lumivex-%s-web/" % opts.version
    entries = {folder + "LICENSE": open(os.path.join(opts.source, "LICENSE"), "rb").read()}
    for name in os.listdir(opts.site):
        path = os.path.join(opts.site, name)
        if os.path.isfile(path):
            entries[folder + name] = open(path, "rb").read()
    with zipfile.ZipFile(target, "w") as archive:
        for name in sorted(entries):
            info = zipfile.ZipInfo(name, date_time=stamp)
            info.compress_type = zipfile.ZIP_DEFLATED
            info.create_system = 3
            info.external_attr = 0o644 << 16
            archive.writestr(info, entries[name], compresslevel=9)


def gallery_names(source):
    """The shipped gallery's definitions in file order, each named by the comment line above its
    header ("; 1. Barnsley fern: ..." gives "1. Barnsley fern"), as the hosts' settings list them.
    The layout is the saver's: the point count first, then per definition a header line with its
    number of maps m, m map lines and a box line."""
    with open(os.path.join(source, "resources", "lumivex.ini"), encoding="utf-8") as f:
        lines = f.read().replace("\r", "").split("\n")
    at = next(i for i, line in enumerate(lines) if re.match(r"\s*[-+]?\d", line)) + 1
    names, comment = [], None
    while at < len(lines):
        header = re.match(r"\s*\+?(\d+)", lines[at])
        if header and int(header.group(1)) > 0:
            names.append(comment or "IFS # %d" % (len(names) + 1))
            comment = None
            at += int(header.group(1)) + 2
            continue
        if lines[at].startswith(";"):
            comment = lines[at].lstrip("; ").split(":")[0].strip() or None
        at += 1
    return names


def host_files(opts):
    """The files of the web-wallpaper hosts' packages: {host: {name: bytes}}, the saver's site and
    each host's own files. The fractal setting lists "all" and then the gallery's definitions,
    by their number (0: all), which is what the page reads."""
    names = gallery_names(opts.source)
    choices = ["All, one after another"] + names
    pictures = {"preview.gif": os.path.join("docs", "gallery", "lumivex.gif"),
                "thumbnail.png": os.path.join("docs", "gallery", "01-barnsley-fern.png")}

    def template(host, name):
        with open(os.path.join(opts.source, "packaging", host, name), encoding="utf-8") as f:
            return json.loads(f.read().replace("@VERSION@", opts.version))

    def text(data):
        return (json.dumps(data, indent=2, ensure_ascii=False) + "\n").encode("utf-8")

    def picture(name):
        return open(os.path.join(opts.source, pictures[name]), "rb").read()

    site = {"LICENSE": open(os.path.join(opts.source, "LICENSE"), "rb").read()}
    for name in os.listdir(opts.site):
        path = os.path.join(opts.site, name)
        if os.path.isfile(path):
            site[name] = open(path, "rb").read()
    lively = template("lively", "LivelyProperties.json")
    lively["definition"]["items"] = choices
    engine = template("wallpaper-engine", "project.json")
    engine["general"]["properties"]["definition"]["options"] = [
        {"label": label, "value": str(i)} for i, label in enumerate(choices)]
    return {
        "lively": dict(site, **{"LivelyInfo.json": text(template("lively", "LivelyInfo.json")),
                                "LivelyProperties.json": text(lively),
                                "preview.gif": picture("preview.gif"), "thumbnail.png": picture("thumbnail.png")}),
        "wallpaper-engine": dict(site, **{"project.json": text(engine), "preview.gif": picture("preview.gif")}),
    }


def zip_host(opts, host, target):
    """A web-wallpaper host's package: Lively Wallpaper imports its zip with LivelyInfo.json at the
    top; Wallpaper Engine's project folder (project.json inside) unpacks into its projects."""
    epoch = max(source_date_epoch(opts.source), 315532800)
    stamp = time.gmtime(epoch)[:6]
    folder = "" if host == "lively" else "lumivex/"
    entries = host_files(opts)[host]
    with zipfile.ZipFile(target, "w") as archive:
        for name in sorted(entries):
            info = zipfile.ZipInfo(folder + name, date_time=stamp)
            info.compress_type = zipfile.ZIP_DEFLATED
            info.create_system = 3
            info.external_attr = 0o644 << 16
            archive.writestr(info, entries[name], compresslevel=9)


def installer(opts, target):
    command = [opts.makensis, "-V2"] + (["-WX"] if opts.strict else []) + [
               "-DVERSION=" + opts.version, "-DSCR64=" + os.path.abspath(opts.scr64),
               "-DINI=" + os.path.join(opts.source, "resources", "lumivex.ini"),
               "-DLICENSE=" + os.path.join(opts.source, "LICENSE"), "-DOUTFILE=" + os.path.abspath(target),
               os.path.join(opts.source, "packaging", "windows", "lumivex.nsi")]
    result = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    if result.returncode != 0:
        fail("makensis failed:\n" + result.stdout)


def debian_package(opts, name, target):
    """The Debian package of the Linux saver: CPack from the native build's install rules."""
    with tempfile.TemporaryDirectory(prefix=".cpack-", dir=opts.out) as work:
        # The changelog's date and every file's time in the package: the commit's, as in the zips.
        env = dict(os.environ, SOURCE_DATE_EPOCH=str(source_date_epoch(opts.source)))
        result = subprocess.run([opts.cpack, "--config", opts.deb_config, "-G", "DEB", "-B", work],
                                stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, env=env)
        if result.returncode != 0:
            fail("cpack failed:\n" + result.stdout)
        made = glob.glob(os.path.join(work, "*.deb"))
        if [os.path.basename(p) for p in made] != [name]:
            fail("cpack made %s, expected %s" % ([os.path.basename(p) for p in made], name))
        shutil.copyfile(made[0], target)


def sha256(path):
    digest = hashlib.sha256()
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(1 << 20), b""):
            digest.update(block)
    return digest.hexdigest()


def main():
    # A stop from outside still removes the half-written file (the finally clauses run).
    signal.signal(signal.SIGTERM, lambda *_: sys.exit("dist: stopped"))
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--version", required=True)
    parser.add_argument("--source", required=True, help="the top of the source tree")
    parser.add_argument("--out", required=True, help="the folder for the release files")
    parser.add_argument("--scr32", help="the 32-bit lumivex.scr (for the zip and the installer)")
    parser.add_argument("--scr64", help="the 64-bit lumivex64.scr (for the zip and the installer)")
    parser.add_argument("--deb-config", help="CPackConfig.cmake of a native build with the Linux saver")
    parser.add_argument("--site", help="the built web site (make web: build/web/site)")
    parser.add_argument("--makensis", default="makensis")
    parser.add_argument("--cpack", default="cpack")
    parser.add_argument("--only", choices=["zip", "exe", "deb", "web", "lively", "wallpaper-engine"], action="append",
                        help="write only these (repeatable); SHA256SUMS is written only with all of them")
    parser.add_argument("--strict", action="store_true", help="treat NSIS warnings as errors")
    opts = parser.parse_args()
    opts.source = os.path.abspath(opts.source)
    parts = opts.only or ["zip", "exe", "deb", "web", "lively", "wallpaper-engine"]
    # The Debian package and the web site's zip need no Windows build.
    if "zip" in parts or "exe" in parts:
        for path in (opts.scr32, opts.scr64):
            if not path or not os.path.isfile(path):
                fail("%s is missing: build the mingw32 and mingw64 presets first (make build-windows)"
                     % (path or "--scr32/--scr64"))
    if {"web", "lively", "wallpaper-engine"} & set(parts) and not (
            opts.site and os.path.isfile(os.path.join(opts.site, "index.html"))):
        fail("the web site is missing: build it first (make web)")
    if "exe" in parts and shutil.which(opts.makensis) is None:
        fail("makensis is missing: run scripts/install-deps.sh (Debian package nsis)")
    os.makedirs(opts.out, exist_ok=True)

    names = {"zip": "lumivex-%s-windows.zip" % opts.version, "exe": "lumivex-%s-setup-x64.exe" % opts.version,
             "deb": "lumivex_%s_amd64.deb" % opts.version, "web": "lumivex-%s-web.zip" % opts.version,
             "lively": "lumivex-%s-lively.zip" % opts.version,
             "wallpaper-engine": "lumivex-%s-wallpaper-engine.zip" % opts.version}
    written = []
    if "zip" in parts:
        written.append(write_staged(opts.out, names["zip"], lambda p: zip_windows(opts, p)))
    if "exe" in parts:
        written.append(write_staged(opts.out, names["exe"], lambda p: installer(opts, p)))
    if "deb" in parts:
        if opts.deb_config:
            written.append(write_staged(opts.out, names["deb"], lambda p: debian_package(opts, names["deb"], p)))
        else:
            print("dist: no Debian package: this build has no Linux saver (lumivex) to package")
    if "web" in parts:
        written.append(write_staged(opts.out, names["web"], lambda p: zip_web(opts, p)))
    for host in ("lively", "wallpaper-engine"):
        if host in parts:
            written.append(write_staged(opts.out, names[host], lambda p, host=host: zip_host(opts, host, p)))
    if opts.only is None:
        sums = "".join("%s  %s\n" % (sha256(p), os.path.basename(p)) for p in sorted(written))
        written.append(write_staged(opts.out, "SHA256SUMS", lambda p: open(p, "w").write(sums)))
    for path in written:
        print("dist: wrote %s" % path)


if __name__ == "__main__":
    main()
