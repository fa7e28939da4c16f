package com.tarvik.kelvane.audio;

import java.io.IOException;
import java.io.InputStream;
import java.nio.file.FileSystems;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.StandardCopyOption;
import java.nio.file.attribute.PosixFilePermissions;

/**
 * Loads the native library Tessaro.dll once per process: from {@code java.library.path} when it is
 * there, otherwise the copy packed in this jar, extracted to a temporary directory that only the
 * current user can read, and removed when the virtual machine exits.
 */
public final class NativeLibraryLoader {
    /** The library's name for {@link System#loadLibrary(String)}. */
    public static final String LIBRARY_NAME = "Tessaro";
    /** Where the jar holds the 32-bit Windows build of the library. */
    public static final String RESOURCE = "/com/tarvik/kelvane/native/windows-x86/Tessaro.dll";

    /** How a library gets into the virtual machine; replaced in tests. */
    interface Linker {
        void loadLibrary(String name);

        void load(String absolutePath);
    }

    private static final NativeLibraryLoader SYSTEM = new NativeLibraryLoader(new Linker() {
        @Override
        public void loadLibrary(String name) {
            System.loadLibrary(name);
        }

        @Override
        public void load(String absolutePath) {
            System.load(absolutePath);
        }
    }, NativeLibraryLoader.class, null);

    private final Linker linker;
    private final Class<?> resourceOwner;
    private final Path temporaryRoot;
    private Path loadedFrom;
    private boolean loaded;

    NativeLibraryLoader(Linker linker, Class<?> resourceOwner, Path temporaryRoot) {
        this.linker = linker;
        this.resourceOwner = resourceOwner;
        this.temporaryRoot = temporaryRoot;
    }

    /**
     * Loads the library unless it is loaded already.
     *
     * @throws UnsatisfiedLinkError when neither java.library.path nor the jar gives a loadable library
     */
    public static void ensureLoaded() {
        SYSTEM.load();
    }

    /** The extracted file the library was loaded from; null when it came from java.library.path. */
    synchronized Path extractedPath() {
        return loadedFrom;
    }

    synchronized void load() {
        if (loaded) {
            return;
        }
        try {
            linker.loadLibrary(LIBRARY_NAME);
            loaded = true;
            return;
        } catch (UnsatisfiedLinkError notOnPath) {
            Path file;
            try {
                file = extract();
            } catch (IOException e) {
                UnsatisfiedLinkError error = new UnsatisfiedLinkError(LIBRARY_NAME + " is not on java.library.path ("
                        + notOnPath.getMessage() + ") and could not be extracted from the jar: " + e.getMessage());
                error.initCause(e);
                throw error;
            }
            linker.load(file.toAbsolutePath().toString());
            loadedFrom = file;
            loaded = true;
        }
    }

    private Path extract() throws IOException {
        try (InputStream in = resourceOwner.getResourceAsStream(RESOURCE)) {
            if (in == null) {
                throw new IOException("the jar has no " + RESOURCE);
            }
            Path directory = createPrivateDirectory();
            Path file = directory.resolve(LIBRARY_NAME + ".dll");
            Files.copy(in, file, StandardCopyOption.REPLACE_EXISTING);
            file.toFile().deleteOnExit();
            directory.toFile().deleteOnExit();
            return file;
        }
    }

    private Path createPrivateDirectory() throws IOException {
        boolean posix = FileSystems.getDefault().supportedFileAttributeViews().contains("posix");
        if (posix) {
            var ownerOnly = PosixFilePermissions.asFileAttribute(PosixFilePermissions.fromString("rwx------"));
            return temporaryRoot == null ? Files.createTempDirectory("tessaro-", ownerOnly)
                    : Files.createTempDirectory(temporaryRoot, "tessaro-", ownerOnly);
        }
        // Elsewhere a new directory under the user's temporary directory is already private to the user.
        return temporaryRoot == null ? Files.createTempDirectory("tessaro-")
                : Files.createTempDirectory(temporaryRoot, "tessaro-");
    }
}
