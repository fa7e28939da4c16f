package com.tarvik.kelvane.audio;

import java.io.File;
import java.io.IOException;
import java.io.InputStream;
import java.io.UncheckedIOException;
import java.nio.ByteBuffer;
import java.nio.ByteOrder;
import java.nio.channels.FileChannel;
import java.nio.file.AtomicMoveNotSupportedException;
import java.nio.file.DirectoryStream;
import java.nio.file.FileSystemException;
import java.nio.file.Files;
import java.nio.file.LinkOption;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.nio.file.StandardCopyOption;
import java.nio.file.StandardOpenOption;
import java.nio.file.attribute.BasicFileAttributes;
import java.nio.file.attribute.PosixFilePermission;
import java.nio.file.attribute.PosixFilePermissions;
import java.security.MessageDigest;
import java.security.NoSuchAlgorithmException;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.Locale;
import java.util.Optional;
import java.util.Set;

/**
 * Loads the native library Tessaro.dll once per process, always by absolute path, and tells which file it
 * loaded ({@link #loadedFile()}).
 *
 * <p>By default it loads the jar's own copy for the JVM's architecture: the 32-bit DLL
 * ({@value #RESOURCE_ROOT}windows-x86/Tessaro.dll) for an x86 JVM, the 64-bit one
 * ({@value #RESOURCE_ROOT}windows-x86_64/Tessaro.dll) for an x64 JVM. The copy is extracted once per
 * library version into a per-user cache directory ({@code BASE\Tessaro\native\VERSION-ARCH}, where BASE is
 * {@code %LOCALAPPDATA%} or the directory named by the system property {@value #CACHE_DIRECTORY_PROPERTY}),
 * written atomically so that several JVMs may start at once, compared with the jar's bytes before every
 * load (and rewritten when it differs).
 *
 * <p>The loader touches nothing it did not make. It creates the version directory it uses and marks it with
 * a file {@value #MARKER_FILE}; a directory of that name that exists without the marker is not used.
 * Removing the copies of other versions, it takes only directories of {@code BASE\Tessaro\native} that
 * carry its marker, removes from them only the files it writes there (Tessaro.dll, the marker, its temporary
 * files), and leaves such a directory in place when anything else is in it. It never follows a link or any
 * other reparse point (a junction is a plain directory to Java: it is told by its attributes and by its
 * real path). A copy that a running program has loaded is left for a later start.
 *
 * <p>When the cache cannot be used (a directory made by another user, for example by a run as
 * administrator, one that others may write, a version directory it did not make, a link, a disk error), the
 * loader says so once on the standard error stream and loads a private copy instead, from a new directory
 * of its own under {@code java.io.tmpdir} that is removed at exit where the system allows (Windows keeps a
 * loaded DLL until the process has ended).
 *
 * <p>The directories {@code Tessaro}, {@code native} and the version directory must be writable by the
 * user only. On POSIX file systems they are created rwx------ and are refused when group or others may
 * write them or another user owns them. On Windows they are refused when another user owns them (compared
 * with a file the loader creates in them); their access control list is not inspected: under
 * {@code %LOCALAPPDATA%} they inherit the user's private one; a directory named by
 * {@value #CACHE_DIRECTORY_PROPERTY} must be one that only the user can write.
 *
 * <p>Only when the system property {@value #USE_LIBRARY_PATH_PROPERTY} is "true" is Tessaro.dll taken from
 * the first directory of {@code java.library.path} that has one. That search includes the current directory
 * and {@code PATH} on Windows, so a file planted there would run inside the application: use it only where
 * the directories are trusted. A DLL found there whose architecture does not match the JVM's is refused with
 * an {@link UnsatisfiedLinkError} that says so.
 *
 * <p>On a system other than Windows, or an architecture other than x86 and x64, loading throws an
 * {@link UnsatisfiedLinkError} that names what was found and what is supported, and extracts nothing.
 */
public final class NativeLibraryLoader {
    /** The library's file name. */
    public static final String LIBRARY_FILE = "Tessaro.dll";
    /** Where the jar holds the builds of the library, one directory per platform. */
    public static final String RESOURCE_ROOT = "/com/tarvik/kelvane/native/";
    /** Set to "true" to load Tessaro.dll from java.library.path instead of the jar's copy. */
    public static final String USE_LIBRARY_PATH_PROPERTY = "com.tarvik.kelvane.audio.useLibraryPath";
    /** Names the directory under which the jar's copy is extracted, instead of the per-user default. */
    public static final String CACHE_DIRECTORY_PROPERTY = "com.tarvik.kelvane.audio.cacheDirectory";
    /** The file that marks a version directory as made by this loader. */
    static final String MARKER_FILE = ".tessaro-native-cache";
    private static final byte[] MARKER = "Tessaro native library cache; made and removed by the Tessaro loader\n"
            .getBytes(java.nio.charset.StandardCharsets.US_ASCII);
    private static final String TEMPORARY_PREFIX = LIBRARY_FILE + "-";
    private static final String TEMPORARY_SUFFIX = ".tmp";
    /** Serialises extraction and removal within this JVM; a lock file does it between JVMs. */
    private static final Object CACHE_LOCK = new Object();
    private static final String LOCK_FILE = ".lock";

