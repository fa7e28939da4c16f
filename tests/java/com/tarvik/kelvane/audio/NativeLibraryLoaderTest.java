package com.tarvik.kelvane.audio;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.io.File;
import java.io.IOException;
import java.net.URL;
import java.net.URLClassLoader;
import java.nio.ByteBuffer;
import java.nio.ByteOrder;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.attribute.FileTime;
import java.nio.file.attribute.PosixFilePermissions;
import java.util.ArrayList;
import java.util.List;
import java.util.stream.Stream;

import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;

/** Which file the loader loads, where it extracts the jar's copy, and what it refuses. */
class NativeLibraryLoaderTest {
    private static final String VERSION = "1.2.3.4";
    private static final byte[] X86 = image(0x014C, 1);
    private static final byte[] X64 = image(0x8664, 2);
    private static final int ROUNDS = 100;

    @TempDir
    Path temp;

    private final List<String> loaded = new ArrayList<>();

    private NativeLibraryLoader loader(String osName, String osArch, boolean useLibraryPath, String libraryPath)
            throws Exception {
        return loader(osName, osArch, useLibraryPath, libraryPath, VERSION);
    }

    private NativeLibraryLoader loader(String osName, String osArch, boolean useLibraryPath, String libraryPath,
            String version) throws Exception {
        return new NativeLibraryLoader(loaded::add, ResourceOwner.in(jar()), osName, osArch, temp.resolve("cache"),
                useLibraryPath, libraryPath, version, Files.createDirectories(temp.resolve("private")));
    }

    @Test
    void theLoaderTouchesNothingItDidNotMake() throws Exception {
        Path base = temp.resolve("base");
        Path root = NativeLibraryLoader.cacheRoot(base.toString(), "ignored");
        assertEquals(base.resolve("Tessaro/native").toAbsolutePath(), root);
        // The user's own folders beside the loader's directory, and inside it.
        Path notes = Files.createDirectories(base.resolve("MyNotes"));
        Files.write(notes.resolve("todo.txt"), X86);
        Files.createDirectories(root);
        Path foreign = Files.createDirectories(root.resolve("Notes"));
        Files.write(foreign.resolve("x.txt"), X86);
        Path unmarked = Files.createDirectories(root.resolve("0.9-windows-x86"));
        Files.write(unmarked.resolve("Tessaro.dll"), X86);
        Path linked = Files.createSymbolicLink(root.resolve("0.7-windows-x86"), notes);
        // Copies that loaders of other versions made: one holding a file of the user's, one clean.
        Path shared = root.resolve("0.8-windows-x86_64");
        Path clean = root.resolve("0.6-windows-x86_64");
        new NativeLibraryLoader(loaded::add, ResourceOwner.in(jar()), "Windows 11", "amd64", root, false, "", "0.8").load();
        Files.write(shared.resolve("mine.txt"), X86);
        new NativeLibraryLoader(loaded::add, ResourceOwner.in(jar()), "Windows 11", "amd64", root, false, "", "0.6").load();
        Path ours = new NativeLibraryLoader(loaded::add, ResourceOwner.in(jar()), "Windows 11", "amd64", root, false,
                "", VERSION).load().getParent();
        Files.write(ours.resolve("Tessaro.dll-123.tmp"), X86);

        Path file = new NativeLibraryLoader(loaded::add, ResourceOwner.in(jar()), "Windows 11", "amd64", root, false,
                "", VERSION).load();
        assertEquals(ours.resolve("Tessaro.dll"), file);
        assertArrayEquals(X86, Files.readAllBytes(notes.resolve("todo.txt")));
        assertArrayEquals(X86, Files.readAllBytes(foreign.resolve("x.txt")));
        assertArrayEquals(X86, Files.readAllBytes(unmarked.resolve("Tessaro.dll")), "an unmarked directory stays");
        assertTrue(Files.isSymbolicLink(linked), "a link is not followed");
        assertEquals(List.of(shared.resolve("mine.txt")), list(shared), "only what the loader wrote is removed");
        assertFalse(Files.exists(clean), "a copy of another version is removed");
        assertEquals(List.of(ours.resolve(NativeLibraryLoader.MARKER_FILE), file), list(ours), "no temporary files");
    }

