#!/usr/bin/env python3
"""Every papplLog*() call of the Printer Application passes numbers as text.

PAPPL 1.3.1's own formatting of numbers in log lines prints nothing on
Debian 13 (see printer-app/log_number.h), so a format may hold only %s and
%%; numbers go through logNumber(). Checks each call's format, a literal or
a named constant of the same file.
Usage: app_log_formats_test.py SOURCE_DIR
"""
import pathlib
import re
import sys

CALL = re.compile(r"papplLog(?:Job|Printer|Client)?\s*\(")
CONVERSION = re.compile(r"%[-+ #0']*(?:\*|\d+)?(?:\.(?:\*|\d+))?[hlLqjzt]*([a-zA-Z%])")
LITERAL = re.compile(r'^\s*((?:"(?:[^"\\]|\\.)*"\s*)+)')
CONSTANT = r'constexpr\s+const\s+char\s*\*\s*{}\s*=\s*((?:"(?:[^"\\]|\\.)*"\s*)+);'


def arguments(text, start):
    """The top-level arguments of the call whose '(' ends at start."""
    depth, args, current, i, quote = 1, [], "", start, None
    while i < len(text) and depth:
        c = text[i]
        if quote:
            current += c
            if c == "\\":
                current += text[i + 1]
                i += 1
            elif c == quote:
                quote = None
        elif c in "\"'":
            quote = c
            current += c
        elif c in "([{":
            depth += 1
            current += c
        elif c in ")]}":
            depth -= 1
            if depth:
                current += c
        elif c == "," and depth == 1:
            args.append(current.strip())
            current = ""
        else:
            current += c
        i += 1
    args.append(current.strip())
    return args


def joined(literals):
    return "".join(re.findall(r'"((?:[^"\\]|\\.)*)"', literals))


def main():
    root = pathlib.Path(sys.argv[1]) / "printer-app"
    faults, calls = [], 0
    for path in sorted(root.rglob("*.cpp")):
        text = path.read_text()
        for match in CALL.finditer(text):
            args = arguments(text, match.end())
            if len(args) < 3:
                continue  # papplLogDevice or a declaration
            calls += 1
            line = text.count("\n", 0, match.start()) + 1
            fmt = args[2]
            literal = LITERAL.match(fmt)
            if literal:
                format_text = joined(literal.group(1))
            else:
                constant = re.search(CONSTANT.format(re.escape(fmt)), text)
                if not constant:
                    faults.append(f"{path.name}:{line}: format {fmt} is neither a literal "
                                  "nor a constant of the file")
                    continue
                format_text = joined(constant.group(1))
            for conversion in CONVERSION.finditer(format_text):
                if conversion.group(1) not in "s%":
                    faults.append(f"{path.name}:{line}: '{format_text}' has "
                                  f"'{conversion.group(0)}'")
    for fault in faults:
        print(fault)
    print(f"{calls} log calls checked, {len(faults)} numbers in their formats")
    return 1 if faults or calls == 0 else 0


if __name__ == "__main__":
    sys.exit(main())
