#!/usr/bin/env python3
"""Compiles the Java block of the README's Java section against the jar, exactly as it stands, for Java 8
(--release 8: the snippet may use only what Java 8 has).

usage: compile_readme_snippet.py README JAVAC JAR WORK_DIR"""
import os
import re
import subprocess
import sys

readme, javac, jar, work = sys.argv[1:5]
with open(readme, encoding="utf-8") as f:
    text = f.read()
section = text[text.index("\n## Java\n"):]
block = re.search(r"```java\n(.*?)```", section, re.S).group(1)
name = re.search(r"public class (\w+)", block).group(1)
os.makedirs(work, exist_ok=True)
source = os.path.join(work, name + ".java")
with open(source, "w", encoding="utf-8") as f:
    f.write(block)
sys.exit(subprocess.run([javac, "-Xlint:all", "-Werror", "--release", "8", "-cp", jar, "-d", work, source]).returncode)
