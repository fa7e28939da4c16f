package com.tarvik.kelvane.audio;

import java.nio.file.Path;
import java.time.Duration;
import java.util.List;
import java.util.Objects;
import java.util.Optional;
import java.util.concurrent.ConcurrentLinkedQueue;
import java.util.concurrent.TimeUnit;
import java.util.concurrent.atomic.AtomicBoolean;
import java.util.concurrent.locks.ReentrantLock;
import java.util.function.ToIntBiFunction;
import java.util.function.ToIntFunction;

/**
 * The native audio library Tessaro.dll, opened once per process: records from the default capture device
 * (or one chosen from {@link #inputDevices()}) into MP3 or WAVE files and plays files and URLs (on the
 * default output device or one chosen from {@link #outputDevices()}), one session at a time.
 *
 * <pre>{@code
 * try (AudioLibrary audio = AudioLibrary.open();
 *      Recording memo = audio.record(Paths.get("memo.mp3"), level -> System.out.println(level))) {
 *     Thread.sleep(5000);
 * }
 * }</pre>
 *
 * <p><b>Supported systems.</b> Windows only, Java 8 or later: the jar carries a 32-bit DLL for the x86
 * builds of Java 8 to 23 and a 64-bit DLL for any x64 Windows JVM, and {@link NativeLibraryLoader} picks
 * the one that matches the JVM. On any other system {@link #open()} throws an {@link UnsatisfiedLinkError}
 * that says so.
 *
 * <p><b>Threads.</b> All methods may be called from any thread. Listeners run on one thread of this object
 * named "tessaro-events", in the order the events happened; never on the library's own threads and never on
 * the Swing event thread (use {@code SwingUtilities.invokeLater} to touch components). A listener may call
 * any method, {@link AudioSession#stop()} included. Queries that need no native call never wait for one
 * that runs on another thread. The event thread is created by {@link #open()} on the calling thread: it
 * has that thread's thread group and context class loader. It is a daemon thread: it does not keep the JVM
 * alive; an application that must wait for a session's end waits for {@link AudioSession#ended()}.
 *
 * <p><b>Ending the JVM.</b> A JVM that ends while the library is open (a return from {@code main} with no
 * other thread left, {@code System.exit}, Ctrl+C in a console) runs a shutdown hook that this object
 * registered: it stops the active session, so that a recorded file is complete, and frees the library, as
 * {@link #close()} does. {@link #close()} removes the hook. A JVM that is killed runs no hook.
 *
 * <p><b>Closing.</b> Neither this object's nor a session's {@code close()} throws a checked exception; a
 * stop that fails is reported by an {@link UncheckedAudioException} after the session has become inactive.
 * {@link #close()} waits at most two seconds for a listener that is still running; such a listener is then
 * interrupted and its thread abandoned.
 *
 * <p><b>Log files.</b> The library writes a trace of its work into two files, "Tessaro.log" and
 * "MPEG2AudioEncoder.log", in the process's current directory, or in the user's temporary directory
 * ({@code %TEMP%}) when the current directory cannot be written. Each run replaces them.
 */
public final class AudioLibrary implements AutoCloseable {
    /** How long {@link #close()} waits for a listener that is still running. */
    static final Duration CLOSE_WAIT = Duration.ofSeconds(2);

    private static final AtomicBoolean OPEN = new AtomicBoolean();

    private final NativeAudio natives;
    private final EventDispatcher dispatcher = new EventDispatcher();
    private final ReentrantLock control = new ReentrantLock();
    private final Duration closeWait;
    /** The session whose stream the library holds; the library's callbacks belong to it. */
    private volatile AudioSession held;
    /**
     * The streamed recordings whose stream has not ended, oldest first: the library's stream callbacks
     * belong to the first (a stream's tail may come after its stop, before the next recording's).
     */
    private final ConcurrentLinkedQueue<Recording> streaming = new ConcurrentLinkedQueue<>();
    /** The last session started; under {@link #control}. */
    private AudioSession current;
    /** A stop failed: the library still holds a stream, to be released before the next start. */
    private boolean releaseOwed;
    private volatile boolean closed;
    /** Closes the library at JVM exit; registered while open. */
    private final Thread shutdownHook = new Thread(this::closeAtExit, "tessaro-shutdown");

