"""The layer rule, checked exactly: every `#include "..."` of the tree against the table of layers in
docs/architecture.md (the table is read from there, so the map and this test cannot differ).

usage: layers_test.py --source DIR      (exit 0: every include allowed; 1: a list of those that are not)

A row of the table names a folder and the folders its files may include. A file obeys the row of
the longest folder that holds it; `*` in a row stands for one folder name, the same on both sides
(`backends/*/` may include `backends/*/`: a backend its own files, not another backend's).
"""
import argparse
import os
import re
import sys

SCANNED = ("core", "platform", "ifs", "anim", "saver", "backends", "tools", "tests", "fuzz", "bench")
SOURCE_ENDINGS = (".h", ".hpp", ".c", ".cc", ".cpp", ".inc")
INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"', re.MULTILINE)
TABLE_HEADER = "| Folder | May include |"


def read_table(doc_text):
    """The layers table of the architecture map: [(folder, [allowed folders])] in its order."""
    lines = doc_text.splitlines()
    try:
        start = next(i for i, line in enumerate(lines) if line.strip() == TABLE_HEADER)
    except StopIteration:
        raise SystemExit("docs/architecture.md has no table headed '%s'" % TABLE_HEADER)
    rows = []
    for line in lines[start + 2:]:
        if not line.startswith("|"):
            break
        cells = [cell.strip() for cell in line.strip().strip("|").split("|")]
        if len(cells) != 2:
            raise SystemExit("layers table: a row without two cells: %s" % line)
        folders = re.findall(r"`([^`]+)`", cells[0])
        allowed = re.findall(r"`([^`]+)`", cells[1])
        if not folders or not allowed or any(not f.endswith("/") for f in folders + allowed):
            raise SystemExit("layers table: every cell names folders as `name/`: %s" % line)
        rows.extend((folder, allowed) for folder in folders)
    if not rows:
        raise SystemExit("the layers table is empty")
    return rows


def folder_pattern(folder):
    """A row's folder as a regular expression over paths; `*` captures one folder name."""
    return re.compile("^" + re.escape(folder).replace(r"\*", "(?P<name>[^/]+)"))


def rule_for(path, rows):
    """The allowed folders for a file (with `*` filled in), or None when no row holds it."""
    best = None
    for folder, allowed in rows:
        match = folder_pattern(folder).match(path)
        if match and (best is None or len(folder) > len(best[0])):
            name = match.groupdict().get("name")
            best = (folder, [a.replace("*", name) if name else a for a in allowed])
    return best


def resolve(including, name, exists):
    """The tree path an include names: beside the including file, else from the top of the tree."""
    beside = os.path.normpath(os.path.join(os.path.dirname(including), name))
    if exists(beside):
        return beside
    top = os.path.normpath(name)
    return top if exists(top) else None


def violations(files, rows):
    """files: {tree path: text}. The includes that break the table, one line each."""
    found = []
    for path in sorted(files):
        rule = rule_for(path, rows)
        if rule is None:
            found.append("%s: no row of the layers table holds this folder" % path)
            continue
        for name in INCLUDE.findall(files[path]):
            target = resolve(path, name, lambda p: p in files)
            if target is None:
                found.append('%s: #include "%s" names no file of the tree' % (path, name))
            elif not any(target.startswith(allowed) for allowed in rule[1]):
                found.append('%s: #include "%s" is outside what %s may include (%s)'
                             % (path, name, rule[0], " ".join(rule[1])))
    return found


def tree_files(source):
    files = {}
    for top in SCANNED:
        for root, _dirs, names in os.walk(os.path.join(source, top)):
            for name in names:
                if name.endswith(SOURCE_ENDINGS):
                    full = os.path.join(root, name)
                    with open(full, encoding="utf-8", errors="replace") as f:
                        files[os.path.relpath(full, source).replace(os.sep, "/")] = f.read()
    return files


def self_check(rows):
    """The checker itself must see a climb back up: a backend from anim/, the saver from ifs/."""
    base = {
        "backends/headless/headless_host.h": "",
        "saver/saver_run.h": "",
        "core/saver_state.h": "",
    }
    for path, text in (("anim/bad.cpp", '#include "backends/headless/headless_host.h"\n'),
                       ("ifs/bad.cpp", '#include "saver/saver_run.h"\n'),
                       ("backends/x11/bad.cpp", '#include "backends/headless/headless_host.h"\n')):
        files = dict(base, **{path: text})
        if not any(v.startswith(path) for v in violations(files, rows)):
            raise SystemExit("the layer check let %s through: %s" % (path, text.strip()))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--source", required=True)
    args = parser.parse_args()
    with open(os.path.join(args.source, "docs", "architecture.md"), encoding="utf-8") as f:
        rows = read_table(f.read())
    self_check(rows)
    files = tree_files(args.source)
    found = violations(files, rows)
    for line in found:
        print(line)
    includes = sum(len(INCLUDE.findall(text)) for text in files.values())
    print("%d files, %d includes, %d rows: %s" % (len(files), includes, len(rows),
                                                  "%d outside the layers" % len(found) if found else "all allowed"))
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main())
