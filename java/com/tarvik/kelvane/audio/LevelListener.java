package com.tarvik.kelvane.audio;

/**
 * Receives the input level of a recording, about 25 times a second (once per 40 ms buffer that the
 * capture device delivers). Runs on the package's event thread (see {@link AudioLibrary}) and may call any
 * method of the package; when it is slower than the levels come, the waiting levels are coalesced to the
 * newest one.
 */
@FunctionalInterface
public interface LevelListener {
    /**
     * Called with each measured level.
     *
     * @param level the linear peak-to-peak amplitude of the last buffer as a fraction of full scale, from
     *              0.0 (silence) to 1.0 (a signal spanning the whole 16-bit range)
     */
    void levelChanged(double level);
}
