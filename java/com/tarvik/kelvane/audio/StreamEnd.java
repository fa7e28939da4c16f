package com.tarvik.kelvane.audio;

/**
 * An end of a stream as the library reported it: its "Stopped" value with the cause read inside that
 * callback (media event code, result code, stream number).
 */
final class StreamEnd {
    /** The stream played or was captured to its end. */
    static final int EC_COMPLETE = 0x01;
    /** The stream was aborted by an error. */
    static final int EC_ERRORABORT = 0x03;
    /** A stream stopped because of an error. */
    static final int EC_STREAM_ERROR_STOPPED = 0x07;
    /** Stream control stopped the stream. */
    static final int EC_STREAM_CONTROL_STOPPED = 0x1A;
    /** The device was lost. */
    static final int EC_DEVICE_LOST = 0x1F;
    /** The result of an abort whose cause the library did not tell. */
    static final int E_FAIL = 0x80004005;

    final EndReason reason;
    /** The error of an abort; 0 otherwise. */
    final int resultCode;
    /** The number of the stream that ended; 0 when the library did not tell. */
    final int stream;

    private StreamEnd(EndReason reason, int resultCode, int stream) {
        this.reason = reason;
        this.resultCode = resultCode;
        this.stream = stream;
    }

    /**
     * The end that the library kept for a stream (getEndCause's answer, S_OK), read after a stop that
     * came before its "Stopped" was handled; null when the library kept none.
     */
    static StreamEnd ofRecord(int causeResult, int[] cause) {
        if (causeResult != ResultCodes.S_OK) {
            return null;
        }
        boolean normal = cause[0] == EC_COMPLETE || cause[0] == EC_STREAM_CONTROL_STOPPED;
        return of(normal ? 0 : 1, causeResult, cause);
    }

    /**
     * The end from the "Stopped" value and what getEndCause answered inside that callback. Without a cause
     * (a library that tells none), 0 is a completion and any other value a lost device.
     */
    static StreamEnd of(int stoppedValue, int causeResult, int[] cause) {
        if (causeResult != ResultCodes.S_OK) {
            return new StreamEnd(stoppedValue == 0 ? EndReason.COMPLETED : EndReason.DEVICE_LOST, 0, 0);
        }
        int event = cause[0];
        int result = cause[1];
        int stream = cause[2];
        switch (event) {
            case EC_COMPLETE:
            case EC_STREAM_CONTROL_STOPPED:
                return new StreamEnd(EndReason.COMPLETED, 0, stream);
            case EC_DEVICE_LOST:
                return new StreamEnd(EndReason.DEVICE_LOST, 0, stream);
            default:
                // EC_ERRORABORT, EC_STREAM_ERROR_STOPPED and anything else that ended a stream with a value
                // other than 0: an error, with its code when the library has one.
                if (stoppedValue == 0 && result >= 0) {
                    return new StreamEnd(EndReason.COMPLETED, 0, stream);
                }
                return new StreamEnd(EndReason.FAILED, result < 0 ? result : E_FAIL, stream);
        }
    }
}