    /** The platforms the library is built for. */
    enum Platform {
        WINDOWS_X86("windows-x86", 0x014C, "32-bit x86"),
        WINDOWS_X86_64("windows-x86_64", 0x8664, "64-bit x64");

        final String directory;
        final int machine;
        final String description;

        Platform(String directory, int machine, String description) {
            this.directory = directory;
            this.machine = machine;
            this.description = description;
        }

        String resource() {
            return RESOURCE_ROOT + directory + "/" + LIBRARY_FILE;
        }

        static Platform of(String osName, String osArch) {
            String arch = osArch == null ? "" : osArch.toLowerCase(Locale.ROOT);
            if (osName != null && osName.startsWith("Windows")) {
                switch (arch) {
                    case "x86":
                    case "i386":
                    case "i486":
                    case "i586":
                    case "i686":
                        return WINDOWS_X86;
                    case "amd64":
                    case "x86_64":
                    case "x64":
                        return WINDOWS_X86_64;
                    default:
                        break;
                }
            }
            throw new UnsatisfiedLinkError("Tessaro runs on Windows x86 (os.arch x86) and Windows x64 (os.arch amd64)"
                    + " only; this JVM reports os.name \"" + osName + "\" and os.arch \"" + osArch + "\"");
        }
    }

    /** How a library gets into the virtual machine; replaced in tests. */
    interface Linker {
        void load(String absolutePath);
    }

    private static final NativeLibraryLoader SYSTEM = new NativeLibraryLoader(System::load,
            NativeLibraryLoader.class, System.getProperty("os.name"), System.getProperty("os.arch"),
            defaultCacheRoot(), Boolean.getBoolean(USE_LIBRARY_PATH_PROPERTY),
            System.getProperty("java.library.path", ""), AudioLibrary.packageVersion());

    private final Linker linker;
    private final Class<?> resourceOwner;
    private final String osName;
    private final String osArch;
    private final Path cacheRoot;
    private final boolean useLibraryPath;
    private final String libraryPath;
    private final String version;
    private final Path privateBase;
    private Path loadedFrom;

    NativeLibraryLoader(Linker linker, Class<?> resourceOwner, String osName, String osArch, Path cacheRoot,
            boolean useLibraryPath, String libraryPath, String version) {
        this(linker, resourceOwner, osName, osArch, cacheRoot, useLibraryPath, libraryPath, version,
                Paths.get(System.getProperty("java.io.tmpdir")));
    }

    /** As above, with the directory under which a private copy is made when the cache cannot be used. */
    NativeLibraryLoader(Linker linker, Class<?> resourceOwner, String osName, String osArch, Path cacheRoot,
            boolean useLibraryPath, String libraryPath, String version, Path privateBase) {
        this.privateBase = privateBase;
        this.linker = linker;
        this.resourceOwner = resourceOwner;
        this.osName = osName;
        this.osArch = osArch;
        this.cacheRoot = cacheRoot;
        this.useLibraryPath = useLibraryPath;
        this.libraryPath = libraryPath;
        this.version = version;
    }

    /**
     * Loads the library unless it is loaded already.
     *
     * @return the absolute path of the file loaded
     * @throws UnsatisfiedLinkError when this system is not supported or no loadable library was found; the
     *                              message says why and where it looked
     */
    public static Path ensureLoaded() {
        return SYSTEM.load();
    }

    /**
     * The file the library was loaded from.
     *
     * @return its absolute path; empty before {@link #ensureLoaded()} succeeded
     */
    public static Optional<Path> loadedFile() {
        return Optional.ofNullable(SYSTEM.loaded());
    }

    synchronized Path loaded() {
        return loadedFrom;
    }

    synchronized Path load() {
        if (loadedFrom != null) {
            return loadedFrom;
        }
        Platform platform = Platform.of(osName, osArch);
        Path file;
        if (useLibraryPath) {
            file = findOnLibraryPath(platform);
            linker.load(file.toString());
        } else {
            file = extract(platform);
        }
        loadedFrom = file;
        return file;
    }

