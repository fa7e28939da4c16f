#!/usr/bin/env python3
"""Checks what ships from one build tree: the jar carries Tessaro.dll for each Windows architecture under
com/tarvik/kelvane/native/windows-<arch>/, each built for that architecture (this tree's copy the same
bytes as bin/Tessaro.dll); every class file in the jar is class-file version 52, so that it loads in
Java 8; the shipped binaries carry no debug information but a debug link to bin/.debug/<name>.debug,
which holds it."""
import argparse
import os
import re
import struct
import subprocess
import sys
import zipfile

MACHINES = {"x86": 0x014C, "x86_64": 0x8664}
NATIVE = "com/tarvik/kelvane/native/windows-%s/Tessaro.dll"
JAVA_8 = 52


def class_version(data):
    """The major version of a class file; None when the bytes are not one."""
    if data[:4] != b"\xca\xfe\xba\xbe":
        return None
    return struct.unpack_from(">H", data, 6)[0]


def pe_machine(data):
    if data[:2] != b"MZ":
        return None
    (pe_offset,) = struct.unpack_from("<I", data, 0x3C)
    if data[pe_offset:pe_offset + 4] != b"PE\0\0":
        return None
    (machine,) = struct.unpack_from("<H", data, pe_offset + 4)
    return machine


def sections(objdump, path):
    dump = subprocess.run([objdump, "-h", path], check=True, capture_output=True, text=True).stdout
    return set(re.findall(r"^\s*\d+\s+(\S+)\s", dump, re.M))


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--jar", required=True)
    ap.add_argument("--bin", required=True)
    ap.add_argument("--arch", required=True, choices=sorted(MACHINES))
    ap.add_argument("--peer-tree", required=True, help="build tree of the other architecture")
    ap.add_argument("--objdump", required=True)
    args = ap.parse_args()
    problems = []

    archs = [args.arch]
    peer = "x86_64" if args.arch == "x86" else "x86"
    if os.path.exists(os.path.join(args.peer_tree, "build.ninja")):
        archs.append(peer)
    else:
        print(f"no {peer} build tree at {args.peer_tree}: the jar is checked for {args.arch} only")
    with zipfile.ZipFile(args.jar) as jar:
        names = set(jar.namelist())
        for arch in archs:
            entry = NATIVE % arch
            if entry not in names:
                problems.append(f"{entry} missing from the jar")
                continue
            data = jar.read(entry)
            machine = pe_machine(data)
            if machine != MACHINES[arch]:
                problems.append(f"{entry} is built for machine {machine!r}, expected 0x{MACHINES[arch]:04X}")
            if arch == args.arch and data != open(os.path.join(args.bin, "Tessaro.dll"), "rb").read():
                problems.append(f"{entry} differs from {args.bin}/Tessaro.dll")
        classes = sorted(n for n in names if n.endswith(".class"))
        if not any(n == "com/tarvik/kelvane/Quillmar.class" for n in classes):
            problems.append("com/tarvik/kelvane/Quillmar.class missing from the jar")
        for name in classes:
            version = class_version(jar.read(name))
            if version != JAVA_8:
                problems.append(f"{name} is class-file version {version}, not {JAVA_8} (Java 8)")
        print(f"{len(classes)} class files read")
        stray = sorted(n for n in names if n.endswith(".dll") and n not in {NATIVE % a for a in MACHINES})
        if stray:
            problems.append(f"other DLLs in the jar: {stray}")

    for name in ("Tessaro.dll", "quillmar.exe"):
        path = os.path.join(args.bin, name)
        found = sections(args.objdump, path)
        debug = sorted(s for s in found if s.startswith(".debug"))
        if debug:
            problems.append(f"{name} still carries {debug}")
        if ".gnu_debuglink" not in found:
            problems.append(f"{name} has no debug link")
        debug_file = os.path.join(args.bin, ".debug", name + ".debug")
        if not os.path.exists(debug_file):
            problems.append(f"{debug_file} missing")
        elif ".debug_info" not in sections(args.objdump, debug_file):
            problems.append(f"{debug_file} holds no .debug_info")
        dump = subprocess.run([args.objdump, "-s", "-j", ".gnu_debuglink", path], capture_output=True,
                              text=True).stdout
        hex_words = re.findall(r"^ [0-9a-f]+ ((?:[0-9a-f]{2,8} )+)", dump, re.M)
        link = bytes.fromhex("".join("".join(words.split()) for words in hex_words))
        linked = link.split(b"\0", 1)[0].decode("ascii", "replace")
        if linked != name + ".debug":
            problems.append(f"{name}'s debug link names {linked!r}, not {name}.debug")

    for p in problems:
        print(p)
    print(f"{len(problems)} problems in {args.jar} and {args.bin}")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
