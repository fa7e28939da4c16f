package com.tarvik.kelvane.audio;

import java.io.IOException;
import java.io.InputStream;
import java.nio.ByteBuffer;
import java.nio.charset.StandardCharsets;
import java.nio.file.Path;
import java.util.List;
import java.util.Objects;
import java.util.Optional;
import java.util.concurrent.CopyOnWriteArrayList;
import java.util.concurrent.atomic.AtomicBoolean;

import javax.sound.sampled.AudioFormat;
import javax.sound.sampled.AudioInputStream;
import javax.sound.sampled.AudioSystem;

/**
 * A recording from the default capture device (or a chosen {@link InputDevice}) into a file, into a stream
 * of its bytes that the application reads while it records, or both; stop or close it to complete the
 * file and end the stream.
 *
 * <p><b>The stream.</b> A recording made by {@link AudioLibrary#newStream} has no file, and one made with
 * a file streams when {@link #enableStream()} was called before its start. The stream holds exactly the
 * bytes the recording produces, in order: for MP3 its frames (byte for byte what the file holds, the
 * tag frame of a variable-bit-rate file aside), for WAVE the bytes of the data chunk. Read it from
 * {@link #inputStream()} (or, for PCM, {@link #audioInputStream()}), or have it pushed to
 * {@link StreamListener}s. The package keeps at most 16 s of unread
 * audio; past that, whole chunks are dropped from the stream (never from the file) and counted in
 * {@link #streamLoss()}.
 *
 * <pre>{@code
 * try (Recording live = audio.recordStream(RecordingFormat.pcm(16000), null);
 *      AudioInputStream pcm = live.audioInputStream()) {
 *     byte[] buffer = new byte[6400];                    // 200 ms of 16 kHz mono 16-bit
 *     for (int n; (n = pcm.read(buffer)) > 0; ) {
 *         recognizer.feed(buffer, n);                    // until live.stop(), from another thread
 *     }
 * }
 * }</pre>
 */
public final class Recording extends AudioSession {
    private final Path file;
    private final RecordingFormat format;
    /** Null: the system's default device. */
    private final InputDevice device;
    private final List<LevelListener> levelListeners = new CopyOnWriteArrayList<>();
    /** What the recording lost, read when it ended; null before (or when that read failed). */
    private volatile DroppedAudio droppedAtEnd;
    /** The result of that read when it failed; 0 otherwise. */
    private volatile int droppedEndResult;
    /** The stream of the recorded bytes; null when the recording does not stream. */
    private volatile RecordedStream stream;
    private volatile InputStream reader;
    private final List<StreamListener> streamListeners = new CopyOnWriteArrayList<>();
    /** A hand-over of waiting chunks to the stream listeners is posted to the event thread. */
    private final AtomicBoolean pumpPosted = new AtomicBoolean();
    private boolean streamEndTold;
    /** What the library dropped from the stream, read when the recording ended; null before. */
    private volatile StreamLoss streamLossAtEnd;
    private volatile int streamLossEndResult;

    /** A recording into the file, or into a stream only when file is null. */
    Recording(AudioLibrary library, Path file, RecordingFormat format, InputDevice device) {
        super(library, file == null ? null : file.toAbsolutePath().toString());
        this.file = file;
        this.format = format;
        this.device = device;
        if (file == null) {
            enableStream();
        }
    }

    /**
     * The device chosen to record from.
     *
     * @return the device; empty when the recording uses the system's default device
     */
    public Optional<InputDevice> device() {
        return Optional.ofNullable(device);
    }

    /**
     * The file being written.
     *
     * @return the path as given; null for a recording into a stream only
     */
    public Path file() {
        return file;
    }

    /**
     * The format being written.
     *
     * @return the format
     */
    public RecordingFormat format() {
        return format;
    }

    /**
     * Adds a listener for the input level.
     *
     * @param listener told the level about 25 times a second while the recording runs
     */
    public void addLevelListener(LevelListener listener) {
        levelListeners.add(Objects.requireNonNull(listener, "listener"));
    }

    /**
     * Removes a listener added before; does nothing for one that was not added.
     *
     * @param listener the listener
     */
    public void removeLevelListener(LevelListener listener) {
        levelListeners.remove(listener);
    }