    // ---- java.library.path, on request only --------------------------------------------------------------
    private Path findOnLibraryPath(Platform platform) {
        for (String directory : libraryPath.split(File.pathSeparator)) {
            if (directory.isEmpty()) {
                continue;
            }
            Path candidate = Paths.get(directory).toAbsolutePath().resolve(LIBRARY_FILE);
            if (Files.isRegularFile(candidate)) {
                int machine;
                try {
                    machine = machineOf(Files.readAllBytes(candidate));
                } catch (IOException e) {
                    throw linkError(candidate + " (found on java.library.path) cannot be read: " + e, e);
                }
                if (machine != platform.machine) {
                    throw new UnsatisfiedLinkError(candidate + " (found on java.library.path) is " + describe(machine)
                            + " but this JVM (os.arch \"" + osArch + "\") needs the " + platform.description
                            + " build of " + LIBRARY_FILE);
                }
                return candidate;
            }
        }
        throw new UnsatisfiedLinkError("no " + LIBRARY_FILE + " on java.library.path (" + libraryPath + "), which "
                + USE_LIBRARY_PATH_PROPERTY + "=true asks for");
    }

    /** The machine field of a PE file's header; -1 when the bytes are not a PE file. */
    static int machineOf(byte[] image) {
        ByteBuffer bytes = ByteBuffer.wrap(image).order(ByteOrder.LITTLE_ENDIAN);
        if (image.length < 0x40 || bytes.getShort(0) != 0x5A4D) {
            return -1;
        }
        int header = bytes.getInt(0x3C);
        if (header < 0 || header > image.length - 6 || bytes.getInt(header) != 0x00004550) {
            return -1;
        }
        return bytes.getShort(header + 4) & 0xFFFF;
    }

    private static String describe(int machine) {
        for (Platform platform : Platform.values()) {
            if (platform.machine == machine) {
                return "the " + platform.description + " build";
            }
        }
        return machine < 0 ? "not a Windows DLL" : String.format("a DLL for machine type 0x%04X", machine);
    }

    // ---- the jar's copy, extracted into the per-user cache ----------------------------------------------
    private Path extract(Platform platform) {
        byte[] image = resource(platform);
        if (cacheRoot == null) {
            throw new UnsatisfiedLinkError("no per-user directory to extract " + LIBRARY_FILE
                    + " into: LOCALAPPDATA is not set; set " + CACHE_DIRECTORY_PROPERTY);
        }
        String ours = version + "-" + platform.directory;
        Path directory = cacheRoot.resolve(ours);
        try {
            return extractIntoCache(directory, image);
        } catch (IOException | UncheckedIOException e) {
            System.err.println("Tessaro: the library cache " + directory + " cannot be used (" + e
                    + "); loading a private copy of " + LIBRARY_FILE + " instead");
            return extractPrivately(platform, image, e);
        }
    }

    /** Writes the image into a new directory of its own under the private base and loads it from there. */
    private Path extractPrivately(Platform platform, byte[] image, Exception cacheFailure) {
        Path directory = null;
        try {
            directory = Files.createTempDirectory(privateBase, "tessaro-native-");
            directory.toFile().deleteOnExit();
            Path file = directory.resolve(LIBRARY_FILE);
            Files.write(file, image, StandardOpenOption.CREATE_NEW, LinkOption.NOFOLLOW_LINKS);
            file.toFile().deleteOnExit();
            linker.load(file.toString());
            return file;
        } catch (IOException | UncheckedIOException e) {
            UnsatisfiedLinkError error = linkError("cannot extract " + platform.resource() + " from the jar into the "
                    + "cache (" + cacheFailure + ") nor into " + (directory != null ? directory : privateBase) + ": "
                    + e, e);
            error.addSuppressed(cacheFailure);
            throw error;
        }
    }

