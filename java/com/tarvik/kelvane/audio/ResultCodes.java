package com.tarvik.kelvane.audio;

import java.util.HashMap;
import java.util.Map;

/**
 * Names and short explanations of the 32-bit result codes that the native library returns: 0 is
 * success, 1 means there was nothing to do, negative values are failures.
 */
public final class ResultCodes {
    /** Success. */
    public static final int S_OK = 0;
    /** Success with nothing to do. */
    public static final int S_FALSE = 1;
    /** No recording or playback is held, or the library is in the wrong state. */
    public static final int E_UNEXPECTED = 0x8000FFFF;
    /** An empty path, a missing array, or no audio input device. */
    public static final int E_INVALIDARG = 0x80070057;
    /** The media event thread did not acknowledge in time (stop called from inside a callback). */
    public static final int VFW_E_TIMEOUT = 0x8004022E;
    /** No audio compressor of the system produces the requested wave format. */
    public static final int VFW_E_UNSUPPORTED_AUDIO = 0x8004025C;

    private static final Map<Integer, String[]> CODES = new HashMap<>();

    static {
        add(S_OK, "S_OK", "success");
        add(S_FALSE, "S_FALSE", "nothing to do");
        add(E_UNEXPECTED, "E_UNEXPECTED", "unexpected state: nothing held, or the library is not initialised");
        add(0x80004001, "E_NOTIMPL", "not implemented: the capture device has no usable input mixer");
        add(0x8007000E, "E_OUTOFMEMORY", "out of memory");
        add(E_INVALIDARG, "E_INVALIDARG", "invalid argument: empty path, missing array or no input device");
        add(0x80004002, "E_NOINTERFACE", "interface not supported by the capture device");
        add(0x80004003, "E_POINTER", "invalid pointer");
        add(0x80004004, "E_ABORT", "aborted: a Java method or reference could not be obtained");
        add(0x80004005, "E_FAIL", "unspecified failure");
        add(0x80070005, "E_ACCESSDENIED", "access denied");
        add(0x80040154, "REGDB_E_CLASSNOTREG", "class not registered: a platform filter is missing");
        add(0x80070002, "HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)", "file not found");
        add(0x80070003, "HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND)", "path not found");
        add(0x80070020, "HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION)", "file in use by another process");
        add(0x80070070, "HRESULT_FROM_WIN32(ERROR_DISK_FULL)", "disk full");
        add(0x8007007A, "HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER)", "output array of length 0");
        add(0x8007007B, "HRESULT_FROM_WIN32(ERROR_INVALID_NAME)", "invalid file name");
        add(0x80070459, "HRESULT_FROM_WIN32(ERROR_NO_UNICODE_TRANSLATION)", "path is not valid UTF-8");
        add(0x80040216, "VFW_E_NOT_FOUND", "object or name not found (capture pin, tee output)");
        add(0x80040217, "VFW_E_CANNOT_CONNECT", "no filters found to make the connection");
        add(0x80040218, "VFW_E_CANNOT_RENDER", "no filters found to render the stream (no audio output?)");
        add(0x80040227, "VFW_E_WRONG_STATE", "operation not allowed in the current state");
        add(VFW_E_TIMEOUT, "VFW_E_TIMEOUT", "timeout: stop or pause was called from inside a callback");
        add(0x8004022F, "VFW_E_INVALID_FILE_FORMAT", "invalid file format");
        add(0x80040240, "VFW_E_UNKNOWN_FILE_TYPE", "media type of the file not recognised");
        add(0x80040241, "VFW_E_CANNOT_LOAD_SOURCE_FILTER", "source filter for the file could not be loaded");
        add(0x80040256, "VFW_E_NO_AUDIO_HARDWARE", "no audio hardware");
        add(VFW_E_UNSUPPORTED_AUDIO, "VFW_E_UNSUPPORTED_AUDIO", "no audio compressor produces this format");
        add(0x80040265, "VFW_E_UNSUPPORTED_STREAM", "unsupported stream");
    }

    private ResultCodes() {
    }

    private static void add(int code, String name, String text) {
        CODES.put(code, new String[] {name, text});
    }

    /**
     * Whether a code means success.
     *
     * @param code a result code
     * @return true for success codes (0 and positive values)
     */
    public static boolean succeeded(int code) {
        return code >= 0;
    }

    /**
     * The symbolic name of a code.
     *
     * @param code a result code
     * @return the name, such as "VFW_E_UNSUPPORTED_AUDIO", or the code in hex when it is not known
     */
    public static String nameOf(int code) {
        String[] entry = CODES.get(code);
        return entry != null ? entry[0] : hex(code);
    }

    /**
     * A code with its name and explanation.
     *
     * @param code a result code
     * @return for example "0x8004025C VFW_E_UNSUPPORTED_AUDIO (no audio compressor produces this format)"
     */
    public static String describe(int code) {
        String[] entry = CODES.get(code);
        return entry != null ? hex(code) + " " + entry[0] + " (" + entry[1] + ")" : hex(code);
    }

    /** The short explanation of a code, or "result code 0x…" when it is not known. */
    static String explain(int code) {
        String[] entry = CODES.get(code);
        return entry != null ? entry[1] : "result code " + hex(code);
    }

    /**
     * A code in hex.
     *
     * @param code a result code
     * @return "0x" and eight upper-case hex digits
     */
    public static String hex(int code) {
        return String.format("0x%08X", code);
    }
}
