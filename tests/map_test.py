"""The map stays true: every path docs/architecture.md names exists in the tree, and every function
or type name it names is a name of the code.

usage: map_test.py --source DIR [--map FILE]     (exit 0: all true; 1: a list of what is not)

A path is a backticked word with a '/' or an ending that files of the tree have (`anim/`,
`saver/saver_run.cpp`; not `x11.contract`); it is true when it is a file or folder from the tree's
top or the end of one (`x11/convert.h`). Places of an install (`/lumivex.ini`, `PREFIX/bin/`),
patterns (`fuzz/NAME_fuzz.cpp`) and bare endings (`.ifs`) are not checked. A name
is a backticked CamelCase or lvx_ identifier, alone or qualified (`HeadlessHost::UseScreen(w, h)`
checks both parts); it is true when it occurs in C++, JavaScript or Python source outside comments
and strings.
"""
import argparse
import os
import re
import sys

SCANNED = ("core", "platform", "ifs", "anim", "saver", "backends", "tools", "tests", "fuzz", "bench", "scripts")
SOURCE_ENDINGS = (".h", ".cpp", ".js", ".py")
SKIPPED_DIRS = {"build", ".git", "node_modules"}
PATH = re.compile(r"^[\w.+-]+(/[\w.+-]*)*$")
PLACEHOLDER = re.compile(r"(?<![A-Za-z])[A-Z]{3,}(?![a-z])")
NAME = re.compile(r"^(?:[A-Za-z_]\w*::)*[A-Za-z_]\w*(\(.*\))?$")
CAMEL = re.compile(r"^(?:[A-Z][a-z0-9]+[A-Z]\w*|lvx_\w+)$")
# Comments and string literals of the three languages, taken out before names are looked up.
NOISE = re.compile(r'//[^\n]*|/\*.*?\*/|#[^\n]*|"(?:\\.|[^"\\\n])*"|\'(?:\\.|[^\'\\\n])*\'', re.DOTALL)
# Names the map gets wrong today; the map's rewrite empties this (an entry that turns true fails).
KNOWN_FALSE = set()


def named(doc_text, endings):
    """(paths, names) the map names in backticks, each with the first line that names it."""
    paths, names = {}, {}
    for number, line in enumerate(doc_text.splitlines(), 1):
        for token in re.findall(r"`([^`\n]+)`", line):
            if PATH.match(token) and ("/" in token or os.path.splitext(token)[1] in endings):
                if not token.startswith((".", "/")) and not PLACEHOLDER.search(token):
                    paths.setdefault(token, number)
            elif NAME.match(token):
                for part in token.split("(")[0].split("::"):
                    if CAMEL.match(part):
                        names.setdefault(part, number)
    return paths, names


def tree(source):
    """Every file and folder of the tree (relative, folders ending in '/'), and the code's words.
    """
    places, words = set(), set()
    for root, dirs, files in os.walk(source):
        dirs[:] = [d for d in dirs if d not in SKIPPED_DIRS]
        top = os.path.relpath(root, source)
        top = "" if top == "." else top + "/"
        places.update(top + d + "/" for d in dirs)
        places.update(top + f for f in files)
        if not top or top.split("/")[0] not in SCANNED:
            continue
        for f in files:
            if f.endswith(SOURCE_ENDINGS):
                with open(os.path.join(root, f), encoding="utf-8", errors="replace") as handle:
                    text = handle.read()
                # A Python comment starts with '#', a C++ directive too: keep the directives' names.
                text = re.sub(r"^\s*#\s*(define|if|ifdef|ifndef|elif)\b", r"\1", text, flags=re.MULTILINE)
                words.update(re.findall(r"[A-Za-z_]\w*", NOISE.sub(" ", text)))
    return places, words


def path_exists(path, places):
    wanted = [path, path + "/"] if not path.endswith("/") else [path]
    return any(w in places or any(p.endswith("/" + w) for p in places) for w in wanted)


def false_statements(doc_text, source):
    places, words = tree(source)
    paths, names = named(doc_text, {os.path.splitext(p)[1] for p in places} - {""})
    found = ["line %d: the path `%s` is not in the tree" % (n, p) for p, n in paths.items() if not path_exists(p, places)]
    found += ["line %d: the name `%s` is not in the code" % (n, k) for k, n in names.items() if k not in words]
    return found


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--source", required=True)
    parser.add_argument("--map", help="the map to read (default: docs/architecture.md of the source)")
    opts = parser.parse_args()
    with open(opts.map or os.path.join(opts.source, "docs", "architecture.md"), encoding="utf-8") as f:
        found = false_statements(f.read(), opts.source)
    wrong = [line for line in found if line.split("`")[1] not in KNOWN_FALSE]
    stale = sorted(KNOWN_FALSE - {line.split("`")[1] for line in found})
    for line in wrong:
        print("docs/architecture.md %s" % line)
    for name in stale:
        print("map_test.py: `%s` is true now: take it out of KNOWN_FALSE" % name)
    if wrong or stale:
        return 1
    print("ok: every path and name of the map is in the tree (%d known false, to be rewritten)" % len(KNOWN_FALSE))
    return 0


if __name__ == "__main__":
    sys.exit(main())
