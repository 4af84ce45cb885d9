#!/usr/bin/env python3
"""Downloads Debian packages of a given architecture and unpacks them into
one directory tree, without installing anything and without touching the
host's package lists: apt works on lists of its own beside the tree.

    fetch_debs.py ARCH ROOT PACKAGE...

ARCH is a Debian architecture (amd64, arm64). The VM tests use it for an
arm64 guest's busybox-static and dmidecode (its kernel comes from
fetch-kernel). A tree that is complete for the same request is kept as it
is: the download happens once per build tree.
"""

import os
import shutil
import subprocess
import sys
import tempfile


def run(command, **kwargs):
    result = subprocess.run(command, capture_output=True, text=True, **kwargs)
    if result.returncode != 0:
        sys.exit(f"{' '.join(command)} failed ({result.returncode}):\n"
                 f"{result.stdout}{result.stderr}")
    return result.stdout


def apt_options(arch, state):
    return ["-q", "-o", f"APT::Architectures::={arch}",
            "-o", f"Dir::State::Lists={state}/lists",
            "-o", f"Dir::Cache={state}/cache",
            # Downloads go to a directory of our own, written as root.
            "-o", "APT::Sandbox::User=root"]


def main():
    if len(sys.argv) < 4:
        sys.exit(__doc__)
    arch, root, packages = sys.argv[1], os.path.abspath(sys.argv[2]), sys.argv[3:]
    stamp = os.path.join(root, ".fetched")
    request = f"{arch} {' '.join(packages)}\n"
    try:
        with open(stamp) as f:
            if f.read() == request:
                print(root)
                return 0
    except OSError:
        pass

    state = root + ".apt"
    for d in (f"{state}/lists/partial", f"{state}/cache/archives/partial"):
        os.makedirs(d, exist_ok=True)
    options = apt_options(arch, state)
    run(["apt-get"] + options + ["update"])

    names = [f"{package}:{arch}" for package in packages]

    if os.path.exists(root):
        shutil.rmtree(root)
    os.makedirs(root)
    with tempfile.TemporaryDirectory(dir=os.path.dirname(root)) as debs:
        run(["apt-get"] + options + ["download"] + names, cwd=debs)
        for deb in sorted(os.listdir(debs)):
            run(["dpkg-deb", "-x", os.path.join(debs, deb), root])
    with open(stamp, "w") as f:
        f.write(request)
    print(root)
    return 0


if __name__ == "__main__":
    sys.exit(main())
