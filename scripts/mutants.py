#!/usr/bin/env python3
"""The mutant list of scripts/mutants.sh.

  mutants.py list [--sample N] [--seed S] [--equivalent FILE] FILE...

prints one mutant a line, tab-separated: file, line number, mutation, 1 when FILE of known
equivalent mutants names it (else 0), and the mutated line. Files are read relative to the
current directory; a *.h file only contributes the lines inside its function bodies.

The mutations, each applied alone to one line: a comparison or condition inverted (== !=,
< >=, > <=, && ||), a '!' removed, an integer constant plus one, a 0 or 1 argument flipped,
true/false (and TRUE/FALSE) flipped, a statement line removed (not a declaration, a return, a
break, a brace or a case label). Comments, strings, preprocessor lines, static_assert and the
data of constant tables (brace initializers of constants, array sizes) are left alone, and so
is code for the other platform: win_*.cpp and the _WIN32 branches are Windows code, the rest
Linux code.
"""

import argparse
import random
import re
import sys

OPERATOR = re.compile(r"<<=|>>=|<=>|->\*?|<<|>>|<=|>=|==|!=|&&|\|\||[<>!]")
NUMBER = re.compile(r"(?<![\w.])(\d[\w.]*)")
INTEGER = re.compile(r"(0[xX][0-9a-fA-F]+|[1-9]\d*|0[0-7]*)([uUlL]*)")
FLAG = re.compile(r"\b(true|false|TRUE|FALSE)\b")
FLIPPED = {"true": "false", "false": "true", "TRUE": "FALSE", "FALSE": "TRUE"}
INVERTED = {"==": "!=", "!=": "==", "<=": ">", ">=": "<", "<": ">=", ">": "<=", "&&": "||",
            "||": "&&"}
# Operators that are binary only when written with a blank on both sides (clang-format writes
# template brackets and reference types without them).
SPACED = {"<", ">", "&&", "||"}
# Lines starting with these are not statements to remove.
NOT_REMOVED = {"return", "delete", "throw", "goto", "else", "do", "case", "default", "break", "new",
               "public", "private", "protected"}
DECLARATION = re.compile(
    r"^(?:(?:static|const|constexpr|inline|volatile|thread_local|unsigned|signed|struct)\s+)*"
    r"(?P<type>[A-Za-z_][\w:]*(?:<.*>)?)(?:\s*[*&]+\s*|\s+)(?:const\s+)?"
    r"(?P<name>[A-Za-z_]\w*|\[[\w\s,]*\])\s*(?:=|;|\{|\[|\()")
ARRAY_SIZE = re.compile(r"[A-Za-z_]\w*\s*\[\s*$")


def mask(text):
    """The text with comments blanked and the insides of string and character literals
    replaced by '_', same length and same line breaks."""
    out = list(text)
    i, n = 0, len(text)
    while i < n:
        c = text[i]
        if text.startswith("//", i):
            while i < n and text[i] != "\n":
                out[i] = " "
                i += 1
        elif text.startswith("/*", i):
            end = text.find("*/", i + 2)
            end = n if end < 0 else end + 2
            for k in range(i, end):
                if text[k] != "\n":
                    out[k] = " "
            i = end
        elif c in "\"'":
            i += 1
            while i < n and text[i] != c and text[i] != "\n":
                if text[i] == "\\":
                    out[i] = "_"
                    i += 1
                out[i] = "_"
                i += 1
            i += 1
        else:
            i += 1
    return "".join(out)


