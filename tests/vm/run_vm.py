#!/usr/bin/env python3
"""Boots a stock Debian kernel under QEMU (software emulation) on real
firmware (SeaBIOS, OVMF, and AAVMF for 64-bit ARM) with emulated network
cards, runs orlim inside the guest in several set-ups per boot and checks
every token it prints; runs orlim-inspect beside each orlim run and checks
that it agrees.

    run_vm.py --orlim ORLIM --inspect ORLIM_INSPECT --decoder ORLIM_DECODE --kernel-cache DIR BOOT...
    run_vm.py --orlim ORLIM --inspect ORLIM_INSPECT --decoder ORLIM_DECODE --kernel-cache DIR --demo
    run_vm.py --arch arm64 --orlim ORLIM_ARM64 --inspect ORLIM_INSPECT_ARM64 \
              --decoder ORLIM_DECODE --kernel-cache DIR --guest-root DIR aavmf-virt
    run_vm.py --list [--arch x86|arm64]

The x86 guests take busybox and dmidecode from the host. An arm64 guest
takes them from --guest-root, a tree of unpacked Debian arm64 packages
(fetch_debs.py makes it), and the C library for its dmidecode from Debian's
cross toolchain; its tokens are decoded with the host's decoder all the
same.

The guest never reaches a network: its cards have no backend at all.
The kernel is Debian's package, downloaded and unpacked by fetch-kernel into
the cache folder (not installed on the host).
Nothing here needs root: QEMU emulates in software and the initramfs is an
ordinary cpio archive built in a temporary directory.
"""

import argparse
import dataclasses
import gzip
import json
import lzma
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

QEMU = "qemu-system-x86_64"
QEMU_ARM64 = "qemu-system-aarch64"
SEABIOS = "/usr/share/seabios/bios-256k.bin"
OVMF = "/usr/share/ovmf/OVMF.fd"
AAVMF_CODE = "/usr/share/AAVMF/AAVMF_CODE.fd"
AAVMF_VARS = "/usr/share/AAVMF/AAVMF_VARS.fd"  # copied: the firmware writes it
# The arm64 guest's dynamic loader and C library, for its dmidecode.
ARM64_SYSROOT = "/usr/aarch64-linux-gnu/lib"
BOOT_TIMEOUT = 150  # seconds for one boot to power-off; TCG boots take 10-20
# The guest reads the RTC to the second at boot, but under software emulation
# on a loaded host its clock can run a few seconds fast (timer calibration is
# thrown off). A wrong time field is off by years, not seconds, so a minute of
# slack still catches it.
CLOCK_SLACK = 60

# Where each host tool comes from, for the message when one is missing.
PACKAGES = {
    QEMU: "qemu-system-x86",
    QEMU_ARM64: "qemu-system-arm",
    SEABIOS: "seabios",
    OVMF: "ovmf",
    AAVMF_CODE: "qemu-efi-aarch64",
    AAVMF_VARS: "qemu-efi-aarch64",
    ARM64_SYSROOT: "libc6-arm64-cross",
    "busybox": "busybox-static",
    "dmidecode": "dmidecode",
    "cpio": "cpio",
}

# Modules the guest needs for each QEMU card model. QEMU's rtl8139 is a
# C+ capable chip, which 8139cp drives; virtio needs its PCI transport too.
CARD_MODULES = {
    "e1000": ["e1000"],
    "virtio-net-pci": ["virtio_pci", "virtio_net"],
    "rtl8139": ["8139cp"],
}


# ---------------------------------------------------------------- scenarios

@dataclasses.dataclass
class Card:
    model: str
    mac: str


@dataclasses.dataclass
class Step:
    """One orlim run inside a boot.

    hide: what is covered before the run: "dmi" (the sysfs SMBIOS tables),
      "efi" (the EFI system table), "devmem" (/dev/mem), "dmi-id" (the
      kernel's product_uuid).
    names: card index -> interface name to give it before the run.
    new_mac: (card index, address) to set as the current address for the run.
    card: index of the card whose permanent address must be in the token;
      None when no token is expected.
    failure: the SMBIOS reader's code expected in the -v message when
      no token is expected.
    dmidecode: whether dmidecode in the guest sees the same table and must
      report the same UUID.
    """
    name: str
    hide: tuple = ()
    names: dict = dataclasses.field(default_factory=dict)
    new_mac: tuple = None
    card: int = 0
    failure: int = None
    dmidecode: bool = True


@dataclasses.dataclass
class Boot:
    firmware: str  # "seabios", "ovmf" or "aavmf"
    machine: str
    uuid: str
    cards: list
    steps: list

    @property
    def arch(self):
        return "arm64" if self.firmware == "aavmf" else "x86"

    @property
    def uefi(self):
        return self.firmware != "seabios"