    private AudioLibrary(NativeAudio natives, Duration closeWait) {
        this.natives = natives;
        this.closeWait = closeWait;
    }

    /**
     * Loads the native library (see {@link NativeLibraryLoader}) and initialises it.
     *
     * @return the open library
     * @throws AudioException        when the library's initialisation fails
     * @throws IllegalStateException when another AudioLibrary is open in this process
     * @throws UnsatisfiedLinkError  when the native library cannot be loaded on this system
     */
    public static AudioLibrary open() throws AudioException {
        NativeLibraryLoader.ensureLoaded();
        return open(new QuillmarBinding(), CLOSE_WAIT);
    }

    static AudioLibrary open(NativeAudio natives, Duration closeWait) throws AudioException {
        if (!OPEN.compareAndSet(false, true)) {
            throw new IllegalStateException("the audio library is already open in this process");
        }
        AudioLibrary library = new AudioLibrary(natives, closeWait);
        natives.setEvents(library.new Callbacks());
        int result = natives.initLibrary();
        if (result < 0) {
            natives.freeLibrary();
            natives.setEvents(null);
            library.dispatcher.close(closeWait);
            OPEN.set(false);
            throw AudioException.of("initLibrary", null, result);
        }
        Runtime.getRuntime().addShutdownHook(library.shutdownHook);
        return library;
    }

    /**
     * The version of this package, which is the version of the native library it carries.
     *
     * @return the jar's Implementation-Version, such as "1.0.0.1"; "unknown" when not run from the jar
     */
    public static String packageVersion() {
        String version = AudioLibrary.class.getPackage().getImplementationVersion();
        return version != null ? version : "unknown";
    }

    /**
     * The file the native library was loaded from.
     *
     * @return the absolute path of the loaded Tessaro.dll; empty when it was not loaded by this package
     */
    public static Optional<Path> libraryFile() {
        return NativeLibraryLoader.loadedFile();
    }

    /**
     * The version of the sibling module "Drovane.tar" that the library reports.
     *
     * @return its file version A.B.C.D as 1000A + 100B + 10C + D, 0 when the module is not found
     * @throws IllegalStateException when the library is closed
     */
    public int siblingModuleVersion() {
        requireOpen();
        return natives.getVersion();
    }

    /**
     * Makes a recording into the file in the format its extension names (".mp3": MP3 at 128000 bit/s from
     * 44100 Hz; ".wav": PCM WAVE at 44100 Hz), without starting it.
     *
     * @param file the file to write (replaced if it exists)
     * @return the recording, not started
     * @throws IllegalArgumentException when the extension is neither .mp3 nor .wav
     */
    public Recording newRecording(Path file) {
        return newRecording(file, RecordingFormat.forFile(file));
    }

    /**
     * Makes a recording without starting it, so that listeners can be added before it starts.
     *
     * @param file   the file to write (replaced if it exists)
     * @param format what to write; must match the extension (".mp3" for MP3, ".wav" for WAVE)
     * @return the recording, not started
     * @throws IllegalArgumentException when the extension does not match the format
     */
    public Recording newRecording(Path file, RecordingFormat format) {
        return newRecording(file, format, null);
    }

    /**
     * Makes a recording from a chosen input device without starting it.
     *
     * @param file   the file to write (replaced if it exists)
     * @param format what to write; must match the extension (".mp3" for MP3, ".wav" for WAVE)
     * @param device the device to record from, as {@link #inputDevices()} lists it; null for the system's
     *               default device. A device unplugged since it was listed makes {@link Recording#start()}
     *               fail with {@link ResultCodes#DEVICE_NOT_PRESENT}, before any file is written.
     * @return the recording, not started
     * @throws IllegalArgumentException when the extension does not match the format
     */
    public Recording newRecording(Path file, RecordingFormat format, InputDevice device) {
        Objects.requireNonNull(file, "file");
        Objects.requireNonNull(format, "format").checkFile(file);
        requireOpen();
        return new Recording(this, file, format, device);
    }

