package com.tarvik.kelvane.audio;

import java.util.HashMap;
import java.util.Map;

/**
 * Names and short explanations of the 32-bit result codes that the native library returns: 0 is
 * success, 1 means there was nothing to do, negative values are failures. The table holds every code that
 * the library, the platform's filter graphs under it and the audio compression manager return; the
 * command-line tool quillmar names codes from the same table.
 */
public final class ResultCodes {
    /** Success. */
    public static final int S_OK = 0;
    /** Success with nothing to do. */
    public static final int S_FALSE = 1;
    /** No recording or playback is held, one is held already, or the library is in the wrong state. */
    public static final int E_UNEXPECTED = 0x8000FFFF;
    /** An empty path, a missing array, or no audio input device. */
    public static final int E_INVALIDARG = 0x80070057;
    /** The media event thread did not acknowledge in time (stop called from inside a callback). */
    public static final int VFW_E_TIMEOUT = 0x8004022E;
    /** No audio compressor of the system produces the requested wave format. */
    public static final int VFW_E_UNSUPPORTED_AUDIO = 0x8004025C;
    /** The chosen input or output device is not present (unplugged since it was listed). */
    public static final int DEVICE_NOT_PRESENT = 0x8007048F;
    /** The playback's stream cannot seek (some URL sources). */
    public static final int E_NOTIMPL = 0x80004001;
    /** The playback has no audio renderer, so it has no volume or balance. */
    public static final int E_NOINTERFACE = 0x80004002;
    /** No playback is held (nothing, or a recording, is). */
    public static final int VFW_E_WRONG_STATE = 0x80040227;

    private static final Map<Integer, Integer> INDEX = new HashMap<>();

    static {
        for (int i = 0; i < ResultCodeTable.CODES.length; i++) {
            INDEX.put(ResultCodeTable.CODES[i], i);
        }
    }

    private ResultCodes() {
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
        Integer index = INDEX.get(code);
        return index != null ? ResultCodeTable.NAMES[index] : hex(code);
    }

    /**
     * A code with its name and explanation.
     *
     * @param code a result code
     * @return for example "0x8004025C VFW_E_UNSUPPORTED_AUDIO (no audio compressor of the system produces
     *         this format)", or the code in hex when it is not known
     */
    public static String describe(int code) {
        Integer index = INDEX.get(code);
        return index != null ? hex(code) + " " + ResultCodeTable.NAMES[index] + " (" + ResultCodeTable.TEXTS[index] + ")"
                : hex(code);
    }

    /** The short explanation of a code, or "result code 0x…" when it is not known. */
    static String explain(int code) {
        Integer index = INDEX.get(code);
        return index != null ? ResultCodeTable.TEXTS[index] : "result code " + hex(code);
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
