"""The manual pages render without a warning from groff, mandoc's lint or
man, carry the version, and songtool's page describes every command and
option its usage text names.

usage: manpages.py VERSION SONGTOOL PAGE...
"""
import os
import re
import subprocess
import sys


def fail(message):
    sys.exit("FAIL: " + message)


def lint(page):
    """groff's full warnings, mandoc's lint, then man -l as a reader would run it; returns the text."""
    groff = subprocess.run(["groff", "-ww", "-man", "-Tutf8", "-z", page], capture_output=True, text=True)
    if groff.returncode != 0 or groff.stderr:
        fail(f"groff -ww warns about {page}:\n{groff.stderr}")
    mandoc = subprocess.run(["mandoc", "-T", "lint", page], capture_output=True, text=True)
    if mandoc.returncode != 0 or mandoc.stdout or mandoc.stderr:
        fail(f"mandoc -T lint finds faults in {page}:\n{mandoc.stdout}{mandoc.stderr}")
    man = subprocess.run(["man", "--warnings=w", "-l", page], capture_output=True, text=True,
                         env=dict(os.environ, MANWIDTH="80", MAN_KEEP_FORMATTING="", LC_ALL="C.UTF-8"))
    if man.returncode != 0 or man.stderr:
        fail(f"man -l warns about {page}:\n{man.stderr}")
    return man.stdout


def usage_words(songtool):
    """The commands and options songtool's usage text names."""
    run = subprocess.run([songtool], capture_output=True, text=True)
    if run.returncode != 2 or not run.stderr.startswith("usage: songtool"):
        fail(f"songtool without arguments gave status {run.returncode}, not its usage:\n{run.stderr}")
    commands = set(re.findall(r"songtool (\w+)", run.stderr))
    options = set(re.findall(r"(?<![\w-])(--?[a-z]+)", run.stderr))
    if len(commands) < 6 or "--version" not in options:
        fail(f"usage text not understood: commands {sorted(commands)}, options {sorted(options)}")
    return commands, options


def main():
    if len(sys.argv) < 4:
        sys.exit(__doc__)
    version, songtool, pages = sys.argv[1], sys.argv[2], sys.argv[3:]
    texts = {}
    for page in pages:
        text = lint(page)
        name = os.path.basename(page).split(".")[0]
        for section in ("NAME", "SYNOPSIS", "DESCRIPTION", "EXIT STATUS", "ENVIRONMENT", "EXAMPLES"):
            if not re.search(rf"^{section}$", text, re.M):
                fail(f"{page} has no {section} section")
        if f"songrender {version}" not in text:
            fail(f"{page} does not carry the version {version}")
        if "ALSA_CONFIG_PATH" not in text:
            fail(f"{page} does not name ALSA_CONFIG_PATH")
        texts[name] = text
        print(f"{page}: clean, {len(text.splitlines())} lines")

    commands, options = usage_words(songtool)
    described = set(re.findall(r"^ {7}(\S+)", texts["songtool"], re.M))
    missing = sorted(c for c in commands if c not in described) + \
              sorted(o for o in options if not re.search(rf"^ {{7}}{re.escape(o)}\b", texts["songtool"], re.M))
    if missing:
        fail("songtool(1) has no entry for " + ", ".join(missing))
    print(f"songtool(1) describes {', '.join(sorted(commands))} and {', '.join(sorted(options))}")
    if not re.search(r"ignores\s+any\s+arguments", texts["songrender"]):
        fail("songrender(1) does not say that the program ignores its arguments")


if __name__ == "__main__":
    main()