    /**
     * Starts recording in the format the file's extension names (see {@link #newRecording(Path)}).
     *
     * @param file   the file to write (replaced if it exists)
     * @param levels told the input level; may be null
     * @return the running recording
     * @throws AudioException           when the library fails to start; file-system failures are
     *                                  {@link AudioFileException}s
     * @throws IllegalArgumentException when the extension is neither .mp3 nor .wav
     * @throws IllegalStateException    when a recording or playback is active
     */
    public Recording record(Path file, LevelListener levels) throws AudioException {
        return record(file, RecordingFormat.forFile(Objects.requireNonNull(file, "file")), levels, null);
    }

    /**
     * Starts recording from the default capture device.
     *
     * @param file   the file to write (replaced if it exists)
     * @param format what to write; must match the extension (".mp3" for MP3, ".wav" for WAVE)
     * @param levels told the input level; may be null
     * @param end    told when the recording has ended; may be null
     * @return the running recording
     * @throws AudioException           when the library fails to start; file-system failures are
     *                                  {@link AudioFileException}s
     * @throws IllegalArgumentException when the extension does not match the format
     * @throws IllegalStateException    when a recording or playback is active
     */
    public Recording record(Path file, RecordingFormat format, LevelListener levels, EndListener end)
            throws AudioException {
        return record(file, format, null, levels, end);
    }

    /**
     * Starts recording from a chosen input device.
     *
     * <pre>{@code
     * List<InputDevice> devices = audio.inputDevices();
     * InputDevice usb = devices.stream().filter(d -> d.name().startsWith("USB")).findFirst().orElse(null);
     * try (Recording memo = audio.record(Paths.get("memo.wav"), RecordingFormat.DEFAULT_WAVE, usb, null, null)) {
     *     Thread.sleep(5000);
     * }
     * }</pre>
     *
     * @param file   the file to write (replaced if it exists)
     * @param format what to write; must match the extension (".mp3" for MP3, ".wav" for WAVE)
     * @param device the device to record from, as {@link #inputDevices()} lists it; null for the system's
     *               default device
     * @param levels told the input level; may be null
     * @param end    told when the recording has ended; may be null
     * @return the running recording
     * @throws AudioException           when the library fails to start, with
     *                                  {@link ResultCodes#DEVICE_NOT_PRESENT} when the device has been
     *                                  unplugged since it was listed (no file is written then);
     *                                  file-system failures are {@link AudioFileException}s
     * @throws IllegalArgumentException when the extension does not match the format
     * @throws IllegalStateException    when a recording or playback is active
     */
    public Recording record(Path file, RecordingFormat format, InputDevice device, LevelListener levels,
            EndListener end) throws AudioException {
        Recording recording = newRecording(file, format, device);
        if (levels != null) {
            recording.addLevelListener(levels);
        }
        if (end != null) {
            recording.addEndListener(end);
        }
        recording.start();
        return recording;
    }

    /**
     * Makes a recording into a stream only, without starting it: nothing is written to disk. Add
     * {@link StreamListener}s, or read {@link Recording#inputStream()}, then start it.
     *
     * <pre>{@code
     * Recording call = audio.newStream(RecordingFormat.mp3Vbr(44100, 4), null);
     * call.addStreamListener(chunk -> upload(chunk));   // MP3 frames, pushed on the event thread
     * call.start();
     * }</pre>
     *
     * @param format what to record
     * @param device the device to record from, as {@link #inputDevices()} lists it; null for the system's
     *               default device
     * @return the recording, not started
     */
    public Recording newStream(RecordingFormat format, InputDevice device) {
        Objects.requireNonNull(format, "format");
        requireOpen();
        return new Recording(this, null, format, device);
    }

