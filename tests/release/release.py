#!/usr/bin/env python3
"""Tests of the release files, run by CTest, one case per call: the Windows programs' PE files, the zips
(Windows, web) and SHA256SUMS (dist), the installer in a Wine prefix of its own, and the Debian package (no Wine).
"""
import gzip
import hashlib
import os
import re
import shutil
import struct
import subprocess
import sys
import time
import zipfile

import pytest

from harness import Failure, Wine, check, ends_with, log
from wine_saver import check_saver_picture

ZIP_FILES = ["INSTALL.txt", "LICENSE", "lumivex.ini", "lumivex.scr", "lumivex64.scr"]
DIST_EPOCH = 1780000000  # 2026-05-28 20:26:40 UTC


def needs(opts):
    site = opts.site and os.path.join(opts.site, "index.html")
    return {"files": [opts.scr32, opts.scr64], "dist": [opts.scr32, opts.scr64, opts.render, site],
            "installer": [opts.scr64, Wine.WINE], "deb": [], "hosts": [opts.render, site]}


def release_names(version):
    return {"zip": "lumivex-%s-windows.zip" % version, "exe": "lumivex-%s-setup-x64.exe" % version,
            "deb": "lumivex_%s_amd64.deb" % version, "web": "lumivex-%s-web.zip" % version,
            "lively": "lumivex-%s-lively.zip" % version,
            "wallpaper-engine": "lumivex-%s-wallpaper-engine.zip" % version}


def run_dist(opts, out, *extra):
    shutil.rmtree(out, ignore_errors=True)
    env = dict(os.environ, SOURCE_DATE_EPOCH=str(DIST_EPOCH))
    command = [sys.executable, os.path.join(opts.source, "scripts", "dist.py"), "--version", opts.release_version,
               "--source", opts.source, "--out", out, "--strict"]
    if opts.scr32 and opts.scr64:
        command += ["--scr32", opts.scr32, "--scr64", opts.scr64]
    if opts.deb_config != "none":
        command += ["--deb-config", opts.deb_config]
    if opts.site:
        command += ["--site", opts.site]
    result = subprocess.run(command + list(extra), env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                            timeout=300)
    check(result.returncode == 0, "dist.py failed:\n%s" % result.stdout.decode("latin-1")[-3000:])


def version_resource(path):
    """(FileVersion numbers, the version strings) of a PE file's version resource."""
    data = Resources(path).items.get((16, 1))
    check(data is not None, "%s has no version resource" % path)
    fixed = data.find(struct.pack("<I", 0xFEEF04BD))
    check(fixed >= 0, "%s: the version resource has no fixed part" % path)
    ms, ls = struct.unpack_from("<II", data, fixed + 8)
    numbers = "%d.%d.%d" % (ms >> 16, ms & 0xFFFF, ls >> 16)
    text = data.decode("utf-16-le", "replace")
    strings = dict(re.findall(r"(FileVersion|ProductVersion)\x00+([^\x00]+)", text))
    return numbers, strings