    @Test
    void aFailedWriteLeavesNoTemporaryFile() throws Exception {
        Path ours = loader("Windows 11", "amd64", false, "").load().getParent();
        // Something of the user's where the copy goes: the write fails, and only that is left; the library
        // is loaded from a private copy.
        Files.delete(ours.resolve("Tessaro.dll"));
        Files.createDirectories(ours.resolve("Tessaro.dll/kept"));
        Path file = loader("Windows 11", "amd64", false, "").load();
        assertEquals(List.of(ours.resolve(NativeLibraryLoader.MARKER_FILE), ours.resolve("Tessaro.dll")), list(ours));
        assertTrue(Files.isDirectory(ours.resolve("Tessaro.dll/kept")));
        assertTrue(file.startsWith(temp.resolve("private")), file.toString());
        assertEquals(List.of(ours.resolve("Tessaro.dll").toString(), file.toString()), loaded);
    }

    private static List<Path> list(Path directory) throws IOException {
        try (Stream<Path> entries = Files.list(directory)) {
            return entries.sorted().collect(java.util.stream.Collectors.toList());
        }
    }

    @Test
    void theBuildForTheJvmsArchitectureIsExtractedPrivatelyAndLoadedByAbsolutePath() throws Exception {
        Path x64 = loader("Windows 11", "amd64", false, "").load();
        assertEquals(temp.resolve("cache/1.2.3.4-windows-x86_64/Tessaro.dll"), x64);
        assertArrayEquals(X64, Files.readAllBytes(x64));
        assertEquals("rwx------", PosixFilePermissions.toString(Files.getPosixFilePermissions(x64.getParent())));
        Path x86 = loader("Windows 10", "x86", false, "").load();
        assertArrayEquals(X86, Files.readAllBytes(x86));
        assertEquals(List.of(x64.toString(), x86.toString()), loaded);
        assertArrayEquals("Tessaro native library cache; made and removed by the Tessaro loader\n".getBytes("US-ASCII"),
                Files.readAllBytes(x64.resolveSibling(NativeLibraryLoader.MARKER_FILE)));
    }

    @Test
    void otherSystemsAndArchitecturesAreRefusedWithoutExtracting() throws Exception {
        UnsatisfiedLinkError linux = assertThrows(UnsatisfiedLinkError.class, loader("Linux", "amd64", false, "")::load);
        assertTrue(linux.getMessage().contains("\"Linux\"") && linux.getMessage().contains("Windows x64"),
                linux.getMessage());
        UnsatisfiedLinkError arm = assertThrows(UnsatisfiedLinkError.class,
                loader("Windows 11", "aarch64", false, "")::load);
        assertTrue(arm.getMessage().contains("\"aarch64\""), arm.getMessage());
        assertFalse(Files.exists(temp.resolve("cache")));
        assertEquals(List.of(), loaded);
    }

    @Test
    void oneCopyPerVersionIsReusedCheckedAndStaleCopiesAreRemoved() throws Exception {
        Path stale = loader("Windows 11", "amd64", false, "", "1.0.0.0").load().getParent();
        Path file = loader("Windows 11", "amd64", false, "").load();
        assertFalse(Files.exists(stale), "the copy of another version is removed");
        FileTime written = FileTime.fromMillis(1_000_000_000_000L);
        Files.setLastModifiedTime(file, written);
        loader("Windows 11", "amd64", false, "").load();
        assertEquals(written, Files.getLastModifiedTime(file), "reused, not written again");
        Files.write(file, X86);
        loader("Windows 11", "amd64", false, "").load();
        assertArrayEquals(X64, Files.readAllBytes(file), "a damaged copy is replaced");
        assertEquals(List.of(file.resolveSibling(NativeLibraryLoader.MARKER_FILE), file), list(file.getParent()),
                "no temporary files left");
    }