    /**
     * Starts recording into a stream only (see {@link #newStream}); read it from
     * {@link Recording#inputStream()}, for PCM also {@link Recording#audioInputStream()}.
     *
     * <pre>{@code
     * try (Recording live = audio.recordStream(RecordingFormat.DEFAULT, null);
     *      InputStream mp3 = live.inputStream()) {
     *     byte[] buffer = new byte[4096];
     *     for (int n; (n = mp3.read(buffer)) > 0; ) {
     *         socket.getOutputStream().write(buffer, 0, n);
     *     }
     * }
     * }</pre>
     *
     * @param format what to record
     * @param device the device to record from; null for the system's default device
     * @return the running recording
     * @throws AudioException        when the library fails to start
     * @throws IllegalStateException when a recording or playback is active
     */
    public Recording recordStream(RecordingFormat format, InputDevice device) throws AudioException {
        Recording recording = newStream(format, device);
        recording.start();
        return recording;
    }

    /**
     * The audio input devices present now, read afresh on each call (devices come and go), in the order
     * the system gives them; the first is the default, from which a recording without a chosen device
     * records. Two devices may have the same name: they are told apart by {@link InputDevice#id()}.
     *
     * <pre>{@code
     * for (InputDevice device : audio.inputDevices()) {
     *     System.out.println(device);   // its name, "(default)" after the default's
     * }
     * }</pre>
     *
     * @return the devices; empty when the system has none
     * @throws AudioException        when the library cannot list them
     * @throws IllegalStateException when the library is closed
     */
    public List<InputDevice> inputDevices() throws AudioException {
        requireOpen();
        return DeviceList.read("getInputDevices", natives::getInputDevices, InputDevice::new);
    }

    /**
     * The audio output devices present now, read afresh on each call, in the order the system gives them;
     * the first is the default, on which a playback without a chosen device plays.
     *
     * <pre>{@code
     * OutputDevice usb = audio.outputDevices().stream().filter(d -> d.name().contains("USB"))
     *         .findFirst().orElse(null);                     // null: the default device
     * Playback playback = audio.play(Paths.get("memo.mp3"), usb, null);
     * }</pre>
     *
     * @return the devices; empty when the system has none
     * @throws AudioException        when the library cannot list them
     * @throws IllegalStateException when the library is closed
     */
    public List<OutputDevice> outputDevices() throws AudioException {
        requireOpen();
        return DeviceList.read("getOutputDevices", natives::getOutputDevices, OutputDevice::new);
    }

    /**
     * Makes a playback of a file or URL without starting it.
     *
     * @param pathOrUrl a file path or a URL
     * @return the playback, not started
     * @throws IllegalArgumentException when the text is empty
     */
    public Playback newPlayback(String pathOrUrl) {
        return newPlayback(pathOrUrl, null);
    }

    /**
     * Makes a playback of a file or URL on a chosen output device without starting it.
     *
     * @param pathOrUrl a file path or a URL
     * @param device    the device to play on, as {@link #outputDevices()} lists it; null for the system's
     *                  default device. A device unplugged since it was listed makes {@link Playback#start()}
     *                  fail with {@link ResultCodes#DEVICE_NOT_PRESENT} before anything is built.
     * @return the playback, not started
     * @throws IllegalArgumentException when the text is empty
     */
    public Playback newPlayback(String pathOrUrl, OutputDevice device) {
        if (Objects.requireNonNull(pathOrUrl, "pathOrUrl").isEmpty()) {
            throw new IllegalArgumentException("empty path");
        }
        requireOpen();
        return new Playback(this, pathOrUrl, device);
    }

    /**
     * Starts playing a file.
     *
     * @param file the file
     * @param end  told when the playback has ended; may be null
     * @return the running playback
     * @throws AudioException        when the library fails to start; file-system failures are
     *                               {@link AudioFileException}s
     * @throws IllegalStateException when a recording or playback is active
     */
    public Playback play(Path file, EndListener end) throws AudioException {
        return play(Objects.requireNonNull(file, "file").toAbsolutePath().toString(), end);
    }

