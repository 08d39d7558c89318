"""Installs the songrender and songtool packages into a scratch root (no
change to this machine) and uses them as a board owner would: songrender
found on PATH, run in an empty folder, writes the same output.wav as the
build's own program and plays it, frame for frame, into ALSA's file plugin;
songtool --version prints the version; man -w finds both pages. Before
that, the packages' fields, dependencies and files are checked.

With --emulator the packages are for another machine: their programs run
under it with this machine's multiarch runtime for that machine (its loader,
libc, libstdc++, libasound), the runtime a board has, and the libraries
the loader picks must all come from there.

usage: installed.py --version V --arch ARCH --multiarch TRIPLET --reference SONGRENDER
                    [--emulator 'COMMAND ARGS'] SONGRENDER.deb SONGTOOL.deb
"""
import argparse
import os
import re
import shlex
import shutil
import subprocess
import sys
import tempfile

PROGRAMS = ("songrender", "songtool")
# What each package must depend on, and what songrender must not drag in.
NEEDED = {"songrender": {"libasound2", "libc6", "libstdc++6"},
          "songtool": {"libasound2", "libc6", "libstdc++6", "libcairo2", "libcpp-httplib0.11"}}
NOT_NEEDED = {"songrender": {"libcairo2", "libfontconfig1"}, "songtool": set()}

failures = []


def check(ok, message):
    if not ok:
        failures.append(message)
        print("FAIL: " + message)
    return ok


def run(command, **kwargs):
    return subprocess.run(command, capture_output=True, stdin=subprocess.DEVNULL, **kwargs)


def expected_files(program):
    return {f"./usr/bin/{program}", f"./usr/share/man/man1/{program}.1.gz",
            *(f"./usr/share/doc/{program}/{name}" for name in ("README.md", "copyright", "changelog.gz"))}


def check_package(deb, program, args):
    fields = run(["dpkg-deb", "-f", deb, "Package", "Version", "Architecture", "Depends"], text=True)
    if not check(fields.returncode == 0, f"dpkg-deb cannot read {deb}: {fields.stderr}"):
        return
    values = dict(re.findall(r"^(\w+): (.*)$", fields.stdout, re.M))
    check(values.get("Package") == program, f"{deb}: Package is {values.get('Package')}, not {program}")
    check(values.get("Version") == args.version, f"{deb}: Version is {values.get('Version')}, not {args.version}")
    check(values.get("Architecture") == args.arch,
          f"{deb}: Architecture is {values.get('Architecture')}, not {args.arch}")
    depends = set(re.findall(r"(?:^|[,|]\s*)([a-z0-9][a-z0-9+.-]*)", values.get("Depends", "")))
    check(NEEDED[program] <= depends, f"{program} does not depend on {sorted(NEEDED[program] - depends)}: "
                                      f"Depends: {values.get('Depends')}")
    check(not NOT_NEEDED[program] & depends, f"{program} needlessly depends on "
                                             f"{sorted(NOT_NEEDED[program] & depends)}")
    listing = run(["dpkg-deb", "-c", deb], text=True).stdout.splitlines()
    files = {line.split()[-1] for line in listing if not line.startswith("d")}
    check(files == expected_files(program), f"{deb} holds {sorted(files)}, not {sorted(expected_files(program))}")


def check_libraries(program, args):
    """Every library the program's own loader picks lies in the multiarch folders."""
    header = run(["readelf", "-l", program], text=True).stdout
    loader = re.search(r"Requesting program interpreter: (\S+)\]", header)
    if not check(loader is not None, f"{program} names no program interpreter"):
        return
    listing = run(args.emulator + [loader.group(1), "--list", program], text=True)
    resolved = re.findall(r"^\s*(\S+) => (\S+)", listing.stdout, re.M)
    check(listing.returncode == 0 and resolved, f"{loader.group(1)} --list {program} failed: "
                                                f"{listing.stdout}{listing.stderr}")
    folders = (f"/lib/{args.multiarch}/", f"/usr/lib/{args.multiarch}/")
    for name, path in resolved:
        check(path.startswith(folders), f"{program}: {name} resolves to {path}, outside {' and '.join(folders)}")
    print(f"{os.path.basename(program)}: {loader.group(1)} loads " + ", ".join(p for _, p in resolved))