    @Test
    void aCacheThatCannotBeUsedIsLeftAsItIsAndAPrivateCopyIsLoaded() throws Exception {
        Path ours = temp.resolve("cache/1.2.3.4-windows-x86_64");
        Path elsewhere = Files.createDirectories(temp.resolve("elsewhere"));
        // What the version directory is, and why it is not used.
        String[][] cases = {
            {"others may write it", "others may write this directory"},
            {"there without the marker", "not made by this loader"},
            {"a link", "not a plain directory"},
        };
        for (String[] test : cases) {
            Files.createDirectories(ours.getParent());
            if (test[0].equals("a link")) {
                Files.createSymbolicLink(ours, elsewhere);
            } else {
                Files.createDirectories(ours);
                Files.write(ours.resolve("mine.txt"), X86);
                if (test[0].equals("others may write it")) {
                    Files.setPosixFilePermissions(ours, PosixFilePermissions.fromString("rwxrwxrwx"));
                }
            }
            java.io.PrintStream stderr = System.err;
            java.io.ByteArrayOutputStream said = new java.io.ByteArrayOutputStream();
            System.setErr(new java.io.PrintStream(said, true));
            Path file;
            try {
                file = loader("Windows 11", "amd64", false, "").load();
            } finally {
                System.setErr(stderr);
            }
            assertTrue(file.startsWith(temp.resolve("private")), test[0] + ": " + file);
            assertArrayEquals(X64, Files.readAllBytes(file), test[0]);
            assertTrue(said.toString().startsWith("Tessaro: the library cache " + ours + " cannot be used (")
                    && said.toString().contains(test[1]), test[0] + ": " + said);
            if (!test[0].equals("a link")) {
                assertEquals(List.of(ours.resolve("mine.txt")), list(ours), test[0] + ": nothing written into it");
            }
            assertEquals(List.of(), list(elsewhere), "a link is not followed");
            Files.walk(temp.resolve("cache")).sorted(java.util.Comparator.reverseOrder()).forEach(path -> {
                path.toFile().delete();
            });
        }
        // A junction is a directory to Java whose attributes say "other" too (a reparse point).
        assertFalse(NativeLibraryLoader.isPlainDirectory(attributes(true, false, true)), "a junction");
        assertFalse(NativeLibraryLoader.isPlainDirectory(attributes(false, true, false)), "a link");
        assertTrue(NativeLibraryLoader.isPlainDirectory(attributes(true, false, false)), "a directory");
    }

    /** File attributes as the system reports them for a directory, a link or a reparse point. */
    private static java.nio.file.attribute.BasicFileAttributes attributes(boolean directory, boolean link,
            boolean other) {
        return (java.nio.file.attribute.BasicFileAttributes) java.lang.reflect.Proxy.newProxyInstance(
                NativeLibraryLoaderTest.class.getClassLoader(),
                new Class<?>[] {java.nio.file.attribute.BasicFileAttributes.class},
                (proxy, method, arguments) -> method.getName().equals("isDirectory") ? directory
                        : method.getName().equals("isSymbolicLink") ? link : other);
    }

    @Test
    void twoJvmsOfTwoVersionsExtractAtOnce() throws Exception {
        String java = Path.of(System.getProperty("java.home"), "bin", "java").toString();
        // Both start extracting at the same moment, into a fresh cache for each of several rounds: they
        // meet at a barrier before every round, so that each round is a race and not only the first.
        String startAt = Long.toString(System.currentTimeMillis() + 3000);
        Path barrier = Files.createDirectories(temp.resolve("barrier"));
        List<Process> processes = new ArrayList<>();
        for (int i = 0; i < 2; i++) {
            processes.add(new ProcessBuilder(java, "-cp", classPath(), LoadInProcess.class.getName(), jar().toString(),
                    temp.resolve("cache").toString(), startAt, Integer.toString(ROUNDS), i == 0 ? VERSION : "2.0.0.0",
                    barrier.toString(), Integer.toString(i)).redirectErrorStream(true).start());
        }
        for (Process process : processes) {
            String output = new String(process.getInputStream().readAllBytes()).trim();
            assertEquals(0, process.waitFor(), output);
        }
        for (int round = 0; round < ROUNDS; round++) {
            // The one that started later removed the other's copy, or found it in use and left it.
            for (Path directory : list(temp.resolve("cache/" + round))) {
                if (Files.isDirectory(directory)) {
                    assertArrayEquals(X64, Files.readAllBytes(directory.resolve("Tessaro.dll")));
                    assertEquals(2, list(directory).size(), "no temporary files left in round " + round);
                }
            }
        }
    }

