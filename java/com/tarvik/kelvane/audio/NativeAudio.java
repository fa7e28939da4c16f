package com.tarvik.kelvane.audio;

/**
 * The native methods of {@link com.tarvik.kelvane.Quillmar} as the package calls them, so that tests can
 * put a fake in place of the native library. Results are the library's 32-bit result codes.
 */
interface NativeAudio {
    /** Receives the library's two callbacks; called on the library's own threads. */
    interface Events {
        void stopped(int reason);

        void inputLevel(double level);

        /** The format of the stream of the recording that streams now: a WAVEFORMATEX with its extra bytes. */
        void streamFormat(byte[] format);

        /** A chunk of that stream, in order; null ends it. */
        void streamData(byte[] data);
    }

    /** Where the callbacks go from now on; null drops them. */
    void setEvents(Events events);

    int initLibrary();

    void freeLibrary();

    int getVersion();

    int record(byte[] path, int formatTag, int sampleRate, int bitRate);

    int play(byte[] path, int number);

    int pause(boolean[] paused);

    int stop();

    int getDuration(double[] seconds);

    int getCurrentPosition(double[] seconds);

    /**
     * Why a stream ended: element 0 the media event code (1 complete, 3 or 7 aborted by an error, 0x1A
     * stream control stopped, 0x1F device lost), element 1 its result code (the error of an abort, 0
     * otherwise), element 2 the number of the stream it ended: the end record of the last stream that
     * ended, kept from the moment the library learnt of the end (not when "Stopped" is delivered), so a
     * stop that came first or a "Stopped" that could not be delivered does not lose it. A stream's record
     * is its first abnormal end (a lost device or an error), or else its first end. S_FALSE (1) with
     * zeros when no stream has ended.
     */
    int getEndCause(int[] cause);

    /**
     * The number of the stream that the last successful record or play started (1, 2, ...); S_FALSE (1)
     * and 0 before the first.
     */
    int getStreamNumber(int[] number);

    /**
     * The audio input devices present now, in the system's order, the first the default that
     * {@link #record} uses. The list is UTF-8 text, one device per line, "id TAB name LF"; control
     * characters of a name are spaces. size[0] receives the number of bytes the list needs. S_OK (0) with
     * the list in the first size[0] bytes of list (the rest untouched); S_FALSE (1) with size[0] 0 when
     * there is no device; 0x8007007A (insufficient buffer) when list is null or shorter, with size[0] set
     * (devices may come and go between two calls: ask again with the new size); E_INVALIDARG when size
     * is null or empty. Under the library lock.
     */
    int getInputDevices(byte[] list, int[] size);

    /**
     * As {@link #record}, from the input device with that id (UTF-8, as {@link #getInputDevices} gives
     * it). An id that no device present has fails at once with 0x8007048F, nothing built or written; an
     * empty or null id with E_INVALIDARG.
     */
    int recordFromDevice(byte[] deviceId, byte[] path, int formatTag, int sampleRate, int bitRate);

    /**
     * The audio the capture device lost in the current recording, or in the last one once it has
     * stopped: element 0 the number of gaps, element 1 the audio time they miss, in seconds. S_OK (0);
     * S_FALSE (1) when the device set no time stamps (gaps counted from its discontinuities, their length
     * unknown, element 1 then 0); zeros before the first recording; 0x8007007A (insufficient buffer) for
     * an array shorter than 2; E_INVALIDARG for null. Under the library lock.
     */
    int getDroppedAudio(double[] dropped);

    /**
     * Moves the held playback to that many seconds from its start (absolute; where it stops is not
     * changed), playing or paused as it was; {@link #getCurrentPosition} reads the new place. E_INVALIDARG
     * for a negative, NaN or past-the-end position; E_NOTIMPL for a stream that cannot seek (some URL
     * sources); VFW_E_WRONG_STATE when no playback is held. A failure changes nothing.
     */
    int setPosition(double seconds);

    /**
     * The held playback's volume, in hundredths of a decibel from -10000 (silence) to 0 (full).
     * E_INVALIDARG outside; E_NOINTERFACE for a playback without an audio renderer; VFW_E_WRONG_STATE
     * when no playback is held.
     */
    int setVolume(int volume);

    /** The held playback's volume into volume[0], results as {@link #setVolume}. */
    int getVolume(int[] volume);

    /**
     * The held playback's balance, in hundredths of a decibel from -10000 (the right channel silenced) to
     * 10000 (the left silenced), 0 both at full. Results as {@link #setVolume}.
     */
    int setBalance(int balance);

    /** The held playback's balance into balance[0], results as {@link #setBalance}. */
    int getBalance(int[] balance);

    /**
     * The audio output devices (audio renderers) present now, the first the default that {@link #play}
     * uses; list, size and results exactly as {@link #getInputDevices}.
     */
    int getOutputDevices(byte[] list, int[] size);

    /**
     * As {@link #play}, rendered on the output device with that id (UTF-8, as {@link #getOutputDevices}
     * gives it; null plays as {@link #play}). An id that no device present has fails at once with
     * 0x8007048F, nothing built; an empty id with E_INVALIDARG.
     */
    int playOnDevice(byte[] deviceId, byte[] path, int number);

    /**
     * Starts a recording from options: element 0 the format tag, 1 the sample rate, 2 the channels (1 or
     * 2), 3 the CBR bit rate, 4 the VBR quality (-1 for a constant bit rate; 0 to 9, MP3 only), 5 the flags
     * (bit 0: the recorded bytes are also handed to {@link Events#streamFormat} and
     * {@link Events#streamData}). deviceId null: the default device; path null: no file (then the stream
     * is required). Returns what {@link #record} returns.
     */
    int recordWithOptions(byte[] deviceId, byte[] path, int[] options);

    /**
     * What the library dropped from the stream of the current (or last) streamed recording because it was
     * not taken in time: element 0 the chunks, 1 the bytes, 2 the seconds of audio. S_OK, zeros when none;
     * 0x8007007A for an array shorter than 3; E_INVALIDARG for null. Under the library lock.
     */
    int getStreamLoss(double[] loss);
}
