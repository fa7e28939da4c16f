package com.tarvik.kelvane.audio;

import com.tarvik.kelvane.Quillmar;

/**
 * The real natives: a {@link Quillmar} whose callbacks are forwarded to the package's events at once,
 * without any other work on the library's threads.
 */
final class QuillmarBinding extends Quillmar implements NativeAudio {
    private volatile Events events;

    @Override
    public void setEvents(Events events) {
        this.events = events;
    }

    @Override
    public void Stopped(int reason) {
        Events target = events;
        if (target != null) {
            target.stopped(reason);
        }
    }

    @Override
    public void InputLevel(double level) {
        Events target = events;
        if (target != null) {
            target.inputLevel(level);
        }
    }

    /** Called by the library with the format of a recording's stream, before its first data. */
    public void StreamFormat(byte[] format) {
        Events target = events;
        if (target != null) {
            target.streamFormat(format);
        }
    }

    /** Called by the library with each chunk of a recording's stream; null after the last. */
    public void StreamData(byte[] data) {
        Events target = events;
        if (target != null) {
            target.streamData(data);
        }
    }

    @Override
    public native int getEndCause(int[] cause);

    @Override
    public native int getStreamNumber(int[] number);

    @Override
    public native int getInputDevices(byte[] list, int[] size);

    @Override
    public native int recordFromDevice(byte[] deviceId, byte[] path, int formatTag, int sampleRate, int bitRate);

    @Override
    public native int getDroppedAudio(double[] dropped);

    @Override
    public native int setPosition(double seconds);

    @Override
    public native int setVolume(int volume);

    @Override
    public native int getVolume(int[] volume);

    @Override
    public native int setBalance(int balance);

    @Override
    public native int getBalance(int[] balance);

    @Override
    public native int getOutputDevices(byte[] list, int[] size);

    @Override
    public native int playOnDevice(byte[] deviceId, byte[] path, int number);

    @Override
    public native int recordWithOptions(byte[] deviceId, byte[] path, int[] options);

    @Override
    public native int getStreamLoss(double[] loss);
}
