#!/usr/bin/env python3
"""help_to_man.py PROGRAM OUTPUT: writes the man page of PROGRAM (section 1)
from its --help and --version texts, so the page says what the program says.

The --help text is "Usage: ..." then a description paragraph, then blocks that
start with a heading line ending in ':' ("Commands:", "Options:", ...); each
block becomes a section with its lines kept as they are."""
import os
import subprocess
import sys


def roff(text):
    text = text.replace("\\", "\\e").replace("-", "\\-")
    return "\\&" + text if text.startswith((".", "'")) else text


def summary(description):
    """The description up to its colon, starting in lower case: "the watcher of ..."."""
    text = description.split(":")[0].rstrip(".")
    return text[:1].lower() + text[1:]


def main(program, output):
    name = os.path.basename(program)
    help_text = subprocess.run([program, "--help"], capture_output=True, text=True, check=True).stdout
    version = subprocess.run([program, "--version"], capture_output=True, text=True, check=True).stdout.strip()
    paragraphs = help_text.strip("\n").split("\n\n")
    usage = paragraphs[0].splitlines()
    description = paragraphs[1].replace("\n", " ") if len(paragraphs) > 1 else ""
    page = ['.TH %s 1 "" "%s" "User Commands"' % (name.upper(), roff(version)),
            ".SH NAME", "%s \\- %s" % (name, roff(summary(description))),
            ".SH SYNOPSIS", ".nf"]
    page += [roff(line.replace("Usage: ", "", 1)) for line in usage]
    page += [".fi", ".SH DESCRIPTION", roff(description)]
    for block in paragraphs[2:]:
        lines = block.splitlines()
        if lines[0].endswith(":") and not lines[0].startswith(" "):
            page += [".SH " + roff(lines[0][:-1].upper()), ".nf"] + [roff(l) for l in lines[1:]] + [".fi"]
        else:
            page += [".PP", roff(" ".join(l.strip() for l in lines))]
    with open(output, "w") as f:
        f.write("\n".join(page) + "\n")


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
