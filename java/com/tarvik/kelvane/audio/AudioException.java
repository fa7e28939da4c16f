package com.tarvik.kelvane.audio;

/** A native call that failed, with the result code the library returned. */
public class AudioException extends Exception {
    private static final long serialVersionUID = 1L;

    private final int resultCode;

    /**
     * @param operation  what was attempted, such as "record"
     * @param resultCode the library's negative result code
     */
    public AudioException(String operation, int resultCode) {
        super(operation + " failed: " + ResultCodes.describe(resultCode));
        this.resultCode = resultCode;
    }

    /** The 32-bit result code, for example 0x8004025C. */
    public int resultCode() {
        return resultCode;
    }

    /** The symbolic name of the result code, for example "VFW_E_UNSUPPORTED_AUDIO". */
    public String resultName() {
        return ResultCodes.nameOf(resultCode);
    }

    static void check(String operation, int resultCode) throws AudioException {
        if (resultCode < 0) {
            throw new AudioException(operation, resultCode);
        }
    }
}
