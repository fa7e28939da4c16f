package com.tarvik.kelvane.audio;

import static com.tarvik.kelvane.testing.Check.equal;
import static com.tarvik.kelvane.testing.Check.fails;
import static com.tarvik.kelvane.testing.Check.isTrue;

import java.io.IOException;
import java.net.URL;
import java.net.URLClassLoader;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.attribute.PosixFilePermissions;
import java.util.ArrayList;
import java.util.List;

/** Where the loader finds the library: java.library.path first, then the copy in the jar. */
public class NativeLibraryLoaderTest {
    private final List<String> loaded = new ArrayList<>();

    private NativeLibraryLoader.Linker linker(boolean onLibraryPath) {
        return new NativeLibraryLoader.Linker() {
            @Override
            public void loadLibrary(String name) {
                if (!onLibraryPath) {
                    throw new UnsatisfiedLinkError("no " + name + " in java.library.path");
                }
                loaded.add("loadLibrary " + name);
            }

            @Override
            public void load(String absolutePath) {
                loaded.add("load " + absolutePath);
            }
        };
    }

    public void testLibraryOnThePathIsLoadedByNameAndNothingIsExtracted() throws Exception {
        Path temp = Files.createTempDirectory("loader-root");
        NativeLibraryLoader loader = new NativeLibraryLoader(linker(true), NativeLibraryLoaderTest.class, temp);
        loader.load();
        loader.load();
        equal(List.of("loadLibrary Tessaro"), loaded, "loaded once, by name");
        equal(null, loader.extractedPath(), "nothing extracted");
        try (var entries = Files.list(temp)) {
            equal(0L, entries.count(), "temporary root untouched");
        }
    }

    public void testTheJarsCopyIsExtractedToAPrivateDirectoryAndLoaded() throws Exception {
        byte[] dll = {'M', 'Z', 1, 2, 3};
        Path temp = Files.createTempDirectory("loader-root");
        NativeLibraryLoader loader = new NativeLibraryLoader(linker(false), ResourceOwner.with(dll), temp);
        loader.load();
        Path file = loader.extractedPath();
        isTrue(file != null && file.startsWith(temp), "extracted under the temporary root: " + file);
        equal("Tessaro.dll", file.getFileName().toString(), "file name");
        equal(List.of("load " + file.toAbsolutePath()), loaded, "loaded by absolute path");
        isTrue(java.util.Arrays.equals(dll, Files.readAllBytes(file)), "same bytes");
        equal("rwx------", PosixFilePermissions.toString(Files.getPosixFilePermissions(file.getParent())),
                "directory private to the user");
        loader.load();
        equal(1, loaded.size(), "loaded once");
    }

    public void testNeitherOnThePathNorInTheJarExplainsBoth() throws Exception {
        NativeLibraryLoader loader = new NativeLibraryLoader(linker(false), ResourceOwner.with(null),
                Files.createTempDirectory("loader-root"));
        UnsatisfiedLinkError error = fails(UnsatisfiedLinkError.class, loader::load);
        isTrue(error.getMessage().contains("java.library.path"), error.getMessage());
        isTrue(error.getMessage().contains(NativeLibraryLoader.RESOURCE), error.getMessage());
        isTrue(loaded.isEmpty(), "nothing loaded");
    }

    /** Gives the loader a class whose getResourceAsStream sees a directory holding the resource. */
    static final class ResourceOwner {
        private ResourceOwner() {
        }

        static Class<?> with(byte[] dll) throws IOException, ClassNotFoundException {
            Path root = Files.createTempDirectory("loader-jar");
            if (dll != null) {
                Path resource = root.resolve(NativeLibraryLoader.RESOURCE.substring(1));
                Files.createDirectories(resource.getParent());
                Files.write(resource, dll);
            }
            // A separate copy of this test class, defined by a loader that also sees the directory.
            Path classes = Path.of(ResourceOwner.class.getProtectionDomain().getCodeSource().getLocation().getPath());
            URLClassLoader loader = new URLClassLoader(new URL[] {root.toUri().toURL(), classes.toUri().toURL()}, null);
            return Class.forName(ResourceOwner.class.getName(), false, loader);
        }
    }
}
