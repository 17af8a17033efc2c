#!/usr/bin/python3
"""Keeps raidctl's exit codes in one place: the manual page's EXIT STATUS
entries are written from the tables of docs/raidctl-exit-codes.md, and the
codes must be those of cli/raidctl_args.h's ExitCode.

    exit-codes-man.py DOC MANPAGE HEADER          rewrites MANPAGE's entries
    exit-codes-man.py --check DOC MANPAGE HEADER  fails when any of them differs
"""
import re
import sys
import textwrap

BEGIN = '.\\" Generated from docs/raidctl-exit-codes.md by scripts/exit-codes-man.py.'
END = '.\\" End of the generated entries.'


def table(markdown, heading):
    """The body rows of the first table after `heading`, as lists of cells."""
    at = markdown.index(heading)
    rows = []
    for line in markdown[at:].splitlines()[1:]:
        if line.startswith("#"):
            break
        if not line.startswith("|"):
            if rows:
                break
            continue
        cells = [c.strip() for c in line.strip().strip("|").split("|")]
        if not set("".join(cells)) <= set("-: "):
            rows.append(cells)
    return rows[1:]  # past the header row


def roff_text(text):
    """Markdown prose as roff: `code` bold with its hyphens as minus signs."""
    text = text.replace("\\", "\\e")
    parts = re.split(r"(`[^`]*`)", text)
    out = []
    for part in parts:
        if part.startswith("`") and part.endswith("`"):
            out.append("\\fB" + part[1:-1].replace("-", "\\-") + "\\fR")
        else:
            out.append(part)
    return "".join(out)


def filled(text):
    lines = textwrap.wrap(roff_text(text), width=78, break_on_hyphens=False)
    # A line that starts with a dot or an apostrophe would be a request.
    return ["\\&" + line if line[:1] in (".", "'") else line for line in lines]


def entries(markdown):
    lines = [BEGIN]
    for code, meaning in table(markdown, "## Exit codes"):
        lines += [".TP", code] + filled(meaning)
    lines += [".PP", "With", ".BR \"monitor \\-\\-once\" ,",
              "the exit status after its poll is the sum of these bits:"]
    for bit, value, meaning in table(markdown, "## Health bits"):
        lines += [".TP", f"Bit {bit} ({value})"] + filled(meaning)
    lines.append(END)
    return lines


def enum_codes(header):
    body = re.search(r"enum ExitCode : int \{(.*?)\};", header, re.S).group(1)
    return sorted(int(v) for v in re.findall(r"kExit\w+ = (\d+),", body))


def main(argv):
    check = argv[:1] == ["--check"]
    if check:
        argv = argv[1:]
    if len(argv) != 3:
        sys.exit(__doc__)
    doc, page, header = argv
    markdown = open(doc, encoding="utf-8").read()
    text = open(page, encoding="utf-8").read()
    problems = []

    documented = sorted(int(row[0]) for row in table(markdown, "## Exit codes"))
    declared = enum_codes(open(header, encoding="utf-8").read())
    if documented != declared:
        problems.append(f"{doc} documents the codes {documented}, {header} declares {declared}")

    old = text.splitlines()
    if BEGIN not in old or END not in old:
        sys.exit(f"{page}: the markers of the generated entries are missing")
    start, end = old.index(BEGIN), old.index(END)
    new = old[:start] + entries(markdown) + old[end + 1:]
    if check:
        if new != old:
            problems.append(f"{page} is not what {doc} says: run scripts/exit-codes-man.py "
                            f"{doc} {page} {header}")
    else:
        with open(page, "w", encoding="utf-8") as f:
            f.write("\n".join(new) + "\n")
    for problem in problems:
        print(problem, file=sys.stderr)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
