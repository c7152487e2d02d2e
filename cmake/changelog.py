#!/usr/bin/env python3
"""Writes the package's change log (usr/share/doc/quorvale/changelog.gz) in Debian's format:
one entry for the version being built, dated on its release day, compressed as Debian wants
(maximum compression, no name, no time stamp)."""

import argparse
import datetime
import email.utils
import gzip

parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
parser.add_argument("--package", required=True)
parser.add_argument("--version", required=True)
parser.add_argument("--date", required=True, help="release day, YYYY-MM-DD")
parser.add_argument("--maintainer", required=True)
parser.add_argument("--output", required=True)
args = parser.parse_args()

day = datetime.datetime.strptime(args.date, "%Y-%m-%d").replace(tzinfo=datetime.timezone.utc)
entry = (
    f"{args.package} ({args.version}) stable; urgency=medium\n\n"
    f"  * Release {args.version}.\n\n"
    f" -- {args.maintainer}  {email.utils.format_datetime(day)}\n"
)
with open(args.output, "wb") as raw, gzip.GzipFile("", "wb", 9, raw, mtime=0) as f:
    f.write(entry.encode("utf-8"))
