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
     * otherwise), element 2 the number of the stream it ended. Inside {@code stopped} it describes that
     * very end; elsewhere the last end delivered. S_FALSE (1) with zeros when no stream has ended.
     */
    int getEndCause(int[] cause);

    /**
     * The number of the stream that the last successful record or play started (1, 2, ...); S_FALSE (1)
     * and 0 before the first.
     */
    int getStreamNumber(int[] number);
}
