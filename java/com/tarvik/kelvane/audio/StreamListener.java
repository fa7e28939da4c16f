package com.tarvik.kelvane.audio;

import java.nio.ByteBuffer;

/**
 * Receives the bytes of a recording as they are recorded (see {@link Recording#addStreamListener}): for
 * MP3 its frames, for WAVE the bytes of its data chunk, in order. Runs on the package's event thread (see
 * {@link AudioLibrary}) and may call any method of the package. A listener slower than the audio comes
 * loses whole chunks once the package's buffer is full; {@link Recording#streamLoss()} counts them.
 */
@FunctionalInterface
public interface StreamListener {
    /**
     * Called with each chunk, about 100 to 200 ms of audio.
     *
     * @param data the chunk's bytes, read-only, from position 0; valid after the call returns
     */
    void chunk(ByteBuffer data);

    /**
     * Called once after the last chunk; {@link Recording#failure()} tells whether the recording failed.
     * Does nothing unless overridden.
     */
    default void streamEnded() {
    }
}
