/**
 * Recording and playback with the native Tessaro library on Windows.
 *
 * <p>{@link com.tarvik.kelvane.audio.AudioLibrary} loads and opens the library (see
 * {@link com.tarvik.kelvane.audio.NativeLibraryLoader} for which file it loads and from where);
 * {@link com.tarvik.kelvane.audio.Recording} and {@link com.tarvik.kelvane.audio.Playback} are the sessions,
 * {@link com.tarvik.kelvane.audio.RecordingFormat} says what a recording writes, and failures are
 * {@link com.tarvik.kelvane.audio.AudioException}s carrying the library's result code, with its name and
 * explanation from {@link com.tarvik.kelvane.audio.ResultCodes}.
 *
 * <p>Supported JVMs: any 64-bit (x64) Windows JVM from Java 8 on, and the 32-bit (x86) Windows builds of
 * Java 8 to 23. The jar's classes are Java 8 class files (version 52) using Java 8's API only.
 *
 * <p>Listeners ({@link com.tarvik.kelvane.audio.LevelListener}, {@link com.tarvik.kelvane.audio.EndListener},
 * {@link com.tarvik.kelvane.audio.SessionListener}) run on the package's own event thread, "tessaro-events",
 * never on the Swing event thread. The level is the linear peak-to-peak amplitude from 0.0 to 1.0. Times
 * are {@link java.time.Duration}s. The library writes its trace into "Tessaro.log" and
 * "MPEG2AudioEncoder.log" in the current directory (or the temporary directory when that cannot be
 * written).
 */
package com.tarvik.kelvane.audio;