def source_steps(firmware):
    """The SMBIOS reader's sources, each forced by hiding those before it."""
    if firmware == "seabios":
        return [
            Step("sysfs"),
            Step("memory-scan", hide=("dmi",)),
            Step("product-uuid", hide=("dmi", "devmem"), dmidecode=False),
            Step("nothing", hide=("dmi", "devmem", "dmi-id"),
                 card=None, failure=-2, dmidecode=False),
        ]
    if firmware == "aavmf":
        # No legacy BIOS area on ARM: without the EFI system table the chain
        # goes straight to product_uuid, and with nothing left the code says
        # "unreadable".
        return [
            Step("sysfs"),
            Step("efi-systab", hide=("dmi",)),
            Step("efi-no-devmem", hide=("dmi", "devmem", "dmi-id"),
                 card=None, failure=-2, dmidecode=False),
            Step("product-uuid", hide=("dmi", "efi"), dmidecode=False),
            Step("nothing", hide=("dmi", "efi", "dmi-id"),
                 card=None, failure=-2, dmidecode=False),
        ]
    return [
        Step("sysfs"),
        Step("efi-systab", hide=("dmi",)),
        # The system table opened but its entry point can't be read: the
        # memory scan must not run, and the code says "unreadable".
        Step("efi-no-devmem", hide=("dmi", "devmem", "dmi-id"),
             card=None, failure=-2, dmidecode=False),
        # No system table: the scan of 0xF0000 runs and finds nothing under
        # UEFI, so only product_uuid is left.
        Step("product-uuid", hide=("dmi", "efi"), dmidecode=False),
        Step("nothing", hide=("dmi", "efi", "dmi-id"),
             card=None, failure=-1, dmidecode=False),
    ]


# What each hiding covers, as the guest sees it.
SOURCE_PATHS = {
    "dmi": "/sys/firmware/dmi/tables/smbios_entry_point",
    "efi": "/sys/firmware/efi/systab",
    "devmem": "/dev/mem",
    "dmi-id": "/sys/devices/virtual/dmi/id/product_uuid",
}


# Three cards of different models; indexes into Boot.cards.
E1000, VIRTIO, RTL = 0, 1, 2
NAMING_STEPS = [
    # eth* ranks above every other name, even one that sorts first.
    Step("eth-before-others", names={E1000: "enp0s3", VIRTIO: "eth1", RTL: "eth0"}, card=RTL),
    Step("ath-before-eth", names={E1000: "ath0", VIRTIO: "eth0", RTL: "eth1"}, card=E1000),
    # Byte order, not number order: eth10 before eth9.
    Step("byte-order", names={E1000: "eth9", VIRTIO: "eth10", RTL: "wlan0"}, card=VIRTIO),
    Step("others-byte-order", names={E1000: "enp0s9", VIRTIO: "wlan0", RTL: "enp0s10"}, card=RTL),
    # Real cards whose names look like loopback or dummy are passed over.
    Step("filtered-names", names={E1000: "lo1", VIRTIO: "dummy0", RTL: "wan0"}, card=RTL),
    # The permanent address counts, not one set by the administrator.
    Step("permanent-address", names={E1000: "eth0", VIRTIO: "eth1", RTL: "eth2"},
         new_mac=(E1000, "02:11:22:33:44:55"), card=E1000),
]

THREE_CARDS = [Card("e1000", "52:54:00:a1:b2:c3"),
               Card("virtio-net-pci", "52:54:00:0d:fe:80"),
               Card("rtl8139", "02:00:5e:fe:fd:ff")]

BOOTS = {
    "seabios-smbios2": Boot(
        "seabios", "pc,smbios-entry-point-type=32",
        "3f1b2c4d-5e6f-4a1b-8c9d-0e1f2a3b4c5d",
        [Card("e1000", "52:54:00:12:34:56")],
        source_steps("seabios")),
    "seabios-smbios3": Boot(
        "seabios", "pc,smbios-entry-point-type=64",
        "a0b1c2d3-e4f5-4617-a8b9-cadbecfd0e1f",
        THREE_CARDS,
        source_steps("seabios") + NAMING_STEPS),
    "ovmf-smbios2": Boot(
        "ovmf", "q35,smbios-entry-point-type=32",
        "12345678-9abc-4def-8123-456789abcdef",
        [Card("virtio-net-pci", "52:54:00:fe:dc:ba")],
        source_steps("ovmf")),
    "ovmf-smbios3": Boot(
        "ovmf", "q35,smbios-entry-point-type=64",
        "fedcba98-7654-4321-8fed-cba987654321",
        # Addresses whose last bytes wrap when the offsets are added.
        [Card("rtl8139", "52:54:00:00:00:fe"), Card("e1000", "52:54:00:ff:ff:ff")],
        source_steps("ovmf") + [
            Step("eth-order", names={0: "eth1", 1: "eth0"}, card=1),
        ]),
}

# 64-bit ARM: QEMU's virt board on AAVMF (UEFI), with a virtio-net card and an
# e1000. Each source step runs with the cards named the other way round from
# the step before, so both cards' permanent addresses reach a token.
ARM64_CARDS = [Card("virtio-net-pci", "52:54:00:a6:40:01"),
               Card("e1000", "52:54:00:a6:40:fe")]
ARM64_VIRTIO, ARM64_E1000 = 0, 1


def arm64_steps():
    steps = source_steps("aavmf")
    for i, step in enumerate(steps):
        chosen = (ARM64_VIRTIO, ARM64_E1000)[i % 2]
        step.names = {chosen: "eth0", 1 - chosen: "eth1"}
        if step.card is not None:
            step.card = chosen
    return steps + [
        Step("permanent-address", names={ARM64_E1000: "eth0", ARM64_VIRTIO: "eth1"},
             new_mac=(ARM64_E1000, "02:11:22:33:44:55"), card=ARM64_E1000),
    ]


