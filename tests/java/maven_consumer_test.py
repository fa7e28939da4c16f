#!/usr/bin/env python3
"""The Maven artifact set as a Java user meets it: the repository layout with its checksums, the POM, sources
and javadoc jars that hold every public class, and a consumer project (maven_consumer/) built offline by
Debian's Maven, with Debian's plugins, against the layout as a file repository (checksums enforced); its
program runs on this Linux JDK and reaches the loader's "not supported here" UnsatisfiedLinkError.

usage: maven_consumer_test.py MVN JAVAP REPOSITORY GROUP ARTIFACT VERSION CONSUMER_DIR WORK_DIR
"""
import hashlib
import os
import re
import shutil
import subprocess
import sys
import unittest
import xml.etree.ElementTree as ET
import zipfile

MVN, JAVAP, REPOSITORY, GROUP, ARTIFACT, VERSION, CONSUMER, WORK = sys.argv[1:9]
ARTIFACT_DIR = os.path.join(REPOSITORY, *GROUP.split("."), ARTIFACT)
BASE = os.path.join(ARTIFACT_DIR, VERSION, f"{ARTIFACT}-{VERSION}")
POM_NS = {"m": "http://maven.apache.org/POM/4.0.0"}
DEBIAN_REPOSITORY = "/usr/share/maven-repo"


def public_classes(jar):
    """The jar's public classes (nested ones as Outer.Inner), as javap reads the class files."""
    with zipfile.ZipFile(jar) as z:
        names = [n[:-6].replace("/", ".") for n in z.namelist() if n.endswith(".class")]
    out = subprocess.run([JAVAP, "-cp", jar, *names], capture_output=True, text=True, check=True).stdout
    found = re.findall(r"^public (?:[a-z]+ )*(?:class|interface|enum|@interface) ([\w.$]+)", out, re.M)
    public = set(found)
    # A public nested class of a class that is not public is no part of the API.
    return {n.replace("$", ".") for n in public if all(n[:i] in public for i, c in enumerate(n) if c == "$")}


class Layout(unittest.TestCase):
    def test_every_file_carries_checksums_that_match(self):
        files = [BASE + ".jar", BASE + ".pom", BASE + "-sources.jar", BASE + "-javadoc.jar",
                 os.path.join(ARTIFACT_DIR, "maven-metadata.xml")]
        for path in files:
            with open(path, "rb") as f:
                data = f.read()
            for algorithm in ("md5", "sha1", "sha256", "sha512"):
                with self.subTest(file=os.path.basename(path), algorithm=algorithm), open(f"{path}.{algorithm}") as f:
                    self.assertEqual(f.read().strip(), hashlib.new(algorithm, data).hexdigest())

    def test_pom_and_metadata_name_the_version_of_the_manifest(self):
        pom = ET.parse(BASE + ".pom").getroot()
        self.assertEqual([pom.findtext(f"m:{t}", namespaces=POM_NS) for t in ("groupId", "artifactId", "version")],
                         [GROUP, ARTIFACT, VERSION])
        self.assertTrue(pom.findtext("m:name", namespaces=POM_NS) and pom.findtext("m:description", namespaces=POM_NS))
        self.assertTrue(pom.findtext("m:licenses/m:license/m:name", namespaces=POM_NS))
        self.assertIsNone(pom.find("m:dependencies", POM_NS), "no runtime dependencies")
        self.assertEqual(pom.findtext("m:properties/m:maven.compiler.release", namespaces=POM_NS), "8")
        metadata = ET.parse(os.path.join(ARTIFACT_DIR, "maven-metadata.xml")).getroot()
        self.assertEqual(metadata.findtext("versioning/release"), VERSION)
        self.assertEqual([v.text for v in metadata.iterfind("versioning/versions/version")], [VERSION])
        with zipfile.ZipFile(BASE + ".jar") as z:
            manifest = z.read("META-INF/MANIFEST.MF").decode()
            self.assertIn(f"Implementation-Version: {VERSION}\r\n", manifest)
            for arch in ("x86", "x86_64"):
                self.assertIn(f"com/tarvik/kelvane/native/windows-{arch}/Tessaro.dll", z.namelist())

    def test_sources_and_javadoc_hold_every_public_class(self):
        classes = public_classes(BASE + ".jar")
        self.assertIn("com.tarvik.kelvane.audio.AudioLibrary", classes)
        with zipfile.ZipFile(BASE + "-sources.jar") as z:
            sources = set(z.namelist())
        with zipfile.ZipFile(BASE + "-javadoc.jar") as z:
            pages = set(z.namelist())
        for name in sorted(classes):
            parts = name.split(".")
            top = next(i for i, p in enumerate(parts) if p[:1].isupper())
            directory, outer, page = "/".join(parts[:top]), parts[top], ".".join(parts[top:])
            with self.subTest(name=name):
                self.assertIn(f"{directory}/{outer}.java", sources)
                self.assertIn(f"{directory}/{page}.html", pages)


class Consumer(unittest.TestCase):
    def test_offline_maven_build_resolves_compiles_and_runs_to_the_loader_refusal(self):
        project = os.path.join(WORK, "consumer")
        shutil.rmtree(WORK, ignore_errors=True)
        shutil.copytree(CONSUMER, project)
        settings = os.path.join(WORK, "settings.xml")
        with open(settings, "w") as f:
            f.write(f"""<settings>
  <localRepository>{os.path.join(WORK, "local-repository")}</localRepository>
  <offline>true</offline>
  <mirrors><mirror><id>debian</id><mirrorOf>central</mirrorOf><url>file://{DEBIAN_REPOSITORY}</url></mirror></mirrors>
  <profiles><profile><id>tessaro</id><repositories><repository><id>tessaro</id><url>file://{REPOSITORY}</url>
    <releases><checksumPolicy>fail</checksumPolicy></releases></repository></repositories></profile></profiles>
  <activeProfiles><activeProfile>tessaro</activeProfile></activeProfiles>
</settings>
""")
        # Offline, Maven reaches file repositories only when file: is named an offline protocol.
        proc = subprocess.run([MVN, "-B", "-q", "-o", "-s", settings, "-Daether.offline.protocols=file",
                               f"-Dtessaro.version={VERSION}", "compile",
                               "org.codehaus.mojo:exec-maven-plugin:3.1.0:java"],
                              cwd=project, capture_output=True, text=True, timeout=600)
        self.assertEqual(proc.returncode, 0, proc.stdout + proc.stderr)
        self.assertIn(f"package version {VERSION}\n", proc.stdout)
        self.assertIn('UnsatisfiedLinkError: Tessaro runs on Windows x86 (os.arch x86) and Windows x64 '
                      '(os.arch amd64) only; this JVM reports os.name "Linux"', proc.stdout)
        resolved = os.path.join(WORK, "local-repository", *GROUP.split("."), ARTIFACT, VERSION, f"{ARTIFACT}-{VERSION}.jar")
        with open(resolved, "rb") as a, open(BASE + ".jar", "rb") as b:
            self.assertEqual(a.read(), b.read())


if __name__ == "__main__":
    result = unittest.main(argv=[sys.argv[0], "-v"], exit=False).result
    failed = len(result.failures) + len(result.errors)
    print(f"{result.testsRun - failed} passed, {failed} failed")
    sys.exit(1 if failed else 0)
