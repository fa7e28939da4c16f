package com.tarvik.kelvane.audio;

import java.nio.charset.StandardCharsets;
import java.time.Duration;
import java.util.Objects;
import java.util.Optional;
import java.util.concurrent.TimeUnit;

/**
 * A playback of a file or URL, on the default output device or a chosen {@link OutputDevice}. It releases
 * itself when it reaches the end ({@link EndReason#COMPLETED}).
 *
 * <p>While it is active it can be moved ({@link #seek(Duration)}) and its volume and balance set, playing
 * or paused. The volume is a linear gain (an amplitude factor: 0.5 is half the amplitude, -6 dB), the
 * balance turns one channel down by the same rule:
 *
 * <pre>{@code
 * playback.seek(Duration.ofSeconds(5));   // plays on from 5 s
 * playback.setVolume(0.5);                // half the amplitude
 * playback.setBalance(-1.0);              // the left channel only
 * }</pre>
 */
public final class Playback extends AudioSession {
    /** Null: the system's default device. */
    private final OutputDevice device;

    Playback(AudioLibrary library, String source, OutputDevice device) {
        super(library, source);
        this.device = device;
    }

    /**
     * The file or URL being played.
     *
     * @return the absolute path or the URL as given to the library
     */
    public String source() {
        return target();
    }

    /**
     * The device chosen to play on.
     *
     * @return the device; empty when the playback uses the system's default device
     */
    public Optional<OutputDevice> device() {
        return Optional.ofNullable(device);
    }

    /**
     * The length of the stream.
     *
     * @return the duration
     * @throws AudioException        when the library fails to tell it
     * @throws IllegalStateException when the playback is not active
     */
    public Duration duration() throws AudioException {
        return library.duration(this);
    }

    /**
     * Moves the playback to a position from the start of the stream; a paused playback stays paused there.
     * {@link #position()} reads the new place. A failure changes nothing.
     *
     * @param position where to play on, from zero to the {@link #duration()}
     * @throws AudioException           with {@link ResultCodes#E_INVALIDARG} for a position past the end,
     *                                  {@link ResultCodes#E_NOTIMPL} for a stream that cannot seek (some URL
     *                                  sources)
     * @throws IllegalArgumentException when the position is negative
     * @throws IllegalStateException    when the playback is not active
     */
    public void seek(Duration position) throws AudioException {
        if (Objects.requireNonNull(position, "position").isNegative()) {
            throw new IllegalArgumentException("a position is not negative, got " + position);
        }
        double seconds = position.getSeconds() + position.getNano() / (double) TimeUnit.SECONDS.toNanos(1);
        library.control(this, "setPosition", natives -> natives.setPosition(seconds));
    }

    /**
     * Sets the volume of the playback. The library attenuates in hundredths of a decibel, 2000 log10(gain),
     * down to -100 dB; 0.0 is silence.
     *
     * @param gain the amplitude factor, from 0.0 (silent) to 1.0 (full, the start's volume)
     * @throws AudioException           with {@link ResultCodes#E_NOINTERFACE} when the stream has no audio
     *                                  renderer
     * @throws IllegalArgumentException when the gain is NaN or outside 0.0 to 1.0
     * @throws IllegalStateException    when the playback is not active
     */
    public void setVolume(double gain) throws AudioException {
        int hundredths = Gain.toHundredthsDb(gain);
        library.control(this, "setVolume", natives -> natives.setVolume(hundredths));
    }

    /**
     * The volume of the playback.
     *
     * @return the amplitude factor, from 0.0 to 1.0 (within the library's hundredth of a decibel)
     * @throws AudioException        with {@link ResultCodes#E_NOINTERFACE} when the stream has no audio renderer
     * @throws IllegalStateException when the playback is not active
     */
    public double volume() throws AudioException {
        return Gain.fromHundredthsDb(library.query(this, "getVolume", NativeAudio::getVolume));
    }

    /**
     * Sets the balance between the left and right channel. The channel away from the balance is turned
     * down as {@link #setVolume(double)} turns down both: -0.5 plays the right channel at half its
     * amplitude (-6 dB) and the left at full, -1.0 silences the right; 0.5 and 1.0 do the same to the
     * left channel; 0.0 plays both at full.
     *
     * @param balance from -1.0 (the left channel only) to 1.0 (the right channel only)
     * @throws AudioException           with {@link ResultCodes#E_NOINTERFACE} when the stream has no audio
     *                                  renderer
     * @throws IllegalArgumentException when the balance is NaN or outside -1.0 to 1.0
     * @throws IllegalStateException    when the playback is not active
     */
    public void setBalance(double balance) throws AudioException {
        int hundredths = Gain.balanceToHundredths(balance);
        library.control(this, "setBalance", natives -> natives.setBalance(hundredths));
    }

    /**
     * The balance between the left and right channel, as {@link #setBalance(double)} takes it.
     *
     * @return from -1.0 (the left channel only) to 1.0 (the right channel only)
     * @throws AudioException        with {@link ResultCodes#E_NOINTERFACE} when the stream has no audio renderer
     * @throws IllegalStateException when the playback is not active
     */
    public double balance() throws AudioException {
        return Gain.balanceFromHundredths(library.query(this, "getBalance", NativeAudio::getBalance));
    }

    @Override
    String kind() {
        return "playback";
    }

    @Override
    int startNative(NativeAudio natives) {
        byte[] path = target().getBytes(StandardCharsets.UTF_8);
        if (device != null) {
            return natives.playOnDevice(device.id().getBytes(StandardCharsets.UTF_8), path, 0);
        }
        return natives.play(path, 0);
    }
}
