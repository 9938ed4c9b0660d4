#!/usr/bin/env python3
"""Lists every C++ function longer than a limit (120 lines by default) in src/ and apps/, and
exits with status 1 when it finds one.

    scripts/longfunctions.py [--max N] [FOLDER_OR_FILE...]

A function runs from the first line of its signature to its closing brace. Braces are matched
after comments, string and character literals and preprocessor lines are blanked out; a brace
at namespace or class scope opens a function body when what precedes it ends as a signature
does (a parameter list, then qualifiers, a trailing return type or a constructor's initialiser
list). Anything else there is a namespace, a class or a brace-initialised table, which does not
count, however long. Lambdas and blocks inside a function count with it.
"""

import argparse
import os
import re
import sys

SOURCE_SUFFIXES = (".cpp", ".h", ".hpp", ".cc")


def blank(text):
    """The text with comments, literals and preprocessor lines replaced by blanks (newlines
    kept, so that positions and line numbers stay)."""
    out = []
    i, n = 0, len(text)
    line_start = True
    while i < n:
        c = text[i]
        if line_start and c in " \t":
            out.append(c)
            i += 1
            continue
        if line_start and c == "#":
            # A preprocessor line, with its continuations.
            while i < n and text[i] != "\n":
                if text[i] == "\\" and i + 1 < n and text[i + 1] == "\n":
                    out.append(" \n")
                    i += 2
                    continue
                out.append(" ")
                i += 1
            continue
        line_start = False
        if c == "\n":
            line_start = True
            out.append(c)
            i += 1
        elif text.startswith("//", i):
            while i < n and text[i] != "\n":
                out.append(" ")
                i += 1
        elif text.startswith("/*", i):
            end = text.find("*/", i + 2)
            end = n if end < 0 else end + 2
            out.append(re.sub(r"[^\n]", " ", text[i:end]))
            i = end
        elif c == "R" and text.startswith('R"', i) and (i == 0 or not (text[i - 1].isalnum()
                                                                        or text[i - 1] == "_")):
            m = re.match(r'R"([^(\s]{0,16})\(', text[i:])
            if not m:
                out.append(c)
                i += 1
                continue
            close = ")" + m.group(1) + '"'
            end = text.find(close, i + m.end())
            end = n if end < 0 else end + len(close)
            out.append('""' + re.sub(r"[^\n]", " ", text[i + 2:end]))
            i = end
        elif c in "\"'":
            if c == "'" and i > 0 and text[i - 1].isalnum():
                # A digit separator (1'000'000).
                out.append(" ")
                i += 1
                continue
            j = i + 1
            while j < n and text[j] != c and text[j] != "\n":
                j += 2 if text[j] == "\\" else 1
            out.append(c + " " * (min(j, n) - i - 1) + (c if j < n else ""))
            i = j + 1
        else:
            out.append(c)
            i += 1
    return "".join(out)


# What may stand before a member function's signature in a class: an access label, Qt's marks.
ACCESS = re.compile(r"^\s*(?:(?:(?:public|private|protected)(?:\s+(?:slots|Q_SLOTS))?|signals|"
                    r"Q_SIGNALS)\s*:(?!:)|Q_OBJECT\b|Q_GADGET\b)")
# What may follow a parameter list before a body: qualifiers, a trailing return type, or a
# constructor's initialiser list.
AFTER_PARAMETERS = re.compile(
    r"\)\s*(?:const|volatile|override|final|mutable|noexcept|&&|&|\s|noexcept\s*\([^()]*\))*"
    r"(?:->\s*[\w:<>,\s*&]+)?(?:\s*(?:override|final))*\s*$")


def without_braced(prefix):
    """The prefix with what nested braces hold taken out (a member's {} initialiser): "{}"."""
    out, depth = [], 0
    for c in prefix:
        if c == "{":
            if depth == 0:
                out.append(c)
            depth += 1
        elif c == "}":
            depth = max(depth - 1, 0)
            if depth == 0:
                out.append(c)
        elif depth == 0:
            out.append(c)
    return "".join(out)


def kind_of(prefix):
    """What a brace at namespace or class scope opens, from the text of its statement."""
    p = prefix
    while True:
        m = ACCESS.match(p)
        if not m:
            break
        p = p[m.end():]
    flat = " ".join(without_braced(p).split())
    if re.match(r"^(inline\s+)?namespace\b", flat) or re.match(r'^extern\s*""\s*$', flat):
        return "namespace", p
    if re.match(r"^(template\s*<.*>\s*)?(class|struct|union|enum)\b[^=(]*$", flat):
        return "class", p
    if "=" in re.sub(r"\boperator\s*(\(\)|[^\s(]+)\s*\(", "operator(", flat).split("(")[0]:
        return "table", p
    if AFTER_PARAMETERS.search(flat):
        return "function", p
    # A constructor's initialiser list: ") : member(...), member{...}".
    if re.search(r"\)\s*(noexcept\s*)?:(?!:)\s*[\w:]+\s*[({]", flat) and "(" in flat.split(":")[0]:
        return "function", p
    return "table", p


def function_name(signature):
    flat = " ".join(without_braced(signature).split())
    m = re.search(r"(operator\s*\S+?|~?[\w:]+(?:<[^()]*>)?)\s*\(", flat)
    return m.group(1) if m else flat[:60]


def long_functions(path, limit):
    with open(path, encoding="utf-8", errors="replace") as f:
        text = blank(f.read())
    found = []
    # Each open brace: (kind, start line, name).
    stack = []
    statement = 0  # where the statement before the next brace began
    line = 1
    for i, c in enumerate(text):
        if c == "\n":
            line += 1
        elif c == ";" and (not stack or stack[-1][0] in ("namespace", "class")):
            statement = i + 1
        elif c == "{":
            if stack and stack[-1][0] in ("function", "block", "table"):
                stack.append(("block" if stack[-1][0] != "table" else "table", 0, ""))
                continue
            kind, signature = kind_of(text[statement:i])
            start = line
            if kind == "function":
                offset = i - len(signature) + (len(signature) - len(signature.lstrip()))
                start = text.count("\n", 0, offset) + 1
            stack.append((kind, start, function_name(signature) if kind == "function" else ""))
            if kind != "table":
                statement = i + 1
        elif c == "}":
            if not stack:
                continue
            kind, start, name = stack.pop()
            if kind == "function":
                length = line - start + 1
                if length > limit:
                    found.append((path, start, name, length))
            if kind in ("function", "namespace", "class"):
                statement = i + 1
    return found


def sources(targets):
    for target in targets:
        if os.path.isfile(target):
            yield target
            continue
        for root, dirs, files in os.walk(target):
            dirs.sort()
            for name in sorted(files):
                if name.endswith(SOURCE_SUFFIXES):
                    yield os.path.join(root, name)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--max", type=int, default=120, help="longest a function may be, in lines")
    parser.add_argument("targets", nargs="*", help="folders or files (default: src apps)")
    args = parser.parse_args()
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    targets = args.targets or [os.path.join(root, "src"), os.path.join(root, "apps")]
    found = []
    for path in sources(targets):
        found += long_functions(path, args.max)
    found.sort(key=lambda f: -f[3])
    for path, start, name, length in found:
        print(f"{os.path.relpath(path)}:{start}: {name}: {length} lines")
    if found:
        print(f"{len(found)} function(s) over {args.max} lines", file=sys.stderr)
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main())