BOOTS["aavmf-virt"] = Boot(
    "aavmf", "virt", "0a1b2c3d-4e5f-4061-8293-a4b5c6d7e8f9", ARM64_CARDS, arm64_steps())

DEMO = Boot("seabios", "pc,smbios-entry-point-type=64",
            "5ca1ab1e-0000-4000-8000-00000000c0de",
            [Card("e1000", "52:54:00:12:34:56")], [Step("demo")])


# ------------------------------------------------------------- host side

class Failure(Exception):
    pass


def need_file(path):
    if not os.path.exists(path):
        raise Failure(f"{path} not found: install the Debian package "
                      f"{PACKAGES[path]} (tools/deps.sh test does)")
    return path


def need_tool(name):
    path = shutil.which(name) or shutil.which(name, path="/usr/sbin:/sbin")
    if not path:
        raise Failure(f"{name} not found: install the Debian package "
                      f"{PACKAGES.get(name, name)} (tools/deps.sh test does)")
    return path


FETCH_KERNEL = os.path.join(os.path.dirname(os.path.abspath(__file__)), "fetch-kernel")


DEBIAN_ARCH = {"x86": "amd64", "arm64": "arm64"}


def guest_kernel(cache, arch="amd64"):
    """Debian's stock kernel and its modules folder, downloaded into CACHE
    (not installed) by fetch-kernel and reused from there."""
    run = subprocess.run([sys.executable, FETCH_KERNEL, arch, cache],
                         capture_output=True, text=True)
    if run.returncode != 0:
        raise Failure(run.stderr.strip() or f"fetch-kernel failed ({run.returncode})")
    paths = dict(line.split("=", 1) for line in run.stdout.splitlines() if "=" in line)
    return paths["kernel"], paths["modules"]


def module_order(moddir, wanted):
    """Module files to load, dependencies first, from modules.dep."""
    deps, paths = {}, {}
    with open(os.path.join(moddir, "modules.dep")) as f:
        for line in f:
            target, _, rest = line.partition(":")
            name = re.sub(r"\.ko(\.\w+)?$", "", os.path.basename(target)).replace("-", "_")
            paths[name] = target
            deps[target] = rest.split()
    order = []

    def visit(target):
        if target in order:
            return
        for dep in deps.get(target, []):
            visit(dep)
        order.append(target)

    for name in wanted:
        if name not in paths:
            raise Failure(f"kernel module {name} not in {moddir}/modules.dep")
        visit(paths[name])
    return [os.path.join(moddir, t) for t in order]


def copy_module(src, dest_dir):
    """Copies a module, uncompressed, since busybox insmod may not inflate."""
    base = os.path.basename(src)
    dest = os.path.join(dest_dir, re.sub(r"\.ko\.\w+$", ".ko", base))
    if base.endswith(".ko"):
        shutil.copyfile(src, dest)
    elif base.endswith(".xz"):
        with lzma.open(src) as f, open(dest, "wb") as out:
            shutil.copyfileobj(f, out)
    elif base.endswith(".gz"):
        with gzip.open(src) as f, open(dest, "wb") as out:
            shutil.copyfileobj(f, out)
    elif base.endswith(".zst"):
        with open(dest, "wb") as out:
            subprocess.run([need_tool("zstd"), "-dc", src], stdout=out, check=True)
    else:
        raise Failure(f"unknown module format: {src}")
    return os.path.basename(dest)


def copy_with_libraries(binary, root, dest):
    """Copies a binary and, when it is dynamic, the libraries and the loader
    that ldd names, at their own paths."""
    shutil.copy2(binary, root + dest)
    ldd = subprocess.run(["ldd", binary], capture_output=True, text=True)
    if ldd.returncode != 0:  # "not a dynamic executable"
        return
    for lib in re.findall(r"(?:=>\s*)?(/\S+)\s+\(0x", ldd.stdout):
        os.makedirs(root + os.path.dirname(lib), exist_ok=True)
        shutil.copy2(os.path.realpath(lib), root + lib)


def is_static(path):
    """True when the ELF file asks for no program interpreter (PT_INTERP)."""
    with open(path, "rb") as f:
        header = f.read(64)
        if header[:4] != b"\x7fELF" or header[4] != 2:
            return False
        phoff = int.from_bytes(header[0x20:0x28], "little")
        size, count = (int.from_bytes(header[o:o + 2], "little") for o in (0x36, 0x38))
        f.seek(phoff)
        table = f.read(size * count)
    return all(int.from_bytes(table[i:i + 4], "little") != 3
               for i in range(0, len(table), size))


def copy_foreign(binary, root, dest, sysroot):
    """Copies a binary of another architecture and the libraries it names
    (DT_NEEDED) from that architecture's sysroot into the guest's /lib,
    which its loader searches."""
    shutil.copy2(binary, root + dest)
    dynamic = subprocess.run(["readelf", "-dW", binary], capture_output=True, text=True,
                             check=True).stdout
    os.makedirs(root + "/lib", exist_ok=True)
    for lib in re.findall(r"\(NEEDED\)\s+Shared library: \[(.+?)\]", dynamic):
        shutil.copy2(os.path.realpath(need_file(os.path.join(sysroot, lib))),
                     os.path.join(root, "lib", lib))


def guest_file(guest_root, path):
    full = os.path.join(guest_root, path.lstrip("/"))
    if not os.path.exists(full):
        raise Failure(f"{full} is missing: make the tree with fetch_debs.py")
    return full


