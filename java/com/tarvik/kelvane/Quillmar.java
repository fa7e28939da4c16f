package com.tarvik.kelvane;

/**
 * The Java half of the native audio library "Tessaro": records from the default audio capture device
 * into MP3 or RIFF WAVE files, plays files and URLs, and reports the input level and the end of a
 * recording or playback through {@link #InputLevel(double)} and {@link #Stopped(int)}.
 *
 * <p>Every native method returns a 32-bit COM result code: 0 for success, 1 when there was nothing to
 * do, a negative value for a failure. Results that Java reads back are written into element 0 of the
 * one-element array passed in. The native library must be loaded (for example with
 * {@code System.loadLibrary("Tessaro")}) before the first native call.
 *
 * <p>The library calls {@link #InputLevel(double)} on its capture thread and {@link #Stopped(int)} on
 * its event thread. A native method called from inside one of them never waits for the thread that
 * calls it; where it would have to, it returns {@link #REFUSED_IN_CALLBACK} at once and does nothing:
 * <ul>
 * <li>Inside {@code InputLevel}: {@link #stop()}, {@link #pause(boolean[])}, {@link #record},
 *     {@link #play}, {@link #initLibrary()} and {@link #freeLibrary()} are always refused (they would
 *     wait for the capture thread that is calling). Do them from another thread.</li>
 * <li>Inside {@code Stopped}: {@link #stop()}, {@link #pause(boolean[])}, {@link #record},
 *     {@link #play} and {@link #freeLibrary()} work. {@code stop()} there releases the graph and the
 *     event thread stops watching it once the handler has returned; {@code freeLibrary()} there
 *     releases everything and the event thread ends by itself once the handler has returned (call
 *     {@link #initLibrary()} again from another thread). {@link #initLibrary()} is refused.</li>
 * <li>In both, {@link #getDuration(double[])} and {@link #getCurrentPosition(double[])} work; while
 *     another thread is stopping, pausing, starting or freeing (which may be waiting for the calling
 *     thread) they, and the methods above, are refused at once instead of waiting. {@link #getVersion()}
 *     and {@link #addBuffer} always work.</li>
 * </ul>
 * A handler may block or be slow: the library never ends a thread that is inside Java. A
 * {@code stop()} or {@code freeLibrary()} on another thread does not wait for a {@code Stopped}
 * handler to return (a {@code freeLibrary()} gives it up to 2 s, then leaves the event thread to end
 * by itself once the handler returns; an {@code initLibrary()} before then fails with 0x8004022E,
 * VFW_E_TIMEOUT).
 *
 * <p>An exception thrown by a handler is cleared by the library; the first one of each
 * {@code initLibrary()} is printed (ExceptionDescribe). An exception in {@code InputLevel} does not
 * affect the recording.
 */
public class Quillmar {
    /**
     * 0x8007046B (HRESULT_FROM_WIN32(ERROR_POSSIBLE_DEADLOCK)): the method was called from inside
     * {@link #Stopped(int)} or {@link #InputLevel(double)} and refused, because carrying it out would
     * have made the calling thread wait for itself. Nothing was done; call it again from another thread.
     */
    public static final int REFUSED_IN_CALLBACK = 0x8007046B;

    /** Binds the callbacks to this object and starts the library's event thread. */
    public native int initLibrary();

    /**
     * Releases every graph, stops the event thread and drops the callbacks. Refused (does nothing)
     * inside {@code InputLevel}; inside {@code Stopped} the event thread ends once the handler returns.
     */
    public native void freeLibrary();

    /** The file version A.B.C.D of the sibling module "Drovane.tar" as 1000A + 100B + 10C + D; 0 when unknown. */
    public native int getVersion();

    /**
     * Records from the default capture device into a file.
     *
     * @param path       the file path in UTF-8, without a terminator
     * @param formatTag  85 for MP3, any other wave format tag for a WAVE file through a system compressor
     * @param sampleRate the capture sample rate in Hz (mono, 16 bits)
     * @param bitRate    the MP3 bit rate in bits per second
     */
    public native int record(byte[] path, int formatTag, int sampleRate, int bitRate);

    /**
     * Plays a file or URL.
     *
     * @param path   the path or URL in UTF-8, without a terminator
     * @param number a number written to the trace only
     */
    public native int play(byte[] path, int number);

    /** Toggles pause of the recording, or else of the playback; paused[0] tells the new state. */
    public native int pause(boolean[] paused);

    /** Stops the recording, or else the playback, and releases it. */
    public native int stop();

    /** Writes the duration in seconds into seconds[0]. */
    public native int getDuration(double[] seconds);

    /** Writes the current position in seconds into seconds[0]. */
    public native int getCurrentPosition(double[] seconds);

    /** Inactive: returns 0 and does nothing else. */
    public native int addBuffer(byte[] data, int value, boolean flag);

    /**
     * Called by the library when a recording or playback has ended: 0 at its end, 1 when it ended
     * abnormally: its device was lost, or a streaming error (a failed write, a stream error) aborted it,
     * after which nothing more is recorded or played. The graph is still held: call {@link #stop()}
     * (here or on another thread) to release it and close its file. Runs on the library's event thread.
     */
    public void Stopped(int reason) {
    }

    /** Called by the library about 25 times a second while recording, with the input level from 0.0 to 1.0. */
    public void InputLevel(double level) {
    }
}