def case_dist(opts):
    """The release files: the zip holds the listed files and nothing else, two runs two seconds apart
    give the same bytes, SHA256SUMS is right, and every place that carries the version carries one."""
    version = opts.release_version
    names = release_names(version)
    first, second = os.path.join(opts.work, "dist", "a"), os.path.join(opts.work, "dist", "b")
    run_dist(opts, first)
    time.sleep(2)  # a zip stores times to two seconds: a wall-clock time inside would now differ
    run_dist(opts, second, "--only", "zip", "--only", "web")

    for kind in ("zip", "web"):
        with open(os.path.join(first, names[kind]), "rb") as a, open(os.path.join(second, names[kind]), "rb") as b:
            check(a.read() == b.read(), "two builds of %s differ" % names[kind])
    zip_a = os.path.join(first, names["zip"])
    with zipfile.ZipFile(zip_a) as archive:
        infos = archive.infolist()
        check([i.filename for i in infos] == ZIP_FILES, "the zip holds %s, expected %s"
              % ([i.filename for i in infos], ZIP_FILES))
        stamp = time.gmtime(DIST_EPOCH)[:6]
        for info in infos:
            check(info.date_time == (stamp[0], stamp[1], stamp[2], stamp[3], stamp[4], stamp[5] // 2 * 2),
                  "%s is dated %s, not SOURCE_DATE_EPOCH" % (info.filename, info.date_time))
        for name, path in (("lumivex.scr", opts.scr32), ("lumivex64.scr", opts.scr64), ("LICENSE", "LICENSE"),
                           ("lumivex.ini", os.path.join("resources", "lumivex.ini"))):
            with open(os.path.join(opts.source, path), "rb") as f:
                check(archive.read(name) == f.read(), "%s in the zip is not %s" % (name, path))
        install = archive.read("INSTALL.txt").decode("utf-8")
        check("lumivex64.scr" in install and "System32" in install and "\r\n" in install and "@" not in install,
              "INSTALL.txt does not say which file goes where (in Windows line ends)")

    # The web site's zip: the site's files and the licence, in one folder (tests/web/ runs its pages).
    with zipfile.ZipFile(os.path.join(first, names["web"])) as archive:
        held = sorted(archive.namelist())
    folder = "lumivex-%s-web/" % version
    site = sorted(folder + n for n in os.listdir(opts.site) if os.path.isfile(os.path.join(opts.site, n)))
    check(held == sorted(site + [folder + "LICENSE"]), "the web zip holds %s, expected the site and LICENSE" % held)

    expected = sorted(n for k, n in names.items() if k != "deb" or opts.deb_config != "none")
    present = sorted(n for n in os.listdir(first) if not n.startswith("."))
    check(present == sorted(expected + ["SHA256SUMS"]), "dist wrote %s, expected %s and SHA256SUMS"
          % (present, expected))
    with open(os.path.join(first, "SHA256SUMS")) as f:
        sums = dict(reversed(line.split("  ", 1)) for line in f.read().splitlines())
    check(sorted(sums) == expected, "SHA256SUMS lists %s" % sorted(sums))
    for name, digest in sums.items():
        with open(os.path.join(first, name), "rb") as f:
            check(hashlib.sha256(f.read()).hexdigest() == digest, "SHA256SUMS is wrong for %s" % name)

    out = subprocess.run([opts.render, "--version"], capture_output=True, text=True, timeout=30).stdout
    check(out.strip() == "lumivex-render " + version, "lumivex-render --version says %r" % out)
    for path in (opts.scr32, opts.scr64, os.path.join(first, names["exe"])):
        numbers, strings = version_resource(path)
        check(numbers == version and strings.get("FileVersion") == version
              and strings.get("ProductVersion") == version,
              "%s carries version %s %s, expected %s" % (os.path.basename(path), numbers, strings, version))
    log("ok: %s holds %s, %s the site; each the same bytes twice; SHA256SUMS of %d files; version %s in lumivex-render, "
        "both .scr and the installer" % (names["zip"], " ".join(ZIP_FILES), names["web"], len(sums), version))


# The web-wallpaper hosts' packages by their documentation: Lively Wallpaper's web wallpaper (its
# wiki: LivelyInfo.json, Type 1 "web", and LivelyProperties.json by livelyPropertiesSchema.json)
# and Wallpaper Engine's web wallpaper (docs.wallpaperengine.io: project.json of type "web", user
# properties in general.properties). Per host: the folder in the zip, its own files, the manifest
# and the fields it must carry (a type: any value of it), where the properties are, and for each
# control type the fields it must have and may have (beyond "type" and "value").
HOST_PACKAGES = [
    ("lively", "", ["LivelyInfo.json", "LivelyProperties.json", "preview.gif", "thumbnail.png"], "LivelyInfo.json",
     {"AppVersion": str, "Title": "Lumivex", "Desc": str, "Type": 1, "FileName": "index.html",
      "Thumbnail": "thumbnail.png", "Preview": "preview.gif", "Arguments": "--pause-event", "IsAbsolutePath": False},
     ("LivelyProperties.json", []), ["definition", "seed", "status", "fps"],
     {"dropdown": ({"text", "items"}, set()), "textbox": ({"text"}, set()), "checkbox": ({"text"}, set()),
      "slider": ({"text", "min", "max", "step"}, set())}),
    ("wallpaper-engine", "lumivex/", ["project.json", "preview.gif"], "project.json",
     {"title": "Lumivex", "description": str, "type": "web", "file": "index.html", "preview": "preview.gif"},
     ("project.json", ["general", "properties"]), ["definition", "seed", "status"],
     {"combo": ({"text", "order", "options"}, set()), "textinput": ({"text", "order"}, set()),
      "bool": ({"text", "order"}, set()), "slider": ({"text", "order", "min", "max"}, {"step", "fraction", "precision"})}),
]


def case_hosts(opts, chromium):
    """The packages of Lively Wallpaper and Wallpaper Engine: the site, the host's manifest with the
    fields its documentation names, the pictures it names, the settings as the host's controls
    (the definition lists all of them and every one of the gallery), and the unpacked page runs
    with no console error, served and from file://."""
    import json
    from harness import no_console_errors, serve, wait_script
    names = release_names(opts.release_version)
    out = os.path.join(opts.work, "hosts")
    run_dist(opts, out, "--only", "lively", "--only", "wallpaper-engine")
    check_out = subprocess.run([opts.render, "--check", "--json", "--ini", os.path.join(opts.source, "resources",
                                "lumivex.ini")], capture_output=True, text=True, timeout=120).stdout
    definitions = json.loads(check_out.splitlines()[-1])["definitions"]
    site = sorted(n for n in os.listdir(opts.site) if os.path.isfile(os.path.join(opts.site, n)))
    for kind, folder, own, manifest_name, fields, (properties_file, path), keys, controls in HOST_PACKAGES:
        unpacked = os.path.join(out, kind)
        with zipfile.ZipFile(os.path.join(out, names[kind])) as archive:
            held = sorted(archive.namelist())
            expected = sorted(folder + n for n in site + ["LICENSE"] + own)
            check(held == expected, "%s holds %s, expected %s" % (names[kind], held, expected))
            archive.extractall(unpacked)
        top = os.path.join(unpacked, folder)
        with open(os.path.join(top, manifest_name), encoding="utf-8") as f:
            manifest = json.load(f)
        for field, value in fields.items():
            check(field in manifest and (isinstance(manifest[field], value) if isinstance(value, type)
                                         else manifest[field] == value),
                  "%s: %s is %r" % (manifest_name, field, manifest.get(field)))
        for field in ("FileName", "Thumbnail", "Preview", "file", "preview"):
            if field in manifest:
                check(os.path.isfile(os.path.join(top, manifest[field])), "%s names %s, not in the zip"
                      % (manifest_name, manifest[field]))
        with open(os.path.join(top, properties_file), encoding="utf-8") as f:
            properties = json.load(f)
        for step in path:
            properties = properties[step]
        check(sorted(properties) == sorted(keys), "%s: the settings are %s, the page reads %s"
              % (kind, sorted(properties), sorted(keys)))
        for key, control in properties.items():
            check(control.get("type") in controls and "value" in control, "%s: %s is %s" % (kind, key, control))
            must, may = controls[control["type"]]
            extra = set(control) - must - may - {"type", "value"}
            check(must <= set(control) and not extra, "%s: %s (%s) lacks %s or has %s"
                  % (kind, key, control["type"], sorted(must - set(control)), sorted(extra)))
            if control["type"] == "slider":
                check(control["min"] <= control["value"] <= control["max"], "%s: %s is out of range" % (kind, key))
        choice = properties["definition"]
        labels = choice.get("items") or [o["label"] for o in choice["options"]]
        check(len(labels) == definitions + 1 and labels[0].startswith("All") and labels[1] == "1. Barnsley fern",
              "%s: the definition lists %s, for %d definitions" % (kind, labels, definitions))
        if "options" in choice:
            check([o["value"] for o in choice["options"]] == [str(i) for i in range(definitions + 1)],
                  "%s: the definition's values are %s" % (kind, choice["options"]))
        log("ok: %s: %s with %s, settings %s" % (names[kind], manifest_name, ", ".join(
            "%s=%s" % (k, manifest[k]) for k in fields if not isinstance(fields[k], type)), " ".join(keys)))
        base = serve(top).url
        for where, url in (("served", base + "index.html"), ("file://", "file://" + os.path.join(top, "index.html"))):
            driver = chromium(640, 400)
            driver.get(url)
            wait_script(driver, "return document.body.dataset.ready === 'running'", what=kind)
            time.sleep(1)
            no_console_errors(driver, "%s %s" % (kind, where))
            log("ok: %s's page runs %s from the unpacked zip with no console error" % (kind, where))


UNINSTALL_KEY = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Lumivex"
DESKTOP_KEY = r"HKCU\Control Panel\Desktop"
OTHER_SAVER = r"C:\windows\system32\other.scr"


def reg_values(wine, key):
    """The values of a registry key as {name: text} (a dword as a decimal number), or None when the
    key is missing: read from the prefix's registry files, which Wine writes when its server ends,
    so no Wine program needs to start for it."""
    wine.idle()
    root, _, path = key.partition("\\")
    with open(os.path.join(wine.prefix, {"HKLM": "system.reg", "HKCU": "user.reg"}[root]), encoding="latin-1") as f:
        text = f.read()
    header = "\n[" + path.replace("\\", "\\\\").lower() + "]"
    start = text.lower().find(header)
    if start < 0:
        return None
    values = {}
    for line in text[start + len(header):].split("\n")[1:]:
        if not line.strip():
            break
        match = re.match(r'"((?:[^"\\]|\\.)*)"=(?:"((?:[^"\\]|\\.)*)"|dword:([0-9a-f]{8}))$', line)
        if match is not None:
            unescape = lambda t: re.sub(r"\\(.)", r"\1", t)
            values[unescape(match.group(1))] = (unescape(match.group(2)) if match.group(3) is None
                                                else str(int(match.group(3), 16)))
    return values


@pytest.mark.host(prefix="installer-prefix", fresh=True)
def case_installer(opts, wine):
    """The installer in a fresh prefix of its own: /NOCURRENT and an uninstall with another saver
    chosen keep that choice; a plain install makes Lumivex the saver, which then runs from System32;
    its uninstall removes everything and the choice."""
    prefix = wine.prefix
    setup = os.path.join(opts.work, "dist", "a", release_names(opts.release_version)["exe"])
    check(os.path.exists(setup), "%s is missing (the case dist makes it)" % setup)
    installed = [os.path.join(prefix.system32, "lumivex64.scr"), os.path.join(prefix.system32, "lumivex.ini")]

    def check_installed(what):
        for path, source in zip(installed, (opts.scr64, os.path.join(opts.source, "resources", "lumivex.ini"))):
            check(os.path.exists(path), "%s: %s is missing" % (what, path))
            with open(path, "rb") as a, open(source, "rb") as b:
                check(a.read() == b.read(), "%s: %s is not %s" % (what, path, source))
        entry = reg_values(prefix, UNINSTALL_KEY)
        check(entry is not None, "%s: no uninstall entry" % what)
        quiet = entry.get("QuietUninstallString", "")
        wanted = {"DisplayName": "Lumivex", "DisplayVersion": opts.release_version,
                  "Publisher": "the Lumivex authors",
                  "DisplayIcon": r"C:\windows\system32\lumivex64.scr,0"}
        for name, value in wanted.items():
            check(entry.get(name) == value, "%s: %s is %r, expected %r" % (what, name, entry.get(name), value))
        check(re.fullmatch(r'"(.+\\uninstall\.exe)" /S', quiet) is not None
              and entry.get("UninstallString") == quiet[:-3], "%s: the uninstall strings are %r and %r"
              % (what, entry.get("UninstallString"), quiet))
        return re.fullmatch(r'"(.+)" /S', quiet).group(1)

    def uninstall(uninstaller, what):
        check(prefix.run(uninstaller, "/S") == 0, "%s: the uninstaller failed" % what)
        for path in installed:
            check(not os.path.exists(path), "%s: %s is still there" % (what, path))
        check(not os.path.exists(os.path.join(prefix.prefix, "drive_c", "Program Files", "Lumivex")),
              "%s: the uninstaller's folder is still there" % what)
        check(reg_values(prefix, UNINSTALL_KEY) is None, "%s: the uninstall entry is still there" % what)

    check(prefix.run("reg", "add", DESKTOP_KEY, "/v", "SCRNSAVE.EXE", "/d", OTHER_SAVER, "/f") == 0,
          "cannot choose another saver")
    check(prefix.run(setup, "/S", "/NOCURRENT") == 0, "the installer with /NOCURRENT failed")
    uninstaller = check_installed("/S /NOCURRENT")
    check(reg_values(prefix, DESKTOP_KEY).get("SCRNSAVE.EXE") == OTHER_SAVER,
          "/NOCURRENT replaced the chosen saver")
    uninstall(uninstaller, "uninstall with another saver chosen")
    check(reg_values(prefix, DESKTOP_KEY).get("SCRNSAVE.EXE") == OTHER_SAVER,
          "the uninstaller cleared another saver's choice")
    log("ok: /NOCURRENT installs and leaves the chosen saver; the uninstall leaves it too")

    check(prefix.run(setup, "/S") == 0, "the silent installer failed")
    uninstaller = check_installed("/S")
    desktop = reg_values(prefix, DESKTOP_KEY)
    check(desktop.get("SCRNSAVE.EXE") == r"C:\windows\system32\lumivex64.scr" and
          desktop.get("ScreenSaveActive") == "1", "Lumivex is not the chosen saver: SCRNSAVE.EXE %r, "
          "ScreenSaveActive %r" % (desktop.get("SCRNSAVE.EXE"), desktop.get("ScreenSaveActive")))
    log("ok: /S installs lumivex64.scr and lumivex.ini into System32, the entry, and chooses Lumivex")

    empty = os.path.join(wine.dir, "empty")
    os.makedirs(empty)
    saver = wine.program(r"C:\windows\system32\lumivex64.scr", "/s", cwd=empty)
    wine.wait_picture(saver, timeout=30)
    colour = check_saver_picture(wine, saver, status=False)
    wine.xdotool("key", "space")
    ends_with(saver, 0, 10, "the installed saver")
    log("ok: the installed saver, started from a folder without lumivex.ini, drew the shipped "
        "gallery in %s" % (colour,))

    uninstall(uninstaller, "silent uninstall")
    check("SCRNSAVE.EXE" not in reg_values(prefix, DESKTOP_KEY),
          "the uninstaller left SCRNSAVE.EXE naming Lumivex")
    log("ok: the silent uninstaller removed the files, the entry and the choice of Lumivex")


def case_deb(opts):
    """The Debian package: the installed tree of the build's install rules (with lumivex-render and
    its manual page), the same bytes from two builds, lintian without error, a working lumivex
    --version after dpkg -i into a root of the case's own, nothing left after dpkg -r."""
    if opts.deb_config == "none":
        pytest.skip("this build has no Linux saver (lumivex), so no Debian package")
    version = opts.release_version
    # A package of its own, so that neither the Windows builds nor the case dist are needed.
    out = os.path.join(opts.work, "deb")
    run_dist(opts, out, "--only", "deb")
    deb = os.path.join(out, release_names(version)["deb"])
    check(os.path.exists(deb), "dist.py --only deb did not write %s" % deb)
    listing = subprocess.run(["dpkg-deb", "--contents", deb], check=True, capture_output=True, text=True,
                             timeout=60).stdout
    files = sorted(line.split(None, 5)[5][1:].split(" -> ")[0] for line in listing.splitlines()
                   if not line.startswith("d"))
    # The same tree as the build's install rules give.
    stage = os.path.join(opts.work, "deb-stage")
    shutil.rmtree(stage, ignore_errors=True)
    subprocess.run(["cmake", "--install", os.path.dirname(opts.deb_config), "--prefix", "/usr"],
                   env=dict(os.environ, DESTDIR=stage), check=True, capture_output=True, timeout=120)
    staged = sorted("/" + os.path.relpath(os.path.join(d, f), stage) for d, _, fs in os.walk(stage) for f in fs)
    check(files == staged, "the package holds %s,\nthe install rules install %s" % (files, staged))
    for wanted in ("/usr/share/doc/lumivex/copyright", "/usr/share/doc/lumivex/changelog.gz", "/usr/bin/lumivex-render",
                   "/usr/share/man/man1/lumivex-render.1.gz", "/usr/share/icons/hicolor/48x48/apps/lumivex.png",
                   "/usr/share/xscreensaver/config/lumivex.xml"):
        check(wanted in files, "the package has no %s" % wanted)
    # Reproducible: a second build a few seconds later gives the same bytes, the changelog dated
    # from SOURCE_DATE_EPOCH.
    time.sleep(2)
    again = os.path.join(opts.work, "deb-again")
    run_dist(opts, again, "--only", "deb")
    with open(deb, "rb") as a, open(os.path.join(again, release_names(version)["deb"]), "rb") as b:
        check(a.read() == b.read(), "two builds of the Debian package differ")
    shutil.rmtree(again, ignore_errors=True)
    data = subprocess.run(["dpkg-deb", "--fsys-tarfile", deb], check=True, capture_output=True, timeout=60).stdout
    changelog = subprocess.run(["tar", "-xO", "./usr/share/doc/lumivex/changelog.gz"], input=data, check=True,
                               capture_output=True, timeout=60).stdout
    dated = time.strftime("%a, %d %b %Y %H:%M:%S +0000", time.gmtime(DIST_EPOCH))
    check(dated.encode() in gzip.decompress(changelog), "the package's changelog is not dated %s" % dated)
    links = {line.split(None, 5)[5][1:].split(" -> ")[0] for line in listing.splitlines() if line.startswith("l")}
    programs = [f for f in files if os.path.basename(f) == "lumivex" and f not in links]
    check(len(programs) == 1, "the package holds %d programs named lumivex: %s" % (len(programs), programs))
    lint = subprocess.run(["lintian", "--fail-on", "error", deb], capture_output=True, text=True, timeout=300)
    check(lint.returncode == 0, "lintian reports errors:\n%s" % lint.stdout)
    info = subprocess.run(["dpkg-deb", "--field", deb, "Depends", "Maintainer", "Section"], check=True,
                          capture_output=True, text=True, timeout=60).stdout
    check("libc6" in info and "libx11-6" in info and "libwayland-client0" in info and "Maintainer: " in info
          and "Section: " in info,
          "the package's control fields: %s" % info)
    log("ok: %s: %d files as the install rules give (lumivex-render and its manual page among them), the same "
        "bytes twice, lintian without error, %s" % (os.path.basename(deb), len(files), " ".join(info.split())))

    # Installed into a dpkg root of the case's own, so that what this machine has installed (a
    # lumivex package among it) neither skips the check nor is touched by it; no root needed. The
    # package's dependencies are the system's, which the dpkg root does not list.
    root = os.path.join(opts.work, "deb-root")
    shutil.rmtree(root, ignore_errors=True)
    for folder in ("info", "updates", "triggers"):
        os.makedirs(os.path.join(root, "var", "lib", "dpkg", folder))
    for name in ("status", "available"):
        open(os.path.join(root, "var", "lib", "dpkg", name), "w").close()
    dpkg = ["dpkg", "--root=" + root, "--force-depends", "--force-not-root", "--force-script-chrootless",
            "--log=/dev/null"]
    program = root + programs[0]
    try:
        result = subprocess.run(dpkg + ["-i", deb], capture_output=True, text=True, timeout=300)
        check(result.returncode == 0, "dpkg -i failed:\n%s%s" % (result.stdout, result.stderr))
        out = subprocess.run([program, "--version"], capture_output=True, text=True, timeout=30)
        check(out.returncode == 0 and version in out.stdout.split(), "%s --version says %r (exit code %d)"
              % (program, out.stdout, out.returncode))
    finally:
        result = subprocess.run(dpkg + ["-r", "lumivex"], capture_output=True, text=True, timeout=300)
    check(result.returncode == 0, "dpkg -r failed:\n%s%s" % (result.stdout, result.stderr))
    left = [f for f in files if os.path.lexists(root + f)]
    check(not left, "dpkg -r left %s" % left)
    shutil.rmtree(root, ignore_errors=True)
    log("ok: dpkg -i gives a working %s --version (%s); dpkg -r removes every file"
        % (programs[0], out.stdout.strip()))


# --- the files


def objdump(path, tool):
    return subprocess.run([tool, "-p", path], check=True, capture_output=True, timeout=60).stdout.decode()


class Resources:
    """The resource tree of a PE file: {(type, id): bytes of the first language's data}."""

    def __init__(self, path):
        data = open(path, "rb").read()
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        check(data[pe:pe + 4] == b"PE\0\0", "%s is not a PE file" % path)
        sections, optional_size = struct.unpack_from("<H12xH", data, pe + 6)
        optional = pe + 24
        magic = struct.unpack_from("<H", data, optional)[0]
        directories = optional + (96 if magic == 0x10B else 112)
        rsrc_rva = struct.unpack_from("<I", data, directories + 2 * 8)[0]
        table = optional + optional_size
        self.sections = []
        for i in range(sections):
            name, vsize, rva, rawsize, rawptr = struct.unpack_from("<8sIIII", data, table + 40 * i)
            self.sections.append((rva, max(vsize, rawsize), rawptr))
        self.data = data
        base = self.offset(rsrc_rva)
        self.items = {}
        for type_id, type_off in self.entries(base, 0):
            for name_id, name_off in self.entries(base, type_off):
                languages = self.entries(base, name_off)
                leaf = base + languages[0][1]
                rva, size = struct.unpack_from("<II", data, leaf)
                self.items[(type_id, name_id)] = data[self.offset(rva):self.offset(rva) + size]

    def offset(self, rva):
        for start, size, raw in self.sections:
            if start <= rva < start + size:
                return rva - start + raw
        raise Failure("address %x is in no section" % rva)

    def entries(self, base, offset):
        named, ids = struct.unpack_from("<12xHH", self.data, base + (offset & 0x7FFFFFFF))
        result = []
        for i in range(named + ids):
            ident, target = struct.unpack_from("<II", self.data, base + (offset & 0x7FFFFFFF) + 16 + 8 * i)
            result.append((ident, target))
        return result


def check_resources(path):
    res = Resources(path)
    group = res.items.get((14, 101))
    check(group is not None, "%s has no icon group 101" % path)
    reserved, kind, count = struct.unpack_from("<HHH", group, 0)
    check(kind == 1 and count == 1, "icon group 101 holds %d images, expected one" % count)
    width, height, colours, _, planes, bits, size, icon_id = struct.unpack_from("<BBBBHHIH", group, 6)
    check((width, height, bits) == (32, 32, 8), "the icon is %dx%d with %d bits a pixel" % (width, height, bits))
    icon = res.items.get((3, icon_id))
    check(icon is not None, "the icon group names a missing image")
    header = struct.unpack_from("<IiiHHI", icon, 0)
    check(header[:5] == (40, 32, 64, 1, 8) and header[5] == 0, "the icon image header is %s" % (header,))
    palette = [struct.unpack_from("<BBBB", icon, 40 + 4 * i) for i in range(256)]
    pixels = icon[40 + 1024:40 + 1024 + 32 * 32]
    ground = palette[pixels[0]]  # bottom-left corner: the ground
    b, g, r = ground[:3]
    check(r + g + b < 200 and b > g and r > g, "the icon's ground %s is not a dark violet" % ((r, g, b),))
    green = sum(1 for p in pixels if palette[p][1] > 2 * max(palette[p][0], palette[p][2]) and palette[p][1] > 60)
    check(80 <= green <= 600, "the icon has %d green fern pixels" % green)
    strings = res.items.get((6, 1))  # block 1 holds strings 0 to 15
    check(strings is not None, "%s has no string table block for string 1" % path)
    offset, texts = 0, []
    for _ in range(16):
        n = struct.unpack_from("<H", strings, offset)[0]
        texts.append(strings[offset + 2:offset + 2 + 2 * n].decode("utf-16-le"))
        offset += 2 + 2 * n
    check(texts[1] == "Lumivex", "string 1 is %r" % texts[1])
    check((16, 1) in res.items, "%s has no version resource" % path)
    manifest = res.items.get((24, 1), b"").decode("utf-8", "replace")
    check("PerMonitorV2" in manifest and "true/pm" in manifest,
          "the manifest does not declare per-monitor DPI awareness")
    return green


def case_files(opts):
    system_dlls = {"kernel32.dll", "user32.dll", "gdi32.dll", "msvcrt.dll", "advapi32.dll", "shell32.dll"}
    for path, tool, form, magic in ((opts.scr32, "i686-w64-mingw32-objdump", "pei-i386", "010b\t(PE32)"),
                                    (opts.scr64, "x86_64-w64-mingw32-objdump", "pei-x86-64", "020b\t(PE32+)")):
        check(os.path.exists(path), "%s is missing: build the mingw32 and mingw64 presets first" % path)
        dump = objdump(path, tool)
        check("file format %s" % form in dump, "%s is not %s" % (path, form))
        check(re.search(r"Magic\s+%s" % re.escape(magic), dump) is not None, "%s is not %s" % (path, magic))
        check(re.search(r"Subsystem\s+00000002\s+\(Windows GUI\)", dump) is not None, "%s is not a GUI program" % path)
        dlls = sorted(set(d.lower() for d in re.findall(r"DLL Name: (\S+)", dump)))
        check(dlls and set(dlls) <= system_dlls, "%s imports %s" % (path, dlls))
        green = check_resources(path)
        log("ok: %s: %s, GUI, imports %s, icon 101 (%d fern pixels), string 1" % (os.path.basename(path), form,
                                                                                 " ".join(dlls), green))

