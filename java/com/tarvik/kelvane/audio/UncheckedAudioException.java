package com.tarvik.kelvane.audio;

import java.util.Objects;

/**
 * Wraps an {@link AudioException} where a checked exception may not be thrown: {@link AudioSession#close()}
 * and {@link AudioLibrary#close()} report a stop that failed with it, after the session has become
 * inactive.
 */
public class UncheckedAudioException extends RuntimeException {
    private static final long serialVersionUID = 1L;

    /**
     * Wraps the failure.
     *
     * @param cause the failure, not null
     */
    public UncheckedAudioException(AudioException cause) {
        super(Objects.requireNonNull(cause, "cause").getMessage(), cause);
    }

    /**
     * The failure.
     *
     * @return the wrapped exception
     */
    @Override
    public AudioException getCause() {
        return (AudioException) super.getCause();
    }
}
