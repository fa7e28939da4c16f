package com.tarvik.kelvane.audio;

/**
 * The conversions between the package's linear volume and balance and the library's attenuations in
 * hundredths of a decibel (0 full, -10000 silence).
 *
 * <p>A volume is an amplitude factor: 0.5 halves the amplitude, which is -6.02 dB, so -602. A balance
 * turns one channel down by the same linear rule and leaves the other at full: -0.5 plays the right
 * channel at half its amplitude (the library's -602), -1.0 silences it (-10000); 0.5 and 1.0 do the same
 * to the left channel (602, 10000).
 */
final class Gain {
    /** The library's silence: -100 dB. */
    static final int SILENCE = -10000;

    private Gain() {
    }

    /** A linear gain from 0.0 to 1.0 in hundredths of a dB: 2000 log10(gain), 0.0 the library's silence. */
    static int toHundredthsDb(double gain) {
        if (Double.isNaN(gain) || gain < 0.0 || gain > 1.0) {
            throw new IllegalArgumentException("a volume is a gain from 0.0 to 1.0, got " + gain);
        }
        return gain == 0.0 ? SILENCE : (int) Math.max(SILENCE, Math.round(2000.0 * Math.log10(gain)));
    }

    /** Hundredths of a dB as a linear gain; the library's silence (or less) is 0.0. */
    static double fromHundredthsDb(int hundredths) {
        return hundredths <= SILENCE ? 0.0 : Math.pow(10.0, Math.min(hundredths, 0) / 2000.0);
    }

    /** A balance from -1.0 (right silenced) to 1.0 (left silenced) as the library's -10000 to 10000. */
    static int balanceToHundredths(double balance) {
        if (Double.isNaN(balance) || balance < -1.0 || balance > 1.0) {
            throw new IllegalArgumentException("a balance is from -1.0 (left only) to 1.0 (right only), got " + balance);
        }
        return balance < 0.0 ? toHundredthsDb(1.0 + balance) : -toHundredthsDb(1.0 - balance);
    }

    /** The library's balance as -1.0 to 1.0. */
    static double balanceFromHundredths(int hundredths) {
        return hundredths < 0 ? fromHundredthsDb(hundredths) - 1.0 : 1.0 - fromHundredthsDb(-hundredths);
    }
}