def render(command, folder, env):
    """Runs songrender in an empty folder with playback into a file beside it; (status, output, files)."""
    work = os.path.join(folder, "work")
    os.makedirs(work)
    capture = os.path.join(folder, "played.raw")
    config = os.path.join(folder, "alsa.conf")
    with open(config, "w") as f:
        f.write(f'pcm.!default {{ type file slave.pcm {{ type null }} file "{capture}" format "raw" }}\n')
    result = run(command, cwd=work, env=dict(env, ALSA_CONFIG_PATH=config), text=True, timeout=1800)
    read = lambda path: open(path, "rb").read() if os.path.exists(path) else b""
    return result, read(os.path.join(work, "output.wav")), read(capture), sorted(os.listdir(work))


def check_installed(root, scratch, args):
    bin_dir = os.path.join(root, "usr", "bin")
    env = dict(os.environ, PATH=bin_dir + os.pathsep + os.environ["PATH"])
    env.pop("QEMU_LD_PREFIX", None)
    env.pop("LD_LIBRARY_PATH", None)
    found = shutil.which("songrender", path=env["PATH"])
    check(found == os.path.join(bin_dir, "songrender"), f"PATH finds {found}, not the installed songrender")
    for program in PROGRAMS:
        check_libraries(os.path.join(bin_dir, program), args)

    reference, expected, _, _ = render([args.reference], os.path.join(scratch, "reference"), os.environ)
    check(reference.returncode == 0 and len(expected) > 44, f"the build's songrender failed: {reference.stdout}")
    # Natively the shell's way: by name, from PATH. An emulator needs the path PATH gives.
    command = args.emulator + [found] if args.emulator else ["songrender"]
    result, output, played, files = render(command, os.path.join(scratch, "installed"), env)
    check(result.returncode == 0, f"installed songrender exited {result.returncode}:\n{result.stdout[-2000:]}"
                                  f"{result.stderr[-2000:]}")
    check(files == ["output.wav"], f"the installed songrender left {files} in its folder, not output.wav alone")
    check(output == expected, f"the installed songrender wrote {len(output)} bytes of output.wav that differ "
                              f"from the build's {len(expected)}")
    check(played == output[44:], f"the installed songrender played {len(played)} bytes, not the file's "
                                 f"{len(output) - 44} bytes of frames")
    print(f"installed songrender: output.wav of {len(output)} bytes, as the build's")

    version = run(args.emulator + [os.path.join(bin_dir, "songtool"), "--version"], env=env, text=True)
    check((version.returncode, version.stdout) == (0, f"songtool {args.version}\n"),
          f"songtool --version gave status {version.returncode} and {version.stdout!r}{version.stderr!r}")

    man_env = dict(env, MANPATH=os.path.join(root, "usr", "share", "man"))
    for program in PROGRAMS:
        page = run(["man", "-w", program], env=man_env, text=True)
        want = os.path.join(root, "usr", "share", "man", "man1", f"{program}.1.gz")
        check(page.stdout.strip() == want, f"man -w {program} gives {page.stdout.strip()!r}{page.stderr}, not {want}")


def main():
    parser = argparse.ArgumentParser(usage=__doc__)
    parser.add_argument("--version", required=True)
    parser.add_argument("--arch", required=True)
    parser.add_argument("--multiarch", required=True)
    parser.add_argument("--reference", required=True)
    parser.add_argument("--emulator", type=shlex.split, default=[])
    parser.add_argument("debs", nargs=2)
    args = parser.parse_args()

    with tempfile.TemporaryDirectory(prefix="songrender-packages-") as scratch:
        root = os.path.join(scratch, "root")
        for deb, program in zip(args.debs, PROGRAMS):
            if not check(os.path.exists(deb), f"no package {deb}: build the package target first"):
                continue
            check_package(deb, program, args)
            unpacked = run(["dpkg-deb", "-x", deb, root], text=True)
            check(unpacked.returncode == 0, f"dpkg-deb -x {deb} failed: {unpacked.stderr}")
        if not failures:
            check_installed(root, scratch, args)
    if failures:
        sys.exit(f"{len(failures)} checks failed")
    print("the packages install and run")


if __name__ == "__main__":
    main()
