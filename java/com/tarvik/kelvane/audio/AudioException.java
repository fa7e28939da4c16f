package com.tarvik.kelvane.audio;

/**
 * A call into the native library that failed, with the operation, the file or URL it was about (when
 * there is one) and the result code the library returned. Failures of the file system, such as a missing
 * directory or a file that may not be written, are {@link AudioFileException}s.
 */
public class AudioException extends Exception {
    private static final long serialVersionUID = 1L;

    /** What was attempted. */
    private final String operation;
    /** The file or URL; null when none. */
    private final String target;
    /** The library's result code. */
    private final int resultCode;

    /**
     * Makes the exception for a failed operation.
     *
     * @param operation  what was attempted, such as "record" or "stop"
     * @param target     the file or URL the operation was about; null when none
     * @param resultCode the library's negative result code
     */
    public AudioException(String operation, String target, int resultCode) {
        super(message(operation, target, resultCode));
        this.operation = operation;
        this.target = target;
        this.resultCode = resultCode;
    }

    private static String message(String operation, String target, int resultCode) {
        return operation + (target != null ? " \"" + target + "\"" : "") + " failed: " + ResultCodes.describe(resultCode);
    }

    /**
     * The failure of an operation: an {@link AudioFileException} when the code is a file-system failure
     * and a file or URL is known, else a plain AudioException.
     */
    static AudioException of(String operation, String target, int resultCode) {
        if (target != null && AudioFileException.isFileSystemFailure(resultCode)) {
            return new AudioFileException(operation, target, resultCode);
        }
        return new AudioException(operation, target, resultCode);
    }

    /**
     * What was attempted.
     *
     * @return the operation, such as "record"
     */
    public String operation() {
        return operation;
    }

    /**
     * The file or URL the failed operation was about.
     *
     * @return the path or URL as given to the library; null when the operation has none
     */
    public String target() {
        return target;
    }

    /**
     * The library's result code.
     *
     * @return the 32-bit result code, for example 0x8004025C
     */
    public int resultCode() {
        return resultCode;
    }

    /**
     * The symbolic name of the result code.
     *
     * @return the name, for example "VFW_E_UNSUPPORTED_AUDIO", or the code in hex when it has no name
     */
    public String resultName() {
        return ResultCodes.nameOf(resultCode);
    }
}
