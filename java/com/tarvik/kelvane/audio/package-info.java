/**
 * Recording and playback with the native Tessaro library: {@link com.tarvik.kelvane.audio.AudioLibrary}
 * opens it, {@link com.tarvik.kelvane.audio.Recording} and {@link com.tarvik.kelvane.audio.Playback} are
 * the sessions, listeners hear the input level and the end of a stream on an event thread of the
 * package, and failures are {@link com.tarvik.kelvane.audio.AudioException}s carrying the library's
 * result code.
 */
package com.tarvik.kelvane.audio;
