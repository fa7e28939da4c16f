package com.tarvik.kelvane.audio;

/** Why a recording or playback ended. */
public enum EndReason {
    /** The stream reached its end (a playback played to the last sample). */
    COMPLETED,
    /** The capture device was lost during a recording. */
    DEVICE_LOST,
    /** The application stopped or closed the session. */
    STOPPED,
    /**
     * The application stopped or closed the session, but the library reported a failure while stopping;
     * the session's {@link AudioSession#ended()} future holds the {@link AudioException}.
     */
    STOP_FAILED;

    /** The end that the library reports through its "Stopped" callback: 1 device lost, else completed. */
    static EndReason fromCode(int reason) {
        return reason == 1 ? DEVICE_LOST : COMPLETED;
    }
}
