"""No stubs in the seam: a backend either does what a function of platform/platform.h asks, or the
function is not in platform.h (it belongs to the header of the hosts that need it).

usage: seam_test.py --source DIR      (exit 0: no stub; 1: a list of them)

The rule: a backend's definition (backends/**/*.cpp) of a function that platform.h declares fails
when its body does nothing but hand back constants (empty, or only `return C;` and `*out = C;` with
C a literal, nullptr, true/false, `{}` or an enumerator) and a comment at it (the line before it,
its own lines) says it does not apply: one of the words "apply", "applies", "only", "serve",
"serves", "parent".
"""
import argparse
import os
import re
import sys

DECLARED = re.compile(r"^[A-Za-z_][\w:<>\*& ]*?\b([A-Z]\w*)\s*\([^;{]*\)\s*;", re.MULTILINE)
CONSTANT = r"(?:nullptr|true|false|-?\d+[uUlL]*|\{\}|[A-Z]\w*(?:::\w+)+|\"[^\"]*\")"
STATEMENT = re.compile(r"^(?:return\s+%s|return|\*\w+\s*=\s*%s)$" % (CONSTANT, CONSTANT))
NOT_APPLYING = re.compile(r"\b(apply|applies|only|serves?)\b|parent", re.IGNORECASE)


def seam_functions(header_text):
    """The names of the functions that platform.h declares (inline ones have bodies and are not)."""
    return set(DECLARED.findall(header_text))


def definitions(text, names):
    """(name, line number, body, the comment text at it) for every definition of one of names."""
    found = []
    for match in re.finditer(r"\b(\w+)\s*\(([^;{}()]|\([^()]*\))*\)\s*(const\s*)?\{", text):
        name = match.group(1)
        if name not in names:
            continue
        depth, end = 0, match.end() - 1
        for end in range(match.end() - 1, len(text)):
            depth += {"{": 1, "}": -1}.get(text[end], 0)
            if depth == 0:
                break
        body = text[match.end():end]
        start_line = text.count("\n", 0, match.start())
        lines = text.splitlines()
        before = []
        i = start_line - 1
        while i >= 0 and lines[i].strip().startswith("//"):
            before.append(lines[i])
            i -= 1
        own_end = text.count("\n", 0, end)
        own = lines[start_line:own_end + 1]
        comment = " ".join(before + [l.split("//", 1)[1] for l in own if "//" in l])
        found.append((name, start_line + 1, body, comment))
    return found


def only_constants(body):
    code = re.sub(r"//[^\n]*", "", body)
    statements = [s.strip() for s in code.split(";") if s.strip()]
    return all(STATEMENT.match(re.sub(r"\s+", " ", s)) for s in statements)


def stubs(source):
    with open(os.path.join(source, "platform", "platform.h")) as header:
        names = seam_functions(header.read())
    found = []
    for folder, _, files in os.walk(os.path.join(source, "backends")):
        for name in sorted(files):
            if not name.endswith(".cpp"):
                continue
            path = os.path.join(folder, name)
            with open(path) as f:
                text = f.read()
            for function, line, body, comment in definitions(text, names):
                if only_constants(body) and NOT_APPLYING.search(comment):
                    found.append("%s:%d: %s does nothing here: %s" % (os.path.relpath(path, source), line, function,
                                                                     comment.strip()))
    return found


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--source", required=True)
    found = stubs(parser.parse_args().source)
    for line in found:
        print(line)
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main())
