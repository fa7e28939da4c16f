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
}