ELF_MACHINES = {"x86": 62, "arm64": 183}  # EM_X86_64, EM_AARCH64


def elf_machine(path):
    with open(path, "rb") as f:
        return int.from_bytes(f.read(20)[18:20], "little")


def build_initramfs(work, boot, orlim, inspect, kernel_cache, guest_root=None):
    """Builds the guest's root in work and packs it; returns the kernel and the image."""
    cpio = need_tool("cpio")
    root = os.path.join(work, "root")
    for d in ("bin", "sbin", "proc", "sys", "dev", "tmp", "modules"):
        os.makedirs(os.path.join(root, d))
    kernel, moddir = guest_kernel(kernel_cache, DEBIAN_ARCH[boot.arch])
    if boot.arch == "x86":
        copy_with_libraries(need_tool("busybox"), root, "/bin/busybox")
        copy_with_libraries(need_tool("dmidecode"), root, "/sbin/dmidecode")
    else:
        if guest_root is None:
            raise Failure(f"{boot.arch} boots need --guest-root")
        shutil.copy2(guest_file(guest_root, "/bin/busybox"), root + "/bin/busybox")
        copy_foreign(guest_file(guest_root, "/usr/sbin/dmidecode"), root, "/sbin/dmidecode",
                     ARM64_SYSROOT)
    shutil.copy2(orlim, root + "/bin/orlim")
    shutil.copy2(inspect, root + "/bin/orlim-inspect")
    wanted = list(RESULTS_MODULES[boot.arch])
    for card in boot.cards:
        wanted += [m for m in CARD_MODULES[card.model] if m not in wanted]
    modules = [copy_module(m, os.path.join(root, "modules"))
               for m in module_order(moddir, wanted)]
    with open(os.path.join(root, "init"), "w") as f:
        f.write(guest_script(boot, modules))
    os.chmod(os.path.join(root, "init"), 0o755)
    image = os.path.join(work, "initramfs.cpio")
    files = subprocess.run(["find", "."], cwd=root, capture_output=True, check=True).stdout
    with open(image, "wb") as out:
        subprocess.run([cpio, "-o", "-H", "newc", "-R", "0:0", "--quiet"], cwd=root,
                       input=files, stdout=out, check=True)
    return kernel, image


# ------------------------------------------------------------ guest side

GUEST_PRELUDE = r"""#!/bin/busybox sh
/bin/busybox --install -s /bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
mount -t tmpfs tmpfs /tmp
failed=""
for m in $MODULES; do insmod /modules/$m || failed="$failed $m"; done
# Results go to their own port, away from kernel messages; a port that a
# module provides may take a moment to appear.
n=0
until [ -e $RESULTS ]; do n=$((n + 1)); [ $n -gt 100 ] && break; sleep 0.1; done
exec 3>$RESULTS
say() { echo "@@$*" >&3; }
[ -z "$failed" ] || say FATAL insmod $failed

# Waits for each card to show up, by address.
wait_cards() {
  for mac in "$@"; do
    n=0
    until grep -qx "$mac" /sys/class/net/*/address 2>/dev/null; do
      n=$((n + 1)); [ $n -gt 100 ] && { say FATAL no card $mac; break; }; sleep 0.1
    done
  done
}
name_of() {
  for d in /sys/class/net/*; do
    [ "$(cat $d/address)" = "$1" ] && { echo "${d##*/}"; return; }
  done
}
# rename MAC NAME...: through temporary names so that no two collide.
rename() {
  args="$*"; i=0
  while [ $# -gt 0 ]; do ip link set "$(name_of $1)" name vmtmp$i; i=$((i + 1)); shift 2; done
  set -- $args; i=0
  while [ $# -gt 0 ]; do ip link set vmtmp$i name "$2"; i=$((i + 1)); shift 2; done
}
hide() {
  case $1 in
    dmi) mount -t tmpfs hidden /sys/firmware/dmi ;;
    efi) mount -t tmpfs hidden /sys/firmware/efi ;;
    dmi-id) mount -t tmpfs hidden /sys/devices/virtual/dmi/id ;;
    devmem) mv /dev/mem /dev/.mem-hidden ;;
  esac
}
unhide() {
  case $1 in
    dmi) umount /sys/firmware/dmi ;;
    efi) umount /sys/firmware/efi ;;
    dmi-id) umount /sys/devices/virtual/dmi/id ;;
    devmem) mv /dev/.mem-hidden /dev/mem ;;
  esac
}
run_orlim() {
  /bin/orlim -u -v >/tmp/out 2>/tmp/err
  say RC $?
  sed 's/^/@@OUT /' /tmp/out >&3
  sed 's/^/@@ERR /' /tmp/err >&3
  /sbin/dmidecode -s system-uuid 2>/dev/null | sed 's/^/@@DMI /' >&3
  /bin/orlim-inspect --json >/tmp/out 2>/tmp/err
  say INSPECT_RC $?
  sed 's/^/@@INSPECT /' /tmp/out >&3
  sed 's/^/@@INSPECT_ERR /' /tmp/err >&3
  /bin/orlim-inspect >/tmp/out 2>&1
  say REPORT_RC $?
  sed 's/^/@@REPORT /' /tmp/out >&3
  for f in $SOURCES; do [ -e $f ] && say SEEN $f; done
  for d in /sys/class/net/*; do say NET ${d##*/} $(cat $d/address); done
}
"""


