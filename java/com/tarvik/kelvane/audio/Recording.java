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
