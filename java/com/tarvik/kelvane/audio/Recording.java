package com.tarvik.kelvane.audio;

import java.nio.charset.StandardCharsets;
import java.nio.file.Path;
import java.util.List;
import java.util.Objects;
import java.util.Optional;
import java.util.concurrent.CopyOnWriteArrayList;

/**
 * A recording from the default capture device (or a chosen {@link InputDevice}) into a file; stop or close
 * it to complete the file.
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

    Recording(AudioLibrary library, Path file, RecordingFormat format, InputDevice device) {
        super(library, file.toAbsolutePath().toString());
        this.file = file;
        this.format = format;
        this.device = device;
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
     * @return the path as given
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

    @Override
    String kind() {
        return "recording";
    }

    @Override
    int startNative(NativeAudio natives) {
        byte[] path = target().getBytes(StandardCharsets.UTF_8);
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