# Where the guest writes its results. The virt board has a single UART, so
# the arm64 guest gets a virtio console of its own (module virtio_console).
GUEST_RESULTS = {"x86": "/dev/ttyS1", "arm64": "/dev/hvc0"}
GUEST_CONSOLE = {"x86": "ttyS0", "arm64": "ttyAMA0"}
RESULTS_MODULES = {"x86": [], "arm64": ["virtio_pci", "virtio_console"]}


def guest_script(boot, modules):
    """/init for the guest: load the card drivers, then each step in turn."""
    prelude = GUEST_PRELUDE.replace("$MODULES", " ".join(modules))
    prelude = prelude.replace("$RESULTS", GUEST_RESULTS[boot.arch])
    lines = [prelude.replace("$SOURCES", " ".join(SOURCE_PATHS.values())),
             "wait_cards " + " ".join(c.mac for c in boot.cards)]
    for step in boot.steps:
        lines.append(f"say STEP {step.name}")
        lines.append("say UPTIME $(cut -d' ' -f1 /proc/uptime)")
        lines += [f"hide {h}" for h in step.hide]
        if step.names:
            pairs = " ".join(f"{boot.cards[i].mac} {n}" for i, n in step.names.items())
            lines.append(f"rename {pairs}")
        if step.new_mac:
            index, mac = step.new_mac
            lines.append(f"ip link set $(name_of {boot.cards[index].mac}) address {mac}")
        lines.append("run_orlim")
        if step.new_mac:
            lines.append(f"ip link set $(name_of {mac}) address {boot.cards[index].mac}")
        lines += [f"unhide {h}" for h in reversed(step.hide)]
        lines.append("say UPTIME $(cut -d' ' -f1 /proc/uptime)")
        lines.append(f"say END {step.name}")
    lines += ["say DONE", "poweroff -f", ""]
    return "\n".join(lines)


def run_qemu(work, boot, kernel, initramfs):
    console = os.path.join(work, "console.log")
    results = os.path.join(work, "results.log")
    if boot.arch == "x86":
        firmware = need_file(SEABIOS if boot.firmware == "seabios" else OVMF)
        command = [need_tool(QEMU), "-machine", boot.machine, "-bios", firmware, "-m", "256",
                   "-serial", f"file:{console}", "-serial", f"file:{results}"]
    else:
        variables = os.path.join(work, "AAVMF_VARS.fd")
        shutil.copyfile(need_file(AAVMF_VARS), variables)
        command = [need_tool(QEMU_ARM64), "-machine", boot.machine, "-cpu", "cortex-a57",
                   "-m", "512",
                   "-drive", f"if=pflash,format=raw,readonly=on,file={need_file(AAVMF_CODE)}",
                   "-drive", f"if=pflash,format=raw,file={variables}",
                   "-serial", f"file:{console}",
                   "-device", "virtio-serial-pci",
                   "-chardev", f"file,id=results,path={results}",
                   "-device", "virtconsole,chardev=results"]
    command += ["-accel", "tcg", "-smp", "1",
                "-nodefaults", "-display", "none", "-no-reboot",
                "-kernel", kernel, "-initrd", initramfs,
                "-append", f"console={GUEST_CONSOLE[boot.arch]} loglevel=4 panic=-1",
                "-smbios", f"type=1,uuid={boot.uuid}"]
    # No netdev: the cards have no backend, so nothing can leave the guest.
    # No option ROM: the guest never network-boots.
    for card in boot.cards:
        command += ["-device", f"{card.model},mac={card.mac},romfile="]
    try:
        qemu = subprocess.run(command, stdin=subprocess.DEVNULL, capture_output=True,
                              text=True, timeout=BOOT_TIMEOUT)
    except subprocess.TimeoutExpired:
        raise Failure(f"guest did not power off within {BOOT_TIMEOUT} s\n"
                      + tail(console))
    if qemu.returncode != 0:
        raise Failure(f"qemu exited with {qemu.returncode}: {qemu.stderr}\n" + tail(console))
    with open(results, errors="replace") as f:
        return f.read()


def tail(path, lines=40):
    try:
        with open(path, errors="replace") as f:
            return "--- guest console (last lines) ---\n" + "".join(f.readlines()[-lines:])
    except OSError:
        return ""


def parse_results(text):
    """Per step: the exit status and the lines of each kind."""
    steps, current, done = {}, None, False
    for raw in text.splitlines():
        at = raw.find("@@")
        if at < 0:
            continue  # firmware and kernel chatter on the same port
        kind, _, value = raw[at + 2:].rstrip("\r").partition(" ")
        if kind == "FATAL":
            raise Failure("guest: " + value)
        if kind == "STEP":
            current = steps.setdefault(value, {"OUT": [], "ERR": [], "DMI": [], "NET": [],
                                               "SEEN": [], "INSPECT": [], "INSPECT_ERR": [],
                                               "REPORT": [], "UPTIME": []})
        elif kind in ("RC", "INSPECT_RC", "REPORT_RC") and current is not None:
            current[kind] = int(value)
        elif kind in ("OUT", "ERR", "DMI", "NET", "SEEN", "INSPECT", "INSPECT_ERR",
                      "REPORT", "UPTIME") and current is not None:
            current[kind].append(value)
        elif kind == "END":
            current = None
        elif kind == "DONE":
            done = True
    if not done:
        raise Failure("guest stopped before its last step")
    return steps