    /**
     * The audio lost so far: the gaps the capture device left when its thread fell behind, and the time
     * they miss. While the recording is active it is read from the library; once it has ended it is the
     * figure of the whole recording, kept from its end (so end listeners may read it), and this call never
     * waits. A recording that never started lost nothing.
     *
     * @return the gaps and the time they miss
     * @throws AudioException when the library fails to tell it
     */
    public DroppedAudio droppedAudio() throws AudioException {
        if (state() == State.ENDED) {
            DroppedAudio kept = droppedAtEnd;
            if (kept != null) {
                return kept;
            }
            if (droppedEndResult < 0) {
                throw AudioException.of("getDroppedAudio", target(), droppedEndResult);
            }
            return DroppedAudio.NONE;
        }
        if (state() == State.NEW) {
            return DroppedAudio.NONE;
        }
        return library.droppedAudio(this);
    }

    /** Keeps the figure of the recording that is ending (the library's answer and array). */
    void keepDroppedAudio(int result, double[] dropped) {
        if (result < 0) {
            droppedEndResult = result;
        } else {
            droppedAtEnd = DroppedAudio.of(result, dropped);
        }
    }

    /**
     * Makes this recording stream its bytes as well as write its file. Call it before {@link #start()}.
     *
     * <pre>{@code
     * Recording meeting = audio.newRecording(Paths.get("meeting.mp3"), RecordingFormat.DEFAULT).enableStream();
     * meeting.addStreamListener(chunk -> uploader.send(chunk));   // the same bytes as the file's
     * meeting.start();
     * }</pre>
     *
     * @return this recording
     * @throws IllegalStateException when the recording was started before
     */
    public Recording enableStream() {
        requireNew("enable its stream");
        if (stream == null) {
            stream = new RecordedStream(this, (long) RecordedStream.BUFFER_SECONDS * format.maxBytesPerSecond());
        }
        return this;
    }

    /**
     * Whether the recording streams its bytes.
     *
     * @return true for a recording without a file and after {@link #enableStream()}
     */
    public boolean isStreamed() {
        return stream != null;
    }

    /**
     * The recorded bytes as they come, from the first; the same stream on every call. {@code read} waits
     * for the next bytes and returns -1 after the last, once the recording has ended (by a stop or close,
     * or by the library); when the recording failed, the read after the last bytes throws an
     * {@link IOException} whose cause is the recording's {@link #failure()}. Closing it stops the package
     * keeping the bytes (the recording goes on).
     *
     * @return the stream
     * @throws IllegalStateException when the recording does not stream, or gives its stream to
     *                               {@link StreamListener}s
     */
    public InputStream inputStream() {
        RecordedStream bytes = requireStream();
        if (!streamListeners.isEmpty()) {
            throw new IllegalStateException("the recording's stream goes to its stream listeners");
        }
        synchronized (this) {
            if (reader == null) {
                reader = bytes.new Reader();
            }
            return reader;
        }
    }

    /**
     * The recorded PCM samples as an {@link AudioInputStream} of {@link #inputStream()}, with the format
     * the library tells (16-bit signed little-endian, the recording's rate and channels, left first).
     * Waits until the recording has told its format, which it does before its first bytes.
     *
     * @return the stream, of unknown length
     * @throws IOException           when the recording ended before it told its format (with its
     *                               {@link #failure()} as the cause, when it failed)
     * @throws IllegalStateException when the recording does not stream PCM
     */
    public AudioInputStream audioInputStream() throws IOException {
        if (format.formatTag() != RecordingFormat.PCM_TAG) {
            throw new IllegalStateException("an AudioInputStream is for PCM; this recording is " + format);
        }
        InputStream bytes = inputStream();
        byte[] wave = requireStream().awaitFormat();
        if (wave == null || wave.length < 16) {
            stream.endOfStream();
            throw new IOException("the recording ended before it told its format");
        }
        int channels = (wave[2] & 0xFF) | (wave[3] & 0xFF) << 8;
        int rate = (wave[4] & 0xFF) | (wave[5] & 0xFF) << 8 | (wave[6] & 0xFF) << 16 | (wave[7] & 0xFF) << 24;
        int bits = (wave[14] & 0xFF) | (wave[15] & 0xFF) << 8;
        AudioFormat audioFormat = new AudioFormat(rate, bits, channels, bits > 8, false);
        return new AudioInputStream(bytes, audioFormat, AudioSystem.NOT_SPECIFIED);
    }

