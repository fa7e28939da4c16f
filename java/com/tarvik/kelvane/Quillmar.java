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
 * its event thread; neither may call {@link #pause(boolean[])} or {@link #stop()} directly.
 */
public class Quillmar {
    /** Binds the callbacks to this object and starts the library's event thread. */
    public native int initLibrary();

    /** Releases every graph, stops the event thread and drops the callbacks. */
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
     * Called by the library when a recording or playback has ended: 0 at its end, 1 when its device was
     * lost. Runs on the library's event thread.
     */
    public void Stopped(int reason) {
    }

    /** Called by the library about 25 times a second while recording, with the input level from 0.0 to 1.0. */
    public void InputLevel(double level) {
    }
}