def preprocessor_lines(lines, windows):
    """Indexes of preprocessor lines and of lines compiled only for the other platform."""
    skip = set()
    stack = []  # per open #if: True/False when it tests _WIN32 and is taken on this platform
    continued = False
    for no, line in enumerate(lines):
        stripped = line.strip()
        if continued or stripped.startswith("#"):
            skip.add(no)
            continued = stripped.endswith("\\")
            directive = re.match(r"#\s*(\w+)\s*(.*)", stripped)
            if not directive:
                continue
            word, rest = directive.groups()
            if word in ("if", "ifdef", "ifndef"):
                taken = None
                if "_WIN32" in rest:
                    taken = windows
                    if word == "ifndef" or rest.lstrip().startswith("!"):
                        taken = not windows
                stack.append(taken)
            elif word in ("elif", "else") and stack:
                stack[-1] = None if stack[-1] is None or word == "elif" else not stack[-1]
            elif word == "endif" and stack:
                stack.pop()
            continue
        if any(taken is False for taken in stack):
            skip.add(no)
    return skip


def brace_contexts(masked_lines):
    """For each line, the kinds of the braces open at each column: a list of tuples per line,
    and the kinds open at the line's start. Kinds: ns, type, table, code."""
    stack = []
    per_line = []
    previous = ""
    for line in masked_lines:
        at_start = tuple(stack)
        columns = []
        for col, c in enumerate(line):
            columns.append(tuple(stack))
            if c == "{":
                head = line[:col].strip() or previous
                stack.append(classify(head, stack))
            elif c == "}" and stack:
                stack.pop()
        per_line.append((at_start, columns))
        if line.strip():
            previous = line.strip()
    return per_line


def classify(head, stack):
    """The kind of a brace, from what comes before it on its line (or on the line before)."""
    if stack and stack[-1] == "table" or re.search(r"=\s*$", head):
        return "table"
    if re.search(r"\bnamespace\b|^extern\b", head):
        return "ns"
    if re.match(r"^(?:static\s+|inline\s+)*(?:constexpr|const)\b[^=(]*[\w\]]\s*$", head):
        return "table"  # const Type kName{
    if re.match(r"^(?:template\s*<.*>\s*)?(?:struct|class|union|enum)\b[^(]*$", head):
        return "type"
    if stack and stack[-1] in ("ns", "type") and not re.search(r"\)[\w\s]*(?:->.*)?$", head):
        return "table"  # Type name{...} outside a function
    return "code"


def is_statement(masked, previous):
    """Whether a line is one whole statement that may be removed: it follows the end of another
    statement, a brace, a label or a control header, and it is no declaration and no return."""
    text = masked.strip()
    if not text.endswith(";") or not previous:
        return False
    if not previous.endswith((";", "{", "}", ":", ")")) and not re.search(r"\belse$", previous):
        return False
    if text.count("(") != text.count(")") or text.count("{") != text.count("}"):
        return False
    if text.startswith(("{", "}", "[[", "using ", "typedef ", "template", "static_assert")):
        return False
    if re.search(r"\breturn\b", text):
        return False
    first = re.match(r"[A-Za-z_]\w*", text)
    if first and first.group(0) in NOT_REMOVED:
        return False
    return not DECLARATION.match(text)


def plus_one(token):
    """An integer literal plus one, in the same base and with the same suffix; None for others."""
    m = INTEGER.fullmatch(token)
    if not m:
        return None
    digits, suffix = m.groups()
    if digits.lower().startswith("0x"):
        case = "X" if digits[2:].isupper() else "x"
        return digits[:2] + format(int(digits, 16) + 1, f"0{len(digits) - 2}{case}") + suffix
    if len(digits) > 1 and digits.startswith("0"):
        return "0" + format(int(digits, 8) + 1, "o") + suffix
    return str(int(digits) + 1) + suffix