def legacy_of(mac):
    """The 8 characters the token carries for a card's address."""
    b = [int(x, 16) for x in mac.split(":")]
    return "".join(f"{(v + k) & 0xFF:02X}" for v, k in zip(b[2:], (0x12, 3, 6, 2)))


def decode(decoder, tokens):
    if not tokens:
        return {}
    run = subprocess.run([decoder, "--json"] + tokens, capture_output=True, text=True)
    if run.returncode != 0:
        raise Failure(f"orlim-decode failed ({run.returncode}): {run.stderr}")
    decoded = [json.loads(line) for line in run.stdout.splitlines() if line.strip()]
    return {d["token"].upper(): d for d in decoded}


def expected_source(boot, step):
    """The UUID source orlim-inspect must name: the first one not hidden."""
    if step.card is None:
        return None
    if "dmi" not in step.hide:
        return "sysfs"
    if boot.uefi and "efi" not in step.hide:
        return "efi"
    if boot.firmware == "seabios" and "devmem" not in step.hide:
        return "memory-scan"
    return "product-uuid"


def card_name(boot, step, got):
    """The guest's name for the card the step expects in the token."""
    if step.card in step.names:
        return step.names[step.card]
    mac = boot.cards[step.card].mac
    for line in got["NET"]:
        name, _, address = line.partition(" ")
        if address == mac:
            return name
    return None


def check_inspect(boot, step, got, fields):
    """What orlim-inspect said in the step against orlim's run there; fields
    are what orlim-decode read from orlim's token, or None."""
    where = f"{step.name}: orlim-inspect"
    if got.get("INSPECT_RC") != 0 or got["INSPECT_ERR"] or len(got["INSPECT"]) != 1:
        return [f"{where} --json: exit status {got.get('INSPECT_RC')}, "
                f"out={got['INSPECT']} err={got['INSPECT_ERR']}"]
    if got.get("REPORT_RC") != 0 or not got["REPORT"]:
        return [f"{where}: text report failed ({got.get('REPORT_RC')}): {got['REPORT']}"]
    try:
        report = json.loads(got["INSPECT"][0])
    except ValueError as e:
        return [f"{where}: not JSON ({e}): {got['INSPECT'][0]}"]
    problems = []
    token_fields = report.get("token_fields")
    if fields is None:
        if token_fields is not None:
            problems.append(f"{where}: token_fields {token_fields}, but orlim printed no token")
        if step.failure is not None and report["uuid"]["result"] != step.failure:
            problems.append(f"{where}: uuid.result {report['uuid']['result']}, "
                            f"expected {step.failure}")
    else:
        wanted = {k: fields[k] for k in ("version", "uuid", "legacy")}
        if token_fields != wanted:
            problems.append(f"{where}: token_fields {token_fields}, the token holds {wanted}")
        if fields["token"] in got["INSPECT"][0] or fields["token"] in "".join(got["REPORT"]):
            problems.append(f"{where}: printed the token")
    if report["uuid"]["source"] != expected_source(boot, step):
        problems.append(f"{where}: uuid.source {report['uuid']['source']!r}, "
                        f"expected {expected_source(boot, step)!r}")
    if step.card is not None:
        name = card_name(boot, step, got)
        if report["network"]["card"] != name:
            problems.append(f"{where}: network.card {report['network']['card']!r}, "
                            f"expected {name!r}")
        # Emulated cards have factory addresses, which the identifier uses.
        if report["network"]["address_source"] != "permanent":
            problems.append(f"{where}: network.address_source "
                            f"{report['network']['address_source']!r}, expected 'permanent'")
        differ = report["network"].get("addresses_differ")
        if differ != (step.new_mac is not None):
            problems.append(f"{where}: addresses_differ {differ!r}")
    problems += check_environment(boot, step, report, where)
    return problems


# The guest is QEMU emulating (TCG); how the report should judge a card
# address: QEMU's own prefix, else the locally administered bit, else a
# maker's block.
def card_verdict(mac):
    if mac.lower().startswith("52:54:00"):
        return "hypervisor-prefix"
    return "locally-administered" if int(mac[:2], 16) & 0x02 else "permanent"


def check_environment(boot, step, report, where):
    """orlim-inspect must name QEMU as the hypervisor, from the evidence it
    shows, and judge the parts of the identity as a VM's."""
    problems = []
    env = report.get("environment") or {}
    decided = [e for e in env.get("evidence", []) if e.get("decided")]
    # x86: CPUID's vendor leaf says TCG whatever is hidden. On ARM there is
    # no CPUID: with the SMBIOS tables and the kernel's DMI strings both
    # hidden, nothing may be left to tell, and then "unknown" is right.
    blind = boot.arch == "arm64" and "dmi" in step.hide and "dmi-id" in step.hide
    if blind and env.get("kind") == "unknown" and env.get("hypervisor") is None:
        pass
    elif env.get("kind") != "vm" or env.get("hypervisor") != "qemu" or not decided:
        problems.append(f"{where}: environment kind {env.get('kind')!r}, hypervisor "
                        f"{env.get('hypervisor')!r}, decided by {decided}; expected vm, qemu")
    if env.get("container") is not None:
        problems.append(f"{where}: environment.container {env.get('container')!r}")
    stability = report.get("stability") or {}
    uuid_verdict = (stability.get("uuid") or {}).get("verdict")
    if step.card is not None and not blind and uuid_verdict != "hypervisor-assigned":
        problems.append(f"{where}: stability.uuid.verdict {uuid_verdict!r}")
    if step.card is not None:
        mac = boot.cards[step.card].mac
        card = (stability.get("card") or {}).get("verdict")
        if card != card_verdict(mac):
            problems.append(f"{where}: stability.card.verdict {card!r} for {mac}, "
                            f"expected {card_verdict(mac)!r}")
        overall = stability.get("overall")
        if not blind and overall != "stable-while-the-vm-exists":
            problems.append(f"{where}: stability.overall {overall!r}")
    return problems


