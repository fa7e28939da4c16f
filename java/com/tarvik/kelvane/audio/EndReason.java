package com.tarvik.kelvane.audio;

/** Why the library ended a recording or playback. */
public enum EndReason {
    /** The stream reached its end. */
    COMPLETED,
    /** The capture device was lost. */
    DEVICE_LOST;

    static EndReason fromCode(int reason) {
        return reason == 1 ? DEVICE_LOST : COMPLETED;
    }
}
