"""Runs lintian on the packages: no error and no warning may remain. The
informational tags it prints (hardening flags the product build does not
use, the .comment section strip leaves) do not fail the test.

usage: lintian.py DEB...
"""
import re
import subprocess
import sys


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    result = subprocess.run(["lintian", "--display-info", "--pedantic", *sys.argv[1:]], capture_output=True, text=True)
    print(result.stdout, end="")
    tags = re.findall(r"^([EWIPX]): ", result.stdout, re.M)
    serious = [line for line in result.stdout.splitlines() if re.match(r"[EW]: ", line)]
    # lintian exits 1 on an error, 2 when it could not check the packages at all.
    if result.returncode != 0 or serious:
        sys.exit(f"FAIL: lintian exited {result.returncode} with {len(serious)} errors and warnings:\n"
                 + "\n".join(serious) + "\n" + result.stderr)
    print(f"lintian: no errors or warnings ({len(tags)} other tags) in {', '.join(sys.argv[1:])}")


if __name__ == "__main__":
    main()