    /**
     * Starts playing a file path or URL.
     *
     * @param pathOrUrl a file path or a URL
     * @param end       told when the playback has ended; may be null
     * @return the running playback
     * @throws AudioException        when the library fails to start
     * @throws IllegalStateException when a recording or playback is active
     */
    public Playback play(String pathOrUrl, EndListener end) throws AudioException {
        return play(pathOrUrl, null, end);
    }

    /**
     * Starts playing a file on a chosen output device.
     *
     * @param file   the file
     * @param device the device to play on, as {@link #outputDevices()} lists it; null for the default
     * @param end    told when the playback has ended; may be null
     * @return the running playback
     * @throws AudioException        when the library fails to start, with {@link ResultCodes#DEVICE_NOT_PRESENT}
     *                               when the device has been unplugged since it was listed; file-system
     *                               failures are {@link AudioFileException}s
     * @throws IllegalStateException when a recording or playback is active
     */
    public Playback play(Path file, OutputDevice device, EndListener end) throws AudioException {
        return play(Objects.requireNonNull(file, "file").toAbsolutePath().toString(), device, end);
    }

    /**
     * Starts playing a file path or URL on a chosen output device.
     *
     * @param pathOrUrl a file path or a URL
     * @param device    the device to play on, as {@link #outputDevices()} lists it; null for the default
     * @param end       told when the playback has ended; may be null
     * @return the running playback
     * @throws AudioException        when the library fails to start, with
     *                               {@link ResultCodes#DEVICE_NOT_PRESENT} when the device has been
     *                               unplugged since it was listed
     * @throws IllegalStateException when a recording or playback is active
     */
    public Playback play(String pathOrUrl, OutputDevice device, EndListener end) throws AudioException {
        Playback playback = newPlayback(pathOrUrl, device);
        if (end != null) {
            playback.addEndListener(end);
        }
        playback.start();
        return playback;
    }

    /**
     * Stops what is active, releases the library's streams and threads, and ends the event thread (waiting
     * at most two seconds for a listener that still runs). Does nothing the second time.
     *
     * @throws UncheckedAudioException when stopping the active session failed; the library is closed anyway
     */
    @Override
    public void close() {
        try {
            Runtime.getRuntime().removeShutdownHook(shutdownHook);
        } catch (IllegalStateException exiting) {
            // The JVM is shutting down: the hook runs or has run this close.
        }
        closeNow();
    }

    /** The shutdown hook: what {@link #close()} does, its failure told on standard error. */
    private void closeAtExit() {
        try {
            closeNow();
        } catch (UncheckedAudioException e) {
            System.err.println("Tessaro: at exit, " + e.getCause().getMessage());
        }
    }

    private void closeNow() {
        AudioException failure = null;
        control.lock();
        try {
            if (closed) {
                return;
            }
            AudioSession active = current;
            if (active != null && active.isActive()) {
                try {
                    stop(active);
                } catch (AudioException e) {
                    failure = e;
                }
            }
            closed = true;
            natives.freeLibrary();
            natives.setEvents(null);
            held = null;
            // The library is gone: no stream gets its end from it any more.
            for (Recording recording; (recording = streaming.poll()) != null; ) {
                recording.streamData(null);
            }
        } finally {
            control.unlock();
        }
        dispatcher.close(closeWait);
        OPEN.set(false);
        if (failure != null) {
            throw new UncheckedAudioException(failure);
        }
    }

    // ---- for the sessions ---------------------------------------------------------------------------------
    EventDispatcher dispatcher() {
        return dispatcher;
    }

    void start(AudioSession session) throws AudioException {
        control.lock();
        try {
            requireOpen();
            if (session.state() != AudioSession.State.NEW) {
                throw new IllegalStateException("the " + session.kind() + " was started before: make a new one");
            }
            if (current != null && current.isActive()) {
                throw new IllegalStateException("a " + current.kind() + " is active: stop it first");
            }
            if (releaseOwed) {
                check("stop (releasing the previous session)", null, release());
            }
            held = session;
            Recording streamed = session instanceof Recording && ((Recording) session).isStreamed() ? (Recording) session : null;
            if (streamed != null) {
                streaming.add(streamed);
            }
            int result = session.startNative(natives);
            if (result < 0 && streamed != null && streaming.remove(streamed)) {
                streamed.streamData(null);
            }
            if (result < 0) {
                // A stream built before the failure is held until a stop releases it; when none was built,
                // the stop finds nothing to release and nothing is owed.
                release();
                AudioException failure = AudioException.of(session.operation(), session.target(), result);
                session.finish(null, failure);
                throw failure;
            }
            int[] number = new int[1];
            session.streamNumber = natives.getStreamNumber(number) == ResultCodes.S_OK ? number[0] : 0;
            current = session;
            session.started();
        } finally {
            control.unlock();
        }
    }