    /**
     * Adds a listener that is pushed the recorded bytes on the package's event thread. Add it before
     * {@link #start()}; a recording with stream listeners is not read from {@link #inputStream()}.
     *
     * @param listener told each chunk, and the stream's end after the last
     * @throws IllegalStateException when the recording does not stream or was started before
     */
    public void addStreamListener(StreamListener listener) {
        Objects.requireNonNull(listener, "listener");
        requireStream();
        requireNew("add a stream listener");
        if (reader != null) {
            throw new IllegalStateException("the recording's stream is read from its inputStream()");
        }
        streamListeners.add(listener);
    }

    /**
     * What the stream lost because it was not taken in time: chunks the library dropped (past 10 s of
     * undelivered stream) and chunks this package dropped (past its own buffer, unread). Once the
     * recording has ended, the library's part is the figure kept from its end, and this call never waits.
     *
     * @return the chunks, bytes and audio time dropped; {@link StreamLoss#NONE} for a recording that does
     *         not stream or never started
     * @throws AudioException when the library fails to tell it
     */
    public StreamLoss streamLoss() throws AudioException {
        RecordedStream bytes = stream;
        if (bytes == null || state() == State.NEW) {
            return StreamLoss.NONE;
        }
        StreamLoss dropped = state() == State.ENDED ? keptStreamLoss() : library.streamLoss(this);
        return dropped.plus(bytes.loss());
    }

    /** The library's part kept from the end. */
    StreamLoss keptStreamLoss() throws AudioException {
        if (streamLossEndResult < 0) {
            throw AudioException.of("getStreamLoss", target(), streamLossEndResult);
        }
        return streamLossAtEnd != null ? streamLossAtEnd : StreamLoss.NONE;
    }

    /** Keeps the library's stream loss of the recording that is ending. */
    void keepStreamLoss(int result, double[] loss) {
        if (result < 0) {
            streamLossEndResult = result;
        } else {
            streamLossAtEnd = StreamLoss.of(loss);
        }
    }

    // ---- the stream, from the library's delivery thread -----------------------------------------------------
    void streamFormat(byte[] waveFormat) {
        RecordedStream bytes = stream;
        if (bytes != null) {
            bytes.format(waveFormat);
        }
    }

    /** A chunk of the stream; null ends it (also when the library will send none). */
    void streamData(byte[] data) {
        RecordedStream bytes = stream;
        if (bytes == null) {
            return;
        }
        if (data == null) {
            bytes.end();
        } else if (!bytes.offer(data)) {
            return;
        }
        if (!streamListeners.isEmpty() && pumpPosted.compareAndSet(false, true)) {
            library.dispatcher().post(this::pump);
        }
    }

    /** On the event thread: hands the waiting chunks to the stream listeners, then the end once. */
    private void pump() {
        pumpPosted.set(false);
        RecordedStream bytes = stream;
        for (byte[] chunk; (chunk = bytes.poll()) != null; ) {
            ByteBuffer data = ByteBuffer.wrap(chunk).asReadOnlyBuffer();
            for (StreamListener listener : streamListeners) {
                EventDispatcher.runGuarded(() -> listener.chunk(data.duplicate()));
            }
        }
        if (bytes.drained() && !streamEndTold) {
            streamEndTold = true;
            for (StreamListener listener : streamListeners) {
                EventDispatcher.runGuarded(listener::streamEnded);
            }
        }
    }

    private RecordedStream requireStream() {
        RecordedStream bytes = stream;
        if (bytes == null) {
            throw new IllegalStateException("the recording does not stream: make it with newStream or call enableStream()");
        }
        return bytes;
    }

    private void requireNew(String what) {
        if (state() != State.NEW) {
            throw new IllegalStateException("cannot " + what + " of a recording that was started");
        }
    }

    @Override
    String kind() {
        return "recording";
    }

    @Override
    int startNative(NativeAudio natives) {
        byte[] path = file == null ? null : target().getBytes(StandardCharsets.UTF_8);
        if (stream != null || !format.isPlain()) {
            byte[] id = device == null ? null : device.id().getBytes(StandardCharsets.UTF_8);
            return natives.recordWithOptions(id, path, format.options(stream != null));
        }
        if (device != null) {
            return natives.recordFromDevice(device.id().getBytes(StandardCharsets.UTF_8), path, format.formatTag(),
                    format.sampleRate(), format.bitRate());
        }
        return natives.record(path, format.formatTag(), format.sampleRate(), format.bitRate());
    }

    @Override
    void deliverLevel(double level) {
        if (isActive()) {
            for (LevelListener listener : levelListeners) {
                EventDispatcher.runGuarded(() -> listener.levelChanged(level));
            }
        }
    }
}
