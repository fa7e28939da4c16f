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
 * <p>The library calls {@link #InputLevel(double)} and {@link #Stopped(int)} on one thread of its own,
 * the delivery thread of this {@code initLibrary()}, never on its capture or event thread. It is attached
 * to the virtual machine once, as a daemon thread named "tessaro-listener-delivery", and detached when it
 * ends (at {@code freeLibrary()}, or once a handler still running then returns): every handler call of
 * one {@code initLibrary()} comes on the same Java thread, with its thread-locals. A slow or blocking
 * handler costs no audio, and the recording
 * goes on while a handler runs. A level that arrives while the previous one is still being handled
 * replaces any level not yet delivered (a handler that keeps up gets about 25 a second); ends are never
 * merged or lost, and arrive in order, each once. Every native method works inside both handlers and
 * never waits for the thread that calls it:
 * <ul>
 * <li>{@link #stop()}, {@link #pause(boolean[])}, {@link #record}, {@link #play},
 *     {@link #getDuration(double[])}, {@link #getCurrentPosition(double[])}, {@link #getVersion()} and
 *     {@link #addBuffer} work as on any thread.</li>
 * <li>{@link #freeLibrary()} works; the calling handler finishes normally and its thread then ends.
 *     {@link #initLibrary()} after it works too and starts a new delivery thread.</li>
 * </ul>
 * A handler may be slow, block, or take a lock that the caller of {@code stop()} holds: {@code stop()}
 * and {@code freeLibrary()} on another thread drop the levels and ends of what they stop that were not
 * delivered yet (no handler call for them begins after they return), wait for a handler call still
 * running at most 2 s, and then return. No {@code InputLevel} follows the {@code Stopped} of its stream.
 *
 * <p><b>A stream that ended before {@code stop()}.</b> {@code stop()} after a stream ended by itself (its
 * end, a lost device, or an error that aborted it, such as a full disk) still returns 0: the stream is
 * stopped and released, and its file is valid up to the failure. The {@code Stopped} that was not
 * delivered yet is dropped with the rest, but the end is not lost: the library keeps the cause of the
 * last stream that ended from the moment it learns of it (event code, result code, stream number; a
 * stream's first abnormal end, or else its first end), and the package's binding class reads it
 * (getEndCause), so that such a session ends as failed and not as stopped. The library never ends a thread that is inside Java: a handler
 * that is still running then finishes on its own, with its object still referenced, and its thread ends.
 *
 * <p>An exception thrown by a handler is cleared by the library; the first one of each
 * {@code initLibrary()} is printed (ExceptionDescribe). An exception in {@code InputLevel} does not
 * affect the recording.
 */
public class Quillmar {
    /**
     * 0x8007046B (HRESULT_FROM_WIN32(ERROR_POSSIBLE_DEADLOCK)): no longer returned. Earlier versions
     * refused some methods inside {@link #Stopped(int)} and {@link #InputLevel(double)}, which ran on the
     * library's capture and event threads; the handlers now run on a thread of their own, where every
     * method works.
     *
     * @deprecated every native method works inside the handlers; kept for source compatibility
     */
    @Deprecated
    public static final int REFUSED_IN_CALLBACK = 0x8007046B;

    /**
     * Binds the callbacks to this object and starts the library's event and delivery threads. While the
     * library is initialised a second call changes nothing and returns 0x8000FFFF (E_UNEXPECTED).
     *
     * @return the result code: 0 on success, a negative code on failure
     */
    public native int initLibrary();

    /**
     * Releases every graph, stops the event thread and drops the callbacks. Waits for a handler call
     * still running at most 2 s (not when called from inside a handler); a handler that runs longer
     * keeps its object referenced until it returns.
     */
    public native void freeLibrary();

    /**
     * The file version of the sibling module "Drovane.tar".
     *
     * @return its version A.B.C.D as 1000A + 100B + 10C + D; 0 when the module or its version is not found
     */
    public native int getVersion();

    /**
     * Records from the default capture device into a file. Refused with 0x8000FFFF (E_UNEXPECTED), before
     * anything is built or opened, while a recording or playback is held. A path holding a NUL byte is
     * refused with 0x80070057 (E_INVALIDARG), one that is not valid UTF-8 with 0x80070459, and one of 260
     * characters or more with 0x800700CE (the file writers take shorter names only).
     *
     * @param path       the file path in UTF-8, without a terminator
     * @param formatTag  85 for MP3, any other wave format tag for a WAVE file through a system compressor
     * @param sampleRate the capture sample rate in Hz (mono, 16 bits)
     * @param bitRate    the MP3 bit rate in bits per second
     * @return the result code: 0 when recording, a negative code on failure
     */
    public native int record(byte[] path, int formatTag, int sampleRate, int bitRate);

    /**
     * Plays a file or URL. Refused with 0x8000FFFF (E_UNEXPECTED) while a recording or playback is held.
     *
     * @param path   the path or URL in UTF-8, without a terminator
     * @param number a number written to the trace only
     * @return the result code: 0 when playing, a negative code on failure
     */
    public native int play(byte[] path, int number);

    /**
     * Toggles pause of the recording, or else of the playback.
     *
     * @param paused a one-element array; element 0 receives the new state (true when paused). A null
     *               or empty array is refused before anything is toggled
     * @return the result code: 0 on success, a negative code on failure
     */
    public native int pause(boolean[] paused);

    /**
     * Stops the recording, or else the playback, and releases it. A stream that an error had aborted is
     * stopped all the same (0); its failure is kept as described above.
     *
     * @return the result code: 0 on success, 0x8000FFFF (E_UNEXPECTED) when nothing was held, another
     *         negative code when the stream could not be stopped (it is then still held)
     */
    public native int stop();

    /**
     * Reads the duration of the recording, or else of the playback.
     *
     * @param seconds a one-element array; element 0 receives the duration in seconds
     * @return the result code: 0 on success, a negative code on failure
     */
    public native int getDuration(double[] seconds);

    /**
     * Reads the current position of the recording, or else of the playback. A recording's position is the
     * audio recorded so far: the 40 ms buffers its capture path measured (pauses and audio the device lost
     * are not in it).
     *
     * @param seconds a one-element array; element 0 receives the position in seconds
     * @return the result code: 0 on success, a negative code on failure
     */
    public native int getCurrentPosition(double[] seconds);

    /**
     * Inactive: does nothing.
     *
     * @param data  not used
     * @param value not used
     * @param flag  not used
     * @return always 0
     */
    public native int addBuffer(byte[] data, int value, boolean flag);

    /**
     * Called by the library when a recording or playback has ended: 0 at its end, 1 when it ended
     * abnormally: its device was lost, or a streaming error (a failed write, a stream error) aborted it,
     * after which nothing more is recorded or played. The graph is still held: call {@link #stop()}
     * (here or on another thread) to release it and close its file. Runs on the library's delivery
     * thread.
     *
     * @param reason 0 when the stream ended, 1 when it ended abnormally
     */
    public void Stopped(int reason) {
    }

    /**
     * Called by the library about 25 times a second while recording, fewer when the handler takes longer
     * (the newest level is delivered). Runs on the library's delivery thread.
     *
     * @param level the input level from 0.0 to 1.0: the peak-to-peak span of the last buffer over full scale
     */
    public void InputLevel(double level) {
    }
}
