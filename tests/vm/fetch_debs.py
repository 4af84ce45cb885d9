#!/usr/bin/env python3
"""Downloads Debian packages of a given architecture and unpacks them into
one directory tree, without installing anything and without touching the
host's package lists: apt works on lists of its own beside the tree.

    fetch_debs.py ARCH ROOT PACKAGE...

ARCH is a Debian architecture (amd64, arm64). A PACKAGE named linux-image-ARCH
(the kernel's metapackage) stands for the kernel package it currently depends
on, and the unpacked kernel gets its modules.dep (depmod), which the
initramfs builder of run_vm.py reads. A tree that is complete for the same
request is kept as it is: the download happens once per build tree.
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


def kernel_package(options, arch, meta):
    """The concrete kernel package that the metapackage depends on now."""
    for line in run(["apt-cache"] + options + ["depends", f"{meta}:{arch}"]).splitlines():
        line = line.strip()
        if line.startswith("Depends: linux-image-"):
            return line.split()[1].split(":")[0]
    sys.exit(f"{meta}:{arch} names no kernel package")


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

    names, kernel = [], None
    for package in packages:
        if package == f"linux-image-{arch}":
            package = kernel = kernel_package(options, arch, package)
        names.append(f"{package}:{arch}")

    if os.path.exists(root):
        shutil.rmtree(root)
    os.makedirs(root)
    with tempfile.TemporaryDirectory(dir=os.path.dirname(root)) as debs:
        run(["apt-get"] + options + ["download"] + names, cwd=debs)
        for deb in sorted(os.listdir(debs)):
            run(["dpkg-deb", "-x", os.path.join(debs, deb), root])
    if kernel is not None:
        release = kernel[len("linux-image-"):]
        run([shutil.which("depmod") or "/sbin/depmod", "-b", root, release])
    with open(stamp, "w") as f:
        f.write(request)
    print(root)
    return 0


if __name__ == "__main__":
    sys.exit(main())