    void stop(AudioSession session) throws AudioException {
        control.lock();
        try {
            if (session.state() == AudioSession.State.ENDED) {
                return;
            }
            if (session.state() == AudioSession.State.NEW) {
                session.finish(EndReason.STOPPED, null);
                return;
            }
            int result = release();
            keepDroppedAudio(session);
            if (result < 0) {
                AudioException failure = AudioException.of("stop", session.target(), result);
                session.finish(EndReason.STOP_FAILED, failure);
                throw failure;
            }
            // A stream that had ended before this stop (its end not handled yet, or dropped by the stop)
            // ends the session as it ended: an error, whoever stopped first, is never a normal stop.
            StreamEnd before = endBeforeStop(session);
            if (before != null) {
                session.finish(before.reason, failureOf(session, before));
            } else {
                session.finish(EndReason.STOPPED, null);
            }
        } finally {
            control.unlock();
        }
    }

    void setPaused(AudioSession session, boolean wanted) throws AudioException {
        control.lock();
        try {
            requireActive(session);
            if (session.isPaused() != wanted) {
                boolean[] paused = new boolean[1];
                check(wanted ? "pause" : "resume", session.target(), natives.pause(paused));
                session.paused(paused[0]);
            }
        } finally {
            control.unlock();
        }
    }

    Duration position(AudioSession session) throws AudioException {
        return seconds(session, "getCurrentPosition", natives::getCurrentPosition);
    }

    Duration duration(AudioSession session) throws AudioException {
        return seconds(session, "getDuration", natives::getDuration);
    }

    /** A native call on the active session under the control lock; its failure as the operation's. */
    void control(AudioSession session, String operation, ToIntFunction<NativeAudio> call) throws AudioException {
        control.lock();
        try {
            requireActive(session);
            int result = call.applyAsInt(natives);
            check(operation, session.target(), result);
        } finally {
            control.unlock();
        }
    }

    /** A native that reads one int of the active session: the value. */
    int query(AudioSession session, String operation, ToIntBiFunction<NativeAudio, int[]> call) throws AudioException {
        int[] value = new int[1];
        control(session, operation, natives -> call.applyAsInt(natives, value));
        return value[0];
    }

    DroppedAudio droppedAudio(Recording recording) throws AudioException {
        control.lock();
        try {
            if (recording.state() == AudioSession.State.ENDED) {
                return recording.droppedAudio();
            }
            requireActive(recording);
            double[] dropped = new double[2];
            int result = natives.getDroppedAudio(dropped);
            check("getDroppedAudio", recording.target(), result);
            return DroppedAudio.of(result, dropped);
        } finally {
            control.unlock();
        }
    }

    /** The end the library kept for the session's stream; null when it has none (or numbers no streams). */
    private StreamEnd endBeforeStop(AudioSession session) {
        if (session.streamNumber == 0) {
            return null;
        }
        int[] cause = new int[3];
        StreamEnd end = StreamEnd.ofRecord(natives.getEndCause(cause), cause);
        return end != null && end.stream == session.streamNumber ? end : null;
    }

    private static AudioException failureOf(AudioSession session, StreamEnd end) {
        return end.reason == EndReason.FAILED
                ? AudioException.of(session.operation(), session.target(), end.resultCode) : null;
    }

    StreamLoss streamLoss(Recording recording) throws AudioException {
        control.lock();
        try {
            if (recording.state() == AudioSession.State.ENDED) {
                return recording.keptStreamLoss();
            }
            double[] loss = new double[3];
            check("getStreamLoss", recording.target(), natives.getStreamLoss(loss));
            return StreamLoss.of(loss);
        } finally {
            control.unlock();
        }
    }