def check_boot(boot, steps, decoder, window):
    """Returns the problems found, and each step's decoded token fields."""
    problems, tokens = [], {}
    for step in boot.steps:
        got = steps.get(step.name)
        if got is None or "RC" not in got:
            problems.append(f"{step.name}: no result from the guest")
            continue
        where = f"{step.name} (cards: {', '.join(got['NET'])})"
        # Guards the set-up itself: a hiding that silently failed would let
        # an earlier source answer for the one this step means to test.
        for what, path in SOURCE_PATHS.items():
            present = what not in step.hide and (what != "efi" or boot.uefi)
            if (path in got["SEEN"]) != present:
                problems.append(f"{where}: {path} is {'missing' if present else 'not hidden'}")
        if got["RC"] != 0:
            problems.append(f"{where}: exit status {got['RC']}, expected 0")
        if step.card is None:
            want = f"Failure reading system ID ({step.failure}/16)"
            if got["OUT"] or got["ERR"] != [want]:
                problems.append(f"{where}: expected no token and {want!r} on standard "
                                f"error, got out={got['OUT']} err={got['ERR']}")
        elif len(got["OUT"]) != 1 or got["ERR"] \
                or not re.fullmatch(r"[0-9A-F]{58}", got["OUT"][0]):
            problems.append(f"{where}: expected one token line and nothing on standard "
                            f"error, got out={got['OUT']} err={got['ERR']}")
        else:
            tokens[step.name] = got["OUT"][0]

    decoded = decode(decoder, list(tokens.values()))
    fields_by_step = {}
    low, high = window
    for name, token in tokens.items():
        step, got = next(s for s in boot.steps if s.name == name), steps[name]
        where = f"{name} (cards: {', '.join(got['NET'])})"
        fields = decoded.get(token)
        if fields is None:
            problems.append(f"{where}: orlim-decode gave nothing for {token}")
            continue
        fields_by_step[name] = fields
        card = boot.cards[step.card]
        expected = {"version": 1, "uuid": boot.uuid.lower(), "legacy": legacy_of(card.mac)}
        for key, value in expected.items():
            if fields.get(key) != value:
                problems.append(f"{where}: {key} is {fields.get(key)!r}, expected {value!r}"
                                + (f" (card {card.model} {card.mac})" if key == "legacy" else ""))
        if not low <= fields.get("time", -1) <= high:
            problems.append(f"{where}: time {fields.get('time')} outside the boot's "
                            f"window {low}..{high}")
        if step.dmidecode and [u.lower() for u in got["DMI"]] != [boot.uuid.lower()]:
            problems.append(f"{where}: dmidecode in the guest says {got['DMI']}, "
                            f"expected {boot.uuid}")
    for step in boot.steps:
        got = steps.get(step.name)
        if got is not None and "RC" in got:
            problems += check_inspect(boot, step, got, fields_by_step.get(step.name))
    return problems, fields_by_step


def step_seconds(got):
    """The guest's time for one step (set-up, orlim, dmidecode, checks)."""
    try:
        start, end = (float(t) for t in got["UPTIME"])
        return f"{end - start:5.2f} s"
    except (TypeError, ValueError):
        return "   ?   "


def run_boot(name, boot, orlim, inspect, decoder, kernel_cache, keep=False, show_report=False,
             guest_root=None):
    """Boots once; returns the decoded tokens by step. Raises Failure."""
    started = time.monotonic()
    with tempfile.TemporaryDirectory(prefix=f"orlim-vm-{name}-") as work:
        kernel, initramfs = build_initramfs(work, boot, orlim, inspect, kernel_cache, guest_root)
        built = time.monotonic()
        before = time.time()
        text = run_qemu(work, boot, kernel, initramfs)
        after = time.time()
        if keep:
            shutil.copytree(work, f"{work}-kept")
            print(f"kept {work}-kept")
        steps = parse_results(text)
    window = (int(before) - CLOCK_SLACK, int(after) + 1 + CLOCK_SLACK)
    problems, tokens = check_boot(boot, steps, decoder, window)
    print(f"{name}: initramfs {built - started:.1f} s, boot to power-off "
          f"{after - before:.1f} s, {len(boot.steps)} runs of orlim, firmware {boot.firmware}, "
          f"machine {boot.machine}, kernel {os.path.basename(kernel)}")
    for step in boot.steps:
        result = tokens.get(step.name)
        took = step_seconds(steps.get(step.name))
        if result:
            print(f"  {step.name:20} {took} {result['token']}  uuid {result['uuid']} "
                  f"legacy {result['legacy']} time {result['time_utc']}")
        elif step.card is None and step.name in steps:
            print(f"  {step.name:20} {took} no token: {' '.join(steps[step.name]['ERR'])}")
        if show_report and step.name in steps:
            print(f"  --- orlim-inspect in step {step.name} ---")
            print("".join("  | " + line + "\n" for line in steps[step.name]["REPORT"]), end="")
    if problems:
        raise Failure("\n".join(problems))
    return tokens