    @Test
    void javaLibraryPathIsUsedOnlyOnRequestAndAWrongArchitectureIsNamed() throws Exception {
        Path planted = Files.createDirectories(temp.resolve("planted"));
        Files.write(planted.resolve("Tessaro.dll"), X64);
        String path = temp.resolve("empty") + File.pathSeparator + planted;
        Path byDefault = loader("Windows 11", "amd64", false, path).load();
        assertTrue(byDefault.startsWith(temp.resolve("cache")), "the planted file is ignored: " + byDefault);
        assertEquals(planted.resolve("Tessaro.dll"), loader("Windows 11", "amd64", true, path).load());
        UnsatisfiedLinkError wrong = assertThrows(UnsatisfiedLinkError.class,
                loader("Windows 10", "x86", true, path)::load);
        assertTrue(wrong.getMessage().contains(planted.resolve("Tessaro.dll") + " (found on java.library.path) is the"
                + " 64-bit x64 build but this JVM (os.arch \"x86\") needs the 32-bit x86 build"), wrong.getMessage());
        assertThrows(UnsatisfiedLinkError.class, loader("Windows 11", "amd64", true, temp.toString())::load);
    }

    private static String classPath() throws Exception {
        return Path.of(NativeLibraryLoader.class.getProtectionDomain().getCodeSource().getLocation().toURI())
                + File.pathSeparator
                + Path.of(LoadInProcess.class.getProtectionDomain().getCodeSource().getLocation().toURI());
    }

    /** A directory laid out as the jar: both builds under the native resource root. */
    private Path jar() throws IOException {
        Path root = temp.resolve("jar");
        for (NativeLibraryLoader.Platform platform : NativeLibraryLoader.Platform.values()) {
            Path resource = root.resolve(platform.resource().substring(1));
            Files.createDirectories(resource.getParent());
            Files.write(resource, platform == NativeLibraryLoader.Platform.WINDOWS_X86 ? X86 : X64);
        }
        return root;
    }

    /** The headers of a DLL for a machine type, and some bytes that tell two images apart. */
    private static byte[] image(int machine, int mark) {
        ByteBuffer bytes = ByteBuffer.allocate(0x60).order(ByteOrder.LITTLE_ENDIAN);
        bytes.putShort(0, (short) 0x5A4D).putInt(0x3C, 0x40).putInt(0x40, 0x00004550).putShort(0x44, (short) machine);
        bytes.put(0x5F, (byte) mark);
        return bytes.array();
    }

    /** Extracts as a 64-bit Windows JVM would, in a process of its own, once per round into a fresh cache. */
    static final class LoadInProcess {
        private LoadInProcess() {
        }

        public static void main(String[] args) throws Exception {
            Class<?> owner = ResourceOwner.in(Path.of(args[0]));
            long startAt = Long.parseLong(args[2]);
            while (System.currentTimeMillis() < startAt) {
                Thread.onSpinWait();
            }
            Path barrier = Path.of(args[5]);
            int self = Integer.parseInt(args[6]);
            for (int round = 0; round < Integer.parseInt(args[3]); round++) {
                // Arrives at this round's barrier and waits (bounded) for the other process to arrive too.
                Files.createFile(barrier.resolve(round + "-" + self));
                Path other = barrier.resolve(round + "-" + (1 - self));
                long giveUp = System.currentTimeMillis() + 30000;
                while (!Files.exists(other)) {
                    if (System.currentTimeMillis() > giveUp) {
                        throw new IllegalStateException("the other process never reached round " + round);
                    }
                    Thread.onSpinWait();
                }
                // What is loaded is the jar's copy, whole, when it is loaded (as slow as a real load).
                new NativeLibraryLoader(path -> {
                    try {
                        Thread.sleep(2);
                        if (!java.util.Arrays.equals(X64, Files.readAllBytes(Path.of(path)))) {
                            throw new UnsatisfiedLinkError(path + " changed before it was loaded");
                        }
                    } catch (IOException e) {
                        throw new java.io.UncheckedIOException(e);
                    } catch (InterruptedException e) {
                        throw new IllegalStateException(e);
                    }
                }, owner, "Windows 11", "amd64", Path.of(args[1], Integer.toString(round)), false, "", args[4]).load();
            }
        }
    }

    /** Gives the loader a class whose getResourceAsStream sees a directory holding the resources. */
    static final class ResourceOwner {
        private ResourceOwner() {
        }

        static Class<?> in(Path root) throws IOException, ClassNotFoundException {
            URL classes = ResourceOwner.class.getProtectionDomain().getCodeSource().getLocation();
            URLClassLoader loader = new URLClassLoader(new URL[] {root.toUri().toURL(), classes}, null);
            return Class.forName(ResourceOwner.class.getName(), false, loader);
        }
    }
}
