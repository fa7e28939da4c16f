package com.tarvik.kelvane.audio;

import java.nio.charset.StandardCharsets;
import java.time.Duration;

/** A playback of a file or URL. It releases itself when it reaches the end ({@link EndReason#COMPLETED}). */
public final class Playback extends AudioSession {
    Playback(AudioLibrary library, String source) {
        super(library, source);
    }

    /**
     * The file or URL being played.
     *
     * @return the absolute path or the URL as given to the library
     */
    public String source() {
        return target();
    }

    /**
     * The length of the stream.
     *
     * @return the duration
     * @throws AudioException        when the library fails to tell it
     * @throws IllegalStateException when the playback is not active
     */
    public Duration duration() throws AudioException {
        return library.duration(this);
    }

    @Override
    String kind() {
        return "playback";
    }

    @Override
    int startNative(NativeAudio natives) {
        return natives.play(target().getBytes(StandardCharsets.UTF_8), 0);
    }
}