def demo(orlim, inspect, decoder, kernel_cache):
    print(f"Booting a virtual machine: SeaBIOS, system UUID {DEMO.uuid},\n"
          f"one e1000 card with address {DEMO.cards[0].mac}. This takes 10-30 s.\n")
    with tempfile.TemporaryDirectory(prefix="orlim-vm-demo-") as work:
        kernel, initramfs = build_initramfs(work, DEMO, orlim, inspect, kernel_cache)
        before = time.time()
        steps = parse_results(run_qemu(work, DEMO, kernel, initramfs))
        after = time.time()
    got = steps["demo"]
    print("In the guest, as root:  orlim -u -v")
    for line in got["OUT"] + got["ERR"]:
        print("  " + line)
    print("The guest's own view:   dmidecode -s system-uuid: " + " ".join(got["DMI"]))
    print("                        cards: " + ", ".join(got["NET"]))
    print("\nIn the guest, as root:  orlim-inspect")
    print("".join("  " + line + "\n" for line in got["REPORT"]), end="")
    if len(got["OUT"]) != 1:
        raise Failure("no token")
    print("\nOn the host, with the token key:  orlim-decode " + got["OUT"][0])
    run = subprocess.run([decoder, got["OUT"][0]], capture_output=True, text=True)
    print("".join("  " + line + "\n" for line in run.stdout.splitlines()), end="")
    if run.returncode != 0:
        raise Failure(run.stderr)
    window = (int(before) - CLOCK_SLACK, int(after) + 1 + CLOCK_SLACK)
    problems, _ = check_boot(DEMO, steps, decoder, window)
    print(f"\nExpected: uuid {DEMO.uuid} and legacy {legacy_of(DEMO.cards[0].mac)} "
          f"(from the card's address) - " + ("match" if not problems else "MISMATCH"))
    if problems:
        raise Failure("\n".join(problems))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--orlim", help="orlim binary to run in the guest (static)")
    parser.add_argument("--inspect", help="orlim-inspect binary to run in the guest (static)")
    parser.add_argument("--decoder", help="orlim-decode binary to check the tokens")
    parser.add_argument("--show-report", action="store_true",
                        help="print orlim-inspect's text report of every step")
    parser.add_argument("--kernel-cache", metavar="DIR",
                        help="where fetch-kernel keeps the guest kernel (reused across runs)")
    parser.add_argument("--demo", action="store_true", help="one boot, shown step by step")
    parser.add_argument("--list", action="store_true", help="list the boots of --arch")
    parser.add_argument("--arch", choices=("x86", "arm64"), default="x86",
                        help="the guests' architecture, which --orlim must be built for")
    parser.add_argument("--guest-root", help="unpacked Debian packages for arm64 guests "
                        "(kernel, busybox-static, dmidecode), as fetch_debs.py makes them")
    parser.add_argument("--keep", action="store_true", help="keep the work directory")
    parser.add_argument("boots", nargs="*", metavar="BOOT")
    args = parser.parse_args()
    sys.stdout.reconfigure(line_buffering=True)  # keep order with stderr in logs
    boots = {name: boot for name, boot in BOOTS.items() if boot.arch == args.arch}
    if args.list:
        print("\n".join(boots))
        return 0
    if not args.orlim or not args.inspect or not args.decoder or not args.kernel_cache:
        parser.error("--orlim, --inspect, --decoder and --kernel-cache are required")
    unknown = [b for b in args.boots if b not in boots]
    if unknown:
        parser.error(f"unknown {args.arch} boot {unknown[0]}; known: {', '.join(boots)}")
    # ctest ends a test with SIGTERM on its timeout: leave through the normal
    # path so that the temporary directory and QEMU go too.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit("terminated"))
    try:
        for path in (args.orlim, args.inspect, args.decoder):
            if not os.access(path, os.X_OK):
                raise Failure(f"{path} is not an executable")
        # What ships to mixed fleets is the static build; the guest holds
        # no C library for it, so a dynamic one must not slip through.
        for path in (args.orlim, args.inspect):
            if not is_static(path):
                raise Failure(f"{path} is not statically linked")
            if elf_machine(path) != ELF_MACHINES[args.arch]:
                raise Failure(f"{path} is not built for {args.arch}")
        if args.demo:
            demo(args.orlim, args.inspect, args.decoder, args.kernel_cache)
            return 0
        started = time.monotonic()
        failed = []
        for name in args.boots or boots:
            try:
                run_boot(name, BOOTS[name], args.orlim, args.inspect, args.decoder,
                         args.kernel_cache, args.keep, args.show_report, args.guest_root)
            except Failure as e:
                print(f"{name}: FAILED\n{e}", file=sys.stderr)
                failed.append(name)
        print(f"total {time.monotonic() - started:.1f} s")
        return 1 if failed else 0
    except Failure as e:
        print(f"FAILED: {e}", file=sys.stderr)
        return 1


if __name__ == "__main__":
    sys.exit(main())