    private Path extractIntoCache(Path directory, byte[] image) throws IOException {
        Path file = directory.resolve(LIBRARY_FILE);
        createPrivateDirectory(cacheRoot.getParent());
        createPrivateDirectory(cacheRoot);
        // Extraction, removal and the load itself under one lock, so that a JVM of another version
        // that starts at the same time never removes a copy between its check and its load.
        synchronized (CACHE_LOCK) {
            try (FileChannel lockFile = FileChannel.open(cacheRoot.resolve(LOCK_FILE), StandardOpenOption.CREATE,
                    StandardOpenOption.WRITE, LinkOption.NOFOLLOW_LINKS)) {
                lockFile.lock(); // released when the channel closes
                // Only a directory this loader made: one that was there without the marker is not ours.
                if (createPrivateDirectory(directory)) {
                    Files.write(directory.resolve(MARKER_FILE), MARKER, StandardOpenOption.CREATE_NEW,
                            LinkOption.NOFOLLOW_LINKS);
                } else if (!isMarked(directory)) {
                    throw new FileSystemException(directory.toString(), null,
                            "there already, not made by this loader (no " + MARKER_FILE + ")");
                }
                removeTemporaryFiles(directory);
                if (!sameContent(file, image)) {
                    write(directory, file, image);
                }
                removeStaleCopies();
                // Checked again right before loading: what is loaded is what the jar carries.
                if (!sameContent(file, image)) {
                    throw new IOException(file + " changed while it was being loaded");
                }
                linker.load(file.toString());
            }
        }
        return file;
    }

    private byte[] resource(Platform platform) {
        try (InputStream in = resourceOwner.getResourceAsStream(platform.resource())) {
            if (in == null) {
                throw new UnsatisfiedLinkError("the jar has no " + platform.resource() + " for this JVM (os.name \""
                        + osName + "\", os.arch \"" + osArch + "\")");
            }
            java.io.ByteArrayOutputStream bytes = new java.io.ByteArrayOutputStream();
            byte[] buffer = new byte[65536];
            for (int read; (read = in.read(buffer)) > 0; ) {
                bytes.write(buffer, 0, read);
            }
            return bytes.toByteArray();
        } catch (IOException e) {
            throw linkError("cannot read " + platform.resource() + " from the jar: " + e, e);
        }
    }

    /** Writes a file beside the target and moves it into place in one step, so no one sees it half written. */
    private static void write(Path directory, Path file, byte[] image) throws IOException {
        Path temporary = Files.createTempFile(directory, TEMPORARY_PREFIX, TEMPORARY_SUFFIX);
        try {
            try (FileChannel channel = FileChannel.open(temporary, StandardOpenOption.WRITE)) {
                channel.write(ByteBuffer.wrap(image));
                channel.force(true);
            }
            try {
                Files.move(temporary, file, StandardCopyOption.ATOMIC_MOVE, StandardCopyOption.REPLACE_EXISTING);
            } catch (AtomicMoveNotSupportedException e) {
                throw e;
            } catch (FileSystemException inUse) {
                // On Windows a DLL that another JVM has loaded cannot be replaced; that JVM wrote the same
                // bytes unless the copy is damaged, which the check before loading finds.
                if (!sameContent(file, image)) {
                    throw inUse;
                }
            }
        } finally {
            Files.deleteIfExists(temporary);
        }
    }

    private static boolean sameContent(Path file, byte[] image) throws IOException {
        if (!Files.isRegularFile(file, LinkOption.NOFOLLOW_LINKS) || Files.size(file) != image.length) {
            return false;
        }
        return Arrays.equals(sha256(Files.readAllBytes(file)), sha256(image));
    }

    private static byte[] sha256(byte[] bytes) {
        try {
            return MessageDigest.getInstance("SHA-256").digest(bytes);
        } catch (NoSuchAlgorithmException e) {
            throw new IllegalStateException("every Java platform has SHA-256", e);
        }
    }

    /**
     * Makes the directory if needed, private to the user. On POSIX systems it is created rwx------ and may
     * not be writable by group or others. Everywhere it must be a plain directory (no link, no junction nor
     * other reparse point) and owned by the user (checked against a file the user creates in it); on Windows
     * its access control list is not inspected (see the class comment).
     *
     * @return whether this call created it
     */
    private static boolean createPrivateDirectory(Path directory) throws IOException {
        boolean posix = directory.getFileSystem().supportedFileAttributeViews().contains("posix");
        boolean created = false;
        try {
            Files.createDirectories(directory.getParent());
            if (posix) {
                Files.createDirectory(directory, PosixFilePermissions.asFileAttribute(
                        PosixFilePermissions.fromString("rwx------")));
            } else {
                Files.createDirectory(directory);
            }
            created = true;
        } catch (java.nio.file.FileAlreadyExistsException exists) {
            // Checked below.
        }
        if (!isPlainDirectory(directory)) {
            throw new FileSystemException(directory.toString(), null,
                    "not a plain directory (a file, a link, a junction or another reparse point)");
        }
        if (posix) {
            Set<PosixFilePermission> permissions = Files.getPosixFilePermissions(directory, LinkOption.NOFOLLOW_LINKS);
            if (permissions.contains(PosixFilePermission.GROUP_WRITE)
                    || permissions.contains(PosixFilePermission.OTHERS_WRITE)) {
                throw new FileSystemException(directory.toString(), null,
                        "others may write this directory (" + PosixFilePermissions.toString(permissions) + ")");
            }
        }
        if (directory.getFileSystem().supportedFileAttributeViews().contains("owner")) {
            Path probe = Files.createTempFile(directory, "owner-", ".tmp");
            try {
                if (!Files.getOwner(probe).equals(Files.getOwner(directory, LinkOption.NOFOLLOW_LINKS))) {
                    throw new FileSystemException(directory.toString(), null,
                            "owned by " + Files.getOwner(directory) + ", not by this user");
                }
            } finally {
                Files.deleteIfExists(probe);
            }
        }
        return created;
    }

