package com.tarvik.kelvane.audio;

/** Why a recording or playback ended. */
public enum EndReason {
    /** The stream reached its end (a playback played to the last sample). */
    COMPLETED,
    /** The device of the stream was lost (a capture device unplugged, an output device gone). */
    DEVICE_LOST,
    /**
     * The stream was aborted by an error, such as a full disk or a failed write; the session's
     * {@link AudioSession#failure()} and its {@link AudioSession#ended()} future hold the
     * {@link AudioException} with the library's result code (an {@link AudioFileException} for a failure of
     * the file system). A recorded file is valid up to the failure.
     */
    FAILED,
    /** The application stopped or closed the session. */
    STOPPED,
    /**
     * The application stopped or closed the session, but the library reported a failure while stopping;
     * the session's {@link AudioSession#ended()} future holds the {@link AudioException}.
     */
    STOP_FAILED
}
