#!/usr/bin/env python3
"""Prints a deb-src line for each Debian archive that this machine's apt sources use for its own
release (bookworm, bookworm-updates, bookworm-security, ...), read from /etc/apt/sources.list and
/etc/apt/sources.list.d/ in both the one-line and the deb822 format. Other repositories are left
out, since they seldom carry source packages."""
import glob
import os
import re
import sys

ETC = "/etc/apt"


def codename():
    with open("/etc/os-release", encoding="utf-8") as f:
        for line in f:
            key, _, value = line.strip().partition("=")
            if key == "VERSION_CODENAME":
                return value.strip('"')
    sys.exit("deb_src_lines.py: no VERSION_CODENAME in /etc/os-release")


def one_line_entries(path):
    with open(path, encoding="utf-8") as f:
        for line in f:
            line = line.split("#", 1)[0].strip()
            match = re.match(r"^deb\s+(?:\[([^\]]*)\]\s+)?(\S+)\s+(\S+)\s*(.*)$", line)
            if not match:
                continue
            options = dict(o.split("=", 1) for o in (match.group(1) or "").split() if "=" in o)
            yield match.group(2), [match.group(3)], match.group(4).split(), options.get("signed-by")


def deb822_entries(path):
    with open(path, encoding="utf-8") as f:
        text = f.read()
    for stanza in re.split(r"\n\s*\n", text):
        fields, key = {}, None
        for line in stanza.splitlines():
            if line.startswith("#"):
                continue
            if line[:1] in (" ", "\t") and key:  # a continuation line, as in an inline key
                fields[key] += "\n" + line.strip()
            elif ":" in line:
                key, _, value = line.partition(":")
                key = key.strip().lower()
                fields[key] = value.strip()
        if "deb" not in fields.get("types", "").split() or fields.get("enabled", "yes").lower() == "no":
            continue
        signed_by = fields.get("signed-by")
        if signed_by and ("\n" in signed_by or not signed_by.startswith("/")):
            signed_by = None  # an inline key cannot go on a one-line entry; apt's keyrings serve
        for uri in fields.get("uris", "").split():
            yield uri, fields.get("suites", "").split(), fields.get("components", "").split(), signed_by


def main():
    release = codename()
    paths = [os.path.join(ETC, "sources.list")] + sorted(glob.glob(os.path.join(ETC, "sources.list.d", "*")))
    lines = []
    for path in paths:
        if not os.path.isfile(path):
            continue
        if path.endswith(".sources"):
            entries = deb822_entries(path)
        elif path.endswith(".list"):
            entries = one_line_entries(path)
        else:
            continue  # apt ignores other names too
        for uri, suites, components, signed_by in entries:
            for suite in suites:
                if re.split(r"[-/]", suite)[0] != release or not components:
                    continue
                option = f"[signed-by={signed_by}] " if signed_by else ""
                line = f"deb-src {option}{uri} {suite} {' '.join(components)}"
                if line not in lines:
                    lines.append(line)
    if not lines:
        sys.exit(f"deb_src_lines.py: no {release} archive in {ETC}/sources.list(.d)")
    print("\n".join(lines))


if __name__ == "__main__":
    main()