def mutants_of(path, windows):
    with open(path, encoding="utf-8", errors="surrogateescape") as f:
        text = f.read()
    lines = text.split("\n")
    masked_text = mask(text)
    masked_text = re.sub(r"__attribute__\s*\(\(.*?\)\)",
                         lambda m: " " * len(m.group(0)), masked_text)
    masked = masked_text.split("\n")
    skip = preprocessor_lines(lines, windows)
    contexts = brace_contexts([("" if no in skip else m) for no, m in enumerate(masked)])
    header = path.endswith(".h")
    previous = ""
    in_static_assert = False
    for no, (line, m) in enumerate(zip(lines, masked)):
        at_start, columns = contexts[no]
        if no in skip or "\t" in line:
            continue
        if "static_assert" in m or in_static_assert:
            in_static_assert = not m.rstrip().endswith(";")
            previous = m.strip() or previous
            continue

        def code_at(col):
            kinds = columns[col] if col < len(columns) else at_start
            if kinds and kinds[-1] == "table":
                return False
            return not header or "code" in kinds

        def mutant(start, end, new, mutation):
            return (path, no + 1, mutation, line[:start] + new + line[end:])

        found = []
        for op in OPERATOR.finditer(m):
            token, s, e = op.group(0), op.start(), op.end()
            if not code_at(s):
                continue
            if token == "!":
                found.append(mutant(s, e, "", "'!' removed"))
            elif token in INVERTED:
                if token in SPACED and not (m[s - 1:s] == " " and m[e:e + 1] == " "):
                    continue
                found.append(mutant(s, e, INVERTED[token], f"'{token}' -> '{INVERTED[token]}'"))
        for num in NUMBER.finditer(m):
            token, s, e = num.group(1), num.start(1), num.end(1)
            if not code_at(s) or ARRAY_SIZE.search(m[:s]) and DECLARATION.match(m.strip()):
                continue
            argument = re.search(r"[(,]\s*$", m[:s]) and re.match(r"\s*[,)]", m[e:])
            if argument and token in ("0", "1"):
                new = "1" if token == "0" else "0"
            else:
                new = plus_one(token)
            if new is not None:
                found.append(mutant(s, e, new, f"'{token}' -> '{new}'"))
        for flag in FLAG.finditer(m):
            if code_at(flag.start()):
                old = flag.group(0)
                found.append(mutant(flag.start(), flag.end(), FLIPPED[old],
                                    f"'{old}' -> '{FLIPPED[old]}'"))
        if at_start and at_start[-1] == "code" and is_statement(m, previous):
            indent = len(line) - len(line.lstrip())
            removed = f"{line[:indent]}{{}}  // {line.strip()}"
            found.append((path, no + 1, "statement removed", removed))
        yield from found
        previous = m.strip() or previous


def read_equivalent(path):
    """(file, mutation, mutated line) of each entry of the list of equivalent mutants."""
    entries = set()
    if not path:
        return entries
    entry = re.compile(r"^([^\s:]+):\d+: (.*?): (.*)$")
    with open(path, encoding="utf-8") as f:
        for raw in f:
            if raw.startswith(("#", " ", "\t")) or not raw.strip():
                continue
            m = entry.match(raw.rstrip("\n"))
            if not m:
                sys.exit(f"{path}: not an entry: {raw.rstrip()}")
            entries.add((m.group(1), m.group(2), squeeze(m.group(3))))
    return entries


def squeeze(text):
    return " ".join(text.split())


def sample(items, n, seed):
    """n items spread evenly: one picked at random from each of n equal stretches."""
    if n <= 0 or n >= len(items):
        return items
    rng = random.Random(seed)
    picked = []
    for k in range(n):
        lo, hi = k * len(items) // n, (k + 1) * len(items) // n
        picked.append(items[rng.randrange(lo, hi)])
    return picked


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    sub = parser.add_subparsers(dest="command", required=True)
    listing = sub.add_parser("list")
    listing.add_argument("--sample", type=int, default=0)
    listing.add_argument("--seed", type=int, default=1)
    listing.add_argument("--equivalent")
    listing.add_argument("files", nargs="+")
    args = parser.parse_args()

    equivalent = read_equivalent(args.equivalent)
    everything = []
    for path in args.files:
        windows = path.split("/")[-1].startswith("win_")
        everything.extend(mutants_of(path, windows))
    for path, no, mutation, new in sample(everything, args.sample, args.seed):
        known = (path, mutation, squeeze(new)) in equivalent
        print(f"{path}\t{no}\t{mutation}\t{int(known)}\t{new}")
    print(f"{len(everything)} mutants", file=sys.stderr)


if __name__ == "__main__":
    main()
