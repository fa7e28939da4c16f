#!/usr/bin/env python3
"""Every result code that the library's sources name is in the one result-code table, under that name.

Usage: result_codes_complete.py SOURCE_ROOT
Scans binding/, graph/, stdax/, filters/ and support/ for the symbolic result codes they use (E_…, S_…,
VFW_…, CLASS_E_…, STG_E_…, REGDB_E_…, CO_E_…, HRESULT_FROM_WIN32(ERROR_…)) and fails, naming each, when
one is missing from tools/result_codes/result_codes.tsv."""
import pathlib
import re
import sys

root = pathlib.Path(sys.argv[1])
table = {}
for line in (root / "tools/result_codes/result_codes.tsv").read_text(encoding="utf-8").splitlines():
    if line and not line.startswith("#"):
        code, name, text = line.split("\t")
        table[name] = code

pattern = re.compile(r"\b(?:HRESULT_FROM_WIN32\(\s*ERROR_[A-Z_]+\s*\)|(?:E|S|VFW_E|VFW_S|CLASS_E|STG_E|REGDB_E|CO_E)_[A-Z0-9_]+)")
used = {}
for directory in ("binding", "graph", "stdax", "filters", "support"):
    for path in sorted((root / directory).rglob("*")):
        if path.suffix in (".cpp", ".h"):
            for match in pattern.finditer(path.read_text(encoding="utf-8", errors="replace")):
                name = re.sub(r"\s+", "", match.group(0))
                used.setdefault(name, str(path.relative_to(root)))

missing = sorted(name for name in used if name not in table)
for name in missing:
    print(f"{name} (used in {used[name]}) is not in tools/result_codes/result_codes.tsv")
print(f"{len(used)} codes used by the library, {len(table)} in the table, {len(missing)} missing")
sys.exit(1 if missing else 0)
