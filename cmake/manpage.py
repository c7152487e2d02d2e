#!/usr/bin/env python3
"""Writes the manual page from the program's own --help and --version, so the two cannot drift.

The template (roff) holds what --help does not say: the description, exit statuses, environment,
files. Its placeholders are filled here:
  @SYNOPSIS@  the "Usage:" block of --help
  @GENERAL@   the paragraphs of --help that belong to no command
  @COMMANDS@  one subsection per command: a paragraph of --help that starts with "name:" (or
              "name ARGUMENTS:"), its options and notes
  @VERSION@   the first line of --version
  @NAME@      any name given with --define NAME=VALUE
--replace FROM=TO changes text of --help before it is converted (the build folder's help path
becomes the installed one). Writes OUTPUT and, with --gzip, OUTPUT.gz compressed for Debian
(maximum compression, no name, no time stamp).
"""

import argparse
import gzip
import re
import subprocess
import sys

# "run: sends ...", "test-email ADDRESS: sends ...", "sign-in [--no-browser]: ...".
HEADING = re.compile(r"^([a-z][a-z0-9-]*)((?: [^ :]+)*): (.*)$")
# "  --csv FILE          the client CSV file": a term, two or more blanks, its description.
ITEM = re.compile(r"^  ([-a-z]\S*(?: \S+)*?)  +(\S.*)$")
# "common: attach ..." on the description's column begins a line of its own.
VALUE_LINE = re.compile(r"^[\w-]+(?: \([^)]*\))?: ")
OPTION = re.compile(r"(?<![\w-])(--?)(?=[A-Za-z])")


def escape(text):
    """Plain text as roff: backslashes kept, option dashes as minus signs."""
    text = text.replace("\\", "\\e")
    return OPTION.sub(lambda m: "\\-" * len(m.group(1)), text)


def line(text):
    """A text line that roff will not take for a request."""
    return "\\&" + text if text.startswith((".", "'")) else text


def term(text):
    """Options and command words bold, placeholders (FILE, NAME) italic, punctuation plain."""
    out = []
    for token in re.findall(r"[A-Za-z0-9_-]+|[^A-Za-z0-9_-]+", text):
        if re.fullmatch(r"[A-Z][A-Z0-9_]*", token):
            out.append("\\fI" + escape(token) + "\\fR")
        elif re.fullmatch(r"[-a-z][A-Za-z0-9_-]*", token):
            out.append("\\fB" + escape(token) + "\\fR")
        else:
            out.append(escape(token))
    return "".join(out)


def indent(text):
    return len(text) - len(text.lstrip(" "))


def blocks(text):
    """The paragraphs of --help: runs of lines between empty lines."""
    current = []
    for raw in text.splitlines():
        if raw.strip():
            current.append(raw.rstrip())
        elif current:
            yield current
            current = []
    if current:
        yield current


def synopsis(lines):
    out = []
    for raw in lines:
        usage, _, comment = raw.strip().partition("  ")
        text = term(usage)
        if comment.strip():
            text += " \\(em " + escape(comment.strip())
        out += [line(text), ".br"]
    return out[:-1]


def paragraph_lines(lines):
    """Lines of running text; a line that ends a sentence and is followed by a new sentence keeps
    its break, the others are joined by the formatter."""
    out = []
    for i, raw in enumerate(lines):
        text = raw.strip()
        out.append(line(escape(text)))
        following = lines[i + 1].strip() if i + 1 < len(lines) else ""
        if text.endswith(".") and following[:1].isupper():
            out.append(".br")
    return out


def command_block(lines):
    """One command's paragraph: its heading, its items (.TP) and running text (.PP)."""
    heading = HEADING.match(lines[0])
    out = ['.SS "' + escape(heading.group(1) + heading.group(2)) + '"']
    parts = [["text", [heading.group(3)]]]  # ["text", lines] or ["item", term, column, lines]
    for raw in lines[1:]:
        depth = indent(raw)
        item = ITEM.match(raw) if depth == 2 else None
        last = parts[-1]
        if item:
            parts.append(["item", item.group(1), raw.index(item.group(2)), [item.group(2)]])
        elif depth <= 2:
            if last[0] == "text":
                last[1].append(raw)
            else:
                parts.append(["text", [raw]])
        elif last[0] == "item" and depth == last[2] and VALUE_LINE.match(raw.strip()):
            last[3].append(raw.strip())
        else:
            last[-1][-1] += " " + raw.strip()
    for number, part in enumerate(parts):
        if part[0] == "text":
            out += ([".PP"] if number else []) + paragraph_lines(part[1])
        else:
            out += [".TP", line(term(part[1]))]
            for i, text in enumerate(part[3]):
                out += ([".br"] if i else []) + [line(escape(text))]
    return out


def convert(help_text):
    usage, general, commands = [], [], []
    for block in blocks(help_text):
        if block[0].strip().lower().startswith("usage:"):
            usage = block[1:]
        elif HEADING.match(block[0]):
            commands += command_block(block)
        else:
            general += [".PP"] + paragraph_lines(block)
    return {"SYNOPSIS": synopsis(usage), "GENERAL": general, "COMMANDS": commands}


def run(program, option):
    result = subprocess.run([program, option], capture_output=True, text=True, check=False)
    if result.returncode != 0 or not result.stdout.strip():
        sys.exit(f"manpage: {program} {option} failed (exit {result.returncode}): {result.stderr.strip()}")
    return result.stdout


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--program", required=True)
    parser.add_argument("--template", required=True)
    parser.add_argument("--output", required=True)
    parser.add_argument("--define", action="append", default=[], metavar="NAME=VALUE")
    parser.add_argument("--replace", action="append", default=[], metavar="FROM=TO")
    parser.add_argument("--gzip", action="store_true")
    args = parser.parse_args()

    help_text = run(args.program, "--help")
    for pair in args.replace:
        old, _, new = pair.partition("=")
        help_text = help_text.replace(old, new)
    values = {name: "\n".join(lines) for name, lines in convert(help_text).items()}
    values["VERSION"] = escape(run(args.program, "--version").splitlines()[0].strip())
    for pair in args.define:
        name, _, value = pair.partition("=")
        values[name] = value

    with open(args.template, encoding="utf-8") as f:
        page = f.read()
    page = re.sub(r"@([A-Z_]+)@", lambda m: values[m.group(1)] if m.group(1) in values else m.group(0), page)
    if leftover := re.findall(r"@[A-Z_]+@", page):
        sys.exit(f"manpage: no value for {', '.join(sorted(set(leftover)))} in {args.template}")
    page = re.sub(r"\n{2,}", "\n", page)  # an empty placeholder leaves no blank line for roff

    with open(args.output, "w", encoding="utf-8") as f:
        f.write(page)
    if args.gzip:
        with open(args.output + ".gz", "wb") as raw, gzip.GzipFile("", "wb", 9, raw, mtime=0) as f:
            f.write(page.encode("utf-8"))


if __name__ == "__main__":
    main()