    /**
     * Whether the path is a directory itself: not a symbolic link, not a junction or other reparse point
     * (which Windows reports as a directory that is also "other"), and its real path is its own.
     */
    static boolean isPlainDirectory(Path path) throws IOException {
        BasicFileAttributes attributes;
        try {
            attributes = Files.readAttributes(path, BasicFileAttributes.class, LinkOption.NOFOLLOW_LINKS);
        } catch (java.nio.file.NoSuchFileException gone) {
            return false;
        }
        if (!isPlainDirectory(attributes)) {
            return false;
        }
        Path parent = path.toAbsolutePath().getParent();
        return parent == null || path.toRealPath().equals(parent.toRealPath().resolve(path.getFileName()));
    }

    /** The attributes' part of {@link #isPlainDirectory(Path)}. */
    static boolean isPlainDirectory(BasicFileAttributes attributes) {
        return attributes.isDirectory() && !attributes.isSymbolicLink() && !attributes.isOther();
    }

    /**
     * Removes the copies of other versions: only directories that carry this loader's marker, only the
     * files it writes into them, never following a link; a directory that holds anything else stays, and a
     * copy that another running program holds is left for later.
     */
    private void removeStaleCopies() throws IOException {
        List<Path> stale = new ArrayList<>();
        try (DirectoryStream<Path> entries = Files.newDirectoryStream(cacheRoot)) {
            for (Path entry : entries) {
                // This version's copies for other architectures stay: a JVM of the other one may use them.
                if (!entry.getFileName().toString().startsWith(version + "-")
                        && isPlainDirectory(entry)
                        && isMarked(entry)) {
                    stale.add(entry);
                }
            }
        }
        for (Path directory : stale) {
            try {
                removeTemporaryFiles(directory);
                deleteRegularFile(directory.resolve(LIBRARY_FILE));
                deleteRegularFile(directory.resolve(MARKER_FILE));
                Files.deleteIfExists(directory);
            } catch (IOException inUseOrNotEmpty) {
                // Loaded by a program still running (Windows), or holding what the loader did not write.
            }
        }
    }

    /** Whether the directory carries the marker that this loader writes into the directories it makes. */
    private static boolean isMarked(Path directory) throws IOException {
        Path marker = directory.resolve(MARKER_FILE);
        return Files.isRegularFile(marker, LinkOption.NOFOLLOW_LINKS) && Files.size(marker) == MARKER.length
                && Arrays.equals(Files.readAllBytes(marker), MARKER);
    }

    /** Removes the temporary files that a write into this directory left (one interrupted by a crash). */
    private static void removeTemporaryFiles(Path directory) throws IOException {
        try (DirectoryStream<Path> entries = Files.newDirectoryStream(directory,
                TEMPORARY_PREFIX + "*" + TEMPORARY_SUFFIX)) {
            for (Path entry : entries) {
                deleteRegularFile(entry);
            }
        }
    }

    private static void deleteRegularFile(Path file) throws IOException {
        if (Files.isRegularFile(file, LinkOption.NOFOLLOW_LINKS)) {
            Files.deleteIfExists(file);
        }
    }

    private static Path defaultCacheRoot() {
        return cacheRoot(System.getProperty(CACHE_DIRECTORY_PROPERTY), System.getenv("LOCALAPPDATA"));
    }

    /** The loader's own directory: Tessaro\native under the configured directory, else under LOCALAPPDATA. */
    static Path cacheRoot(String configured, String local) {
        if (configured != null && !configured.isEmpty()) {
            return Paths.get(configured).toAbsolutePath().resolve("Tessaro").resolve("native");
        }
        return local == null || local.isEmpty() ? null : Paths.get(local, "Tessaro", "native");
    }

    private static UnsatisfiedLinkError linkError(String message, Throwable cause) {
        UnsatisfiedLinkError error = new UnsatisfiedLinkError(message);
        error.initCause(cause);
        return error;
    }
}
