package com.tarvik.kelvane.audio;

import java.nio.charset.StandardCharsets;
import java.nio.file.Path;
import java.util.Objects;
import java.util.concurrent.atomic.AtomicBoolean;

/**
 * The native audio library, opened once per process: records from the default capture device and plays
 * files and URLs, one session at a time.
 *
 * <pre>{@code
 * try (AudioLibrary audio = AudioLibrary.open();
 *      Recording memo = audio.record(Path.of("memo.mp3"), RecordingFormat.DEFAULT, level -> meter.show(level), null)) {
 *     Thread.sleep(5000);
 * }
 * }</pre>
 *
 * <p>Listeners run on one event thread of this object, never on the library's own threads, so they may
 * call any method, {@link AudioSession#stop()} included. All methods may be called from any thread.
 */
public final class AudioLibrary implements AutoCloseable {
    private static final AtomicBoolean OPEN = new AtomicBoolean();

    private final NativeAudio natives;
    private final EventDispatcher dispatcher;
    private AudioSession session;
    private boolean closed;

    private AudioLibrary(NativeAudio natives) {
        this.natives = natives;
        this.dispatcher = new EventDispatcher(this::dispatchLevel, this::dispatchEnd);
    }

    /**
     * Loads the native library (see {@link NativeLibraryLoader}) and initialises it.
     *
     * @throws AudioException        when the library's initialisation fails
     * @throws IllegalStateException when another AudioLibrary is open in this process
     * @throws UnsatisfiedLinkError  when the native library cannot be loaded
     */
    public static AudioLibrary open() throws AudioException {
        NativeLibraryLoader.ensureLoaded();
        return open(new QuillmarBinding());
    }

    static AudioLibrary open(NativeAudio natives) throws AudioException {
        if (!OPEN.compareAndSet(false, true)) {
            throw new IllegalStateException("the audio library is already open in this process");
        }
        AudioLibrary library = new AudioLibrary(natives);
        natives.setEvents(library.dispatcher);
        int result = natives.initLibrary();
        if (result < 0) {
            natives.freeLibrary();
            natives.setEvents(null);
            library.dispatcher.close();
            OPEN.set(false);
            throw new AudioException("initLibrary", result);
        }
        return library;
    }

    /** The file version A.B.C.D of the sibling module as 1000A + 100B + 10C + D; 0 when unknown. */
    public int version() {
        synchronized (this) {
            requireOpen();
            return natives.getVersion();
        }
    }

    /** Records in the default format (MP3, 128 kbit/s, 44100 Hz). */
    public Recording record(Path file, LevelListener levels) throws AudioException {
        return record(file, RecordingFormat.DEFAULT, levels, null);
    }

    /**
     * Starts recording from the default capture device.
     *
     * @param file   the file to write (replaced if it exists)
     * @param format what to write
     * @param levels told the input level about 25 times a second; may be null
     * @param end    told if the capture device is lost; may be null
     * @throws IllegalStateException when a recording or playback is active
     */
    public Recording record(Path file, RecordingFormat format, LevelListener levels, EndListener end)
            throws AudioException {
        Objects.requireNonNull(file, "file");
        Objects.requireNonNull(format, "format");
        byte[] path = file.toAbsolutePath().toString().getBytes(StandardCharsets.UTF_8);
        synchronized (this) {
            requireIdle();
            Recording recording = new Recording(this, file, format, levels, end);
            start("record", recording, natives.record(path, format.formatTag(), format.sampleRate(), format.bitRate()));
            return recording;
        }
    }

    /** Plays a file. */
    public Playback play(Path file, EndListener end) throws AudioException {
        Objects.requireNonNull(file, "file");
        return play(file.toAbsolutePath().toString(), end);
    }

    /**
     * Starts playing a file path or URL.
     *
     * @param end told when the end is reached (the playback has then released itself); may be null
     * @throws IllegalStateException when a recording or playback is active
     */
    public Playback play(String pathOrUrl, EndListener end) throws AudioException {
        Objects.requireNonNull(pathOrUrl, "pathOrUrl");
        if (pathOrUrl.isEmpty()) {
            throw new IllegalArgumentException("empty path");
        }
        byte[] path = pathOrUrl.getBytes(StandardCharsets.UTF_8);
        synchronized (this) {
            requireIdle();
            Playback playback = new Playback(this, pathOrUrl, end);
            start("play", playback, natives.play(path, 0));
            return playback;
        }
    }

    /** Stops what is active, releases the library's graphs and threads, and ends the event thread. */
    @Override
    public void close() throws AudioException {
        AudioException failure = null;
        synchronized (this) {
            if (closed) {
                return;
            }
            if (session != null) {
                try {
                    session.stop();
                } catch (AudioException e) {
                    failure = e;
                }
            }
            closed = true;
            natives.freeLibrary();
            natives.setEvents(null);
        }
        dispatcher.close();
        OPEN.set(false);
        if (failure != null) {
            throw failure;
        }
    }

    // ---- used by the sessions, under this object's lock ----------------------------------------------------
    private void start(String operation, AudioSession started, int result) throws AudioException {
        if (result < 0) {
            // A graph that was built before the failure is held until a stop releases it.
            natives.stop();
            throw new AudioException(operation, result);
        }
        session = started;
    }

    boolean togglePause() throws AudioException {
        boolean[] paused = new boolean[1];
        AudioException.check("pause", natives.pause(paused));
        return paused[0];
    }

    double currentPosition() throws AudioException {
        double[] seconds = new double[1];
        AudioException.check("getCurrentPosition", natives.getCurrentPosition(seconds));
        return seconds[0];
    }

    double duration() throws AudioException {
        double[] seconds = new double[1];
        AudioException.check("getDuration", natives.getDuration(seconds));
        return seconds[0];
    }

    void stopSession(AudioSession stopped) throws AudioException {
        if (session == stopped) {
            AudioException.check("stop", natives.stop());
            session = null;
        }
    }

    private void requireOpen() {
        if (closed) {
            throw new IllegalStateException("the audio library is closed");
        }
    }

    private void requireIdle() {
        requireOpen();
        if (session != null) {
            throw new IllegalStateException("a " + session.kind() + " is active: stop it first");
        }
    }

    // ---- on the event thread ----------------------------------------------------------------------------------
    private void dispatchLevel(double level) {
        AudioSession current;
        synchronized (this) {
            current = session;
        }
        if (current != null) {
            current.levelChanged(level);
        }
    }

    private void dispatchEnd(int reason) {
        AudioSession current;
        synchronized (this) {
            current = session;
        }
        if (current != null) {
            current.ended(EndReason.fromCode(reason));
        }
    }
}