    /** A recording that is ending keeps what it lost, read after its stream was released. */
    private void keepDroppedAudio(AudioSession session) {
        if (session instanceof Recording) {
            double[] dropped = new double[2];
            ((Recording) session).keepDroppedAudio(natives.getDroppedAudio(dropped), dropped);
            if (((Recording) session).isStreamed()) {
                double[] loss = new double[3];
                ((Recording) session).keepStreamLoss(natives.getStreamLoss(loss), loss);
            }
        }
    }

    private Duration seconds(AudioSession session, String operation, ToIntFunction<double[]> query)
            throws AudioException {
        control.lock();
        try {
            requireActive(session);
            double[] seconds = new double[1];
            check(operation, session.target(), query.applyAsInt(seconds));
            return Duration.ofNanos(Math.round(seconds[0] * TimeUnit.SECONDS.toNanos(1)));
        } finally {
            control.unlock();
        }
    }

    /**
     * Stops the held stream; on failure the library still holds it and the next start retries. E_UNEXPECTED
     * from stop means that the library holds nothing: nothing is owed then.
     */
    private int release() {
        int result = natives.stop();
        releaseOwed = result < 0 && result != ResultCodes.E_UNEXPECTED;
        if (!releaseOwed) {
            held = null;
        }
        return result;
    }

    private static void check(String operation, String target, int result) throws AudioException {
        if (result < 0) {
            throw AudioException.of(operation, target, result);
        }
    }

    private void requireOpen() {
        if (closed) {
            throw new IllegalStateException("the audio library is closed");
        }
    }

    private static void requireActive(AudioSession session) {
        if (!session.isActive()) {
            throw new IllegalStateException("the " + session.kind() + " is not active");
        }
    }

    // ---- on the event thread ------------------------------------------------------------------------------
    /**
     * A stream ended by itself: the session that started that stream (by its number; the session held when
     * the library did not tell the number) ends with the reason, after the release that completes its file.
     */
    private void endedByLibrary(AudioSession heldThen, StreamEnd end) {
        control.lock();
        try {
            AudioSession session = end.stream != 0 ? current : heldThen;
            if (session == null || !session.isActive() || (end.stream != 0 && session.streamNumber != end.stream)) {
                return;
            }
            AudioException failure = failureOf(session, end);
            // A failed release is retried before the next start; the session reports it now.
            int released = release();
            keepDroppedAudio(session);
            if (released < 0 && released != ResultCodes.E_UNEXPECTED) {
                AudioException releaseFailure = AudioException.of("stop", session.target(), released);
                if (failure != null) {
                    failure.addSuppressed(releaseFailure);
                } else {
                    failure = releaseFailure;
                }
            }
            session.finish(end.reason, failure);
        } finally {
            control.unlock();
        }
    }

    /**
     * The library's callbacks, on its own threads: each is tied to the stream that raised it and handed to
     * the event thread at once.
     */
    private final class Callbacks implements NativeAudio.Events {
        @Override
        public void stopped(int reason) {
            AudioSession session = held;
            // Inside "Stopped" the library tells the cause of this very end and the stream it ended.
            int[] cause = new int[3];
            int causeResult = natives.getEndCause(cause);
            StreamEnd end = StreamEnd.of(reason, causeResult, cause);
            dispatcher.post(() -> endedByLibrary(session, end));
        }

        @Override
        public void inputLevel(double level) {
            AudioSession session = held;
            if (session != null) {
                dispatcher.postLevel(session, level);
            }
        }

        @Override
        public void streamFormat(byte[] format) {
            Recording recording = streaming.peek();
            if (recording != null) {
                recording.streamFormat(format);
            }
        }

        @Override
        public void streamData(byte[] data) {
            Recording recording = data == null ? streaming.poll() : streaming.peek();
            if (recording != null) {
                recording.streamData(data);
            }
        }
    }
}
