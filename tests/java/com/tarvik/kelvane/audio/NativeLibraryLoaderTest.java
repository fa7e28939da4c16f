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
        return new NativeLibraryLoader(loaded::add, ResourceOwner.in(jar()), osName, osArch, temp.resolve("cache"),
                useLibraryPath, libraryPath, VERSION);
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
        Path stale = Files.createDirectories(temp.resolve("cache/1.0.0.0-windows-x86_64"));
        Files.write(stale.resolve("Tessaro.dll"), X86);
        Path file = loader("Windows 11", "amd64", false, "").load();
        assertFalse(Files.exists(stale), "the copy of another version is removed");
        FileTime written = FileTime.fromMillis(1_000_000_000_000L);
        Files.setLastModifiedTime(file, written);
        loader("Windows 11", "amd64", false, "").load();
        assertEquals(written, Files.getLastModifiedTime(file), "reused, not written again");
        Files.write(file, X86);
        loader("Windows 11", "amd64", false, "").load();
        assertArrayEquals(X64, Files.readAllBytes(file), "a damaged copy is replaced");
        try (Stream<Path> left = Files.list(file.getParent())) {
            assertEquals(List.of(file), left.toList(), "no temporary files left");
        }
    }

    @Test
    void aCacheThatOthersMayWriteIsRefused() throws Exception {
        Path shared = Files.createDirectories(temp.resolve("cache/1.2.3.4-windows-x86_64"));
        Files.setPosixFilePermissions(shared, PosixFilePermissions.fromString("rwxrwxrwx"));
        UnsatisfiedLinkError error = assertThrows(UnsatisfiedLinkError.class,
                loader("Windows 11", "amd64", false, "")::load);
        assertTrue(error.getMessage().contains("others may write this directory"), error.getMessage());
        assertEquals(List.of(), loaded);
    }

    @Test
    void twoJvmsExtractAtOnce() throws Exception {
        String java = Path.of(System.getProperty("java.home"), "bin", "java").toString();
        // Both start extracting at the same moment, into a fresh cache for each of several rounds: they
        // meet at a barrier before every round, so that each round is a race and not only the first.
        String startAt = Long.toString(System.currentTimeMillis() + 3000);
        Path barrier = Files.createDirectories(temp.resolve("barrier"));
        List<Process> processes = new ArrayList<>();
        for (int i = 0; i < 2; i++) {
            processes.add(new ProcessBuilder(java, "-cp", classPath(), LoadInProcess.class.getName(), jar().toString(),
                    temp.resolve("cache").toString(), startAt, Integer.toString(ROUNDS), barrier.toString(),
                    Integer.toString(i)).redirectErrorStream(true).start());
        }
        for (Process process : processes) {
            String output = new String(process.getInputStream().readAllBytes()).trim();
            assertEquals(0, process.waitFor(), output);
        }
        for (int round = 0; round < ROUNDS; round++) {
            Path directory = temp.resolve("cache/" + round + "/1.2.3.4-windows-x86_64");
            assertArrayEquals(X64, Files.readAllBytes(directory.resolve("Tessaro.dll")));
            try (Stream<Path> left = Files.list(directory)) {
                assertEquals(1, left.count(), "no temporary files left in round " + round);
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
            Path barrier = Path.of(args[4]);
            int self = Integer.parseInt(args[5]);
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
                new NativeLibraryLoader(path -> { }, owner, "Windows 11", "amd64", Path.of(args[1], Integer.toString(round)),
                        false, "", VERSION).load();
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
