package com.tarvik.kelvane.audio;

import java.nio.file.Path;

/** A recording from the default capture device into a file; stop or close it to complete the file. */
public final class Recording extends AudioSession {
    private final Path file;
    private final RecordingFormat format;
    private final LevelListener levelListener;

    Recording(AudioLibrary library, Path file, RecordingFormat format, LevelListener levels, EndListener end) {
        super(library, end);
        this.file = file;
        this.format = format;
        this.levelListener = levels;
    }

    /** The file being written. */
    public Path file() {
        return file;
    }

    /** The format being written. */
    public RecordingFormat format() {
        return format;
    }

    @Override
    String kind() {
        return "recording";
    }

    @Override
    void levelChanged(double level) {
        if (levelListener != null && isActive()) {
            levelListener.levelChanged(level);
        }
    }
}
