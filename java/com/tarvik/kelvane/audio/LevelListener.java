package com.tarvik.kelvane.audio;

/**
 * Receives the input level of a recording, about 25 times a second. Runs on the package's event thread
 * and may call any method; levels that arrive while it is busy are coalesced to the newest.
 */
@FunctionalInterface
public interface LevelListener {
    /** @param level the input level from 0.0 (silence) to 1.0 (full scale) */
    void levelChanged(double level);
}
