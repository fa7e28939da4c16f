#!/usr/bin/env python3
"""Checks that Tessaro.dll exports exactly JNI_OnLoad and the native methods that javac -h generates
for the Java class, under their plain JNI names; that it is built for the expected architecture; and
that it imports system DLLs only (the runtime is linked in statically)."""
import argparse
import os
import re
import subprocess
import sys


# DLLs every Windows installation has.
SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "advapi32.dll", "ole32.dll", "oleaut32.dll", "winmm.dll",
               "version.dll", "msvcrt.dll", "shell32.dll", "msacm32.dll", "uuid.dll", "quartz.dll"}


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--dll", required=True)
    ap.add_argument("--java", required=True)
    ap.add_argument("--objdump", required=True)
    ap.add_argument("--javac", required=True)
    ap.add_argument("--binding-java", help="the Java package's binding class, whose own natives are exported too")
    ap.add_argument("--work", required=True)
    ap.add_argument("--format", required=True, help="objdump's file format, pei-i386 or pei-x86-64")
    args = ap.parse_args()

    os.makedirs(args.work, exist_ok=True)
    subprocess.run([args.javac, "-h", args.work, "-d", os.path.join(args.work, "classes"), args.java], check=True)
    header = open(os.path.join(args.work, "com_tarvik_kelvane_Quillmar.h"), encoding="utf-8").read()
    declared = set(re.findall(r"JNIEXPORT\s+\w+\s+JNICALL\s+(Java_\w+)\s*\(", header))
    expected = declared | {"JNI_OnLoad"}
    if args.binding_java:
        source_root = os.path.dirname(os.path.dirname(os.path.dirname(os.path.dirname(os.path.dirname(
            os.path.abspath(args.binding_java))))))
        subprocess.run([args.javac, "-h", args.work, "-d", os.path.join(args.work, "binding-classes"),
                        "-sourcepath", source_root, args.binding_java], check=True)
        binding = open(os.path.join(args.work, "com_tarvik_kelvane_audio_QuillmarBinding.h"), encoding="utf-8").read()
        expected |= set(re.findall(r"JNIEXPORT\s+\w+\s+JNICALL\s+(Java_\w+)\s*\(", binding))

    dump = subprocess.run([args.objdump, "-p", args.dll], check=True, capture_output=True, text=True).stdout
    table = dump.split("[Ordinal/Name Pointer] Table", 1)[-1] if "[Ordinal/Name Pointer] Table" in dump else dump
    exported = set(re.findall(r"^\s*\[\s*\d+\]\s+(\S+)\s*$", table, re.M))

    ok = True
    if len(declared) != 10:
        print(f"expected 10 native methods in the Java class, javac declared {len(declared)}")
        ok = False
    for name in sorted(expected - exported):
        print(f"missing export: {name}")
        ok = False
    for name in sorted(exported - expected):
        print(f"unexpected export: {name}")
        ok = False
    decorated = [n for n in exported if "@" in n or n.startswith("_")]
    if decorated:
        print(f"decorated export names: {decorated}")
        ok = False
    file_format = re.search(r"file format (\S+)", dump)
    if not file_format or file_format.group(1) != args.format:
        print(f"file format {file_format.group(1) if file_format else '?'}, expected {args.format}")
        ok = False
    imported = sorted(set(n.lower() for n in re.findall(r"^\s*DLL Name: (\S+)\s*$", dump, re.M)))
    foreign = [n for n in imported if n not in SYSTEM_DLLS]
    if foreign:
        print(f"imports of DLLs that are not part of Windows: {foreign}")
        ok = False
    print(f"imports: {', '.join(imported)}")
    print(f"{len(exported)} exports checked against {len(declared)} natives of {os.path.basename(args.java)}")
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
