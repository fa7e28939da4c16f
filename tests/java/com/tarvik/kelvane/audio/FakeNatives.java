package com.tarvik.kelvane.audio;

import java.nio.charset.StandardCharsets;
import java.util.ArrayList;
import java.util.List;
import java.util.concurrent.TimeUnit;
import java.util.concurrent.locks.ReentrantLock;

/**
 * Natives that behave like the library where the package depends on it: a library lock that the control
 * methods take (and give up on after a while with VFW_E_TIMEOUT, as the real stop does when it waits for
 * a thread that cannot answer), and callbacks raised on threads of their own while that lock is held.
 */
final class FakeNatives implements NativeAudio {
    final List<String> calls = new ArrayList<>();
    final ReentrantLock libraryLock = new ReentrantLock();
    volatile Events events;
    int initResult;
    int recordResult;
    int playResult;
    int stopResult;
    boolean paused;
    /** When set, stop waits for it (as a stop that waits for the library's threads). */
    volatile java.util.concurrent.CountDownLatch stopGate;
    final java.util.concurrent.CountDownLatch stopEntered = new java.util.concurrent.CountDownLatch(1);
    double duration = 2.0;
    double position = 0.5;
    byte[] lastPath;
    int[] lastRecordArguments;
    /** Streams started so far; the one held (0: none), as the library numbers them. */
    int streams;
    int heldStream;
    /** The cause of the last end raised: media event code, result code, stream number. */
    volatile int[] endCause;
    /** When set, each call's name is printed there too (for a test that watches another JVM). */
    java.io.PrintStream trace;

    @Override
    public void setEvents(Events events) {
        this.events = events;
    }

    private synchronized void call(String name) {
        calls.add(name);
        if (trace != null) {
            trace.println(name);
            trace.flush();
        }
    }

    synchronized List<String> calls() {
        return new ArrayList<>(calls);
    }

    String lastPathText() {
        return new String(lastPath, StandardCharsets.UTF_8);
    }

    private int locked(java.util.function.IntSupplier body) {
        try {
            if (!libraryLock.tryLock(2, TimeUnit.SECONDS)) {
                return ResultCodes.VFW_E_TIMEOUT;
            }
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
            return ResultCodes.E_UNEXPECTED;
        }
        try {
            return body.getAsInt();
        } finally {
            libraryLock.unlock();
        }
    }

    @Override
    public int initLibrary() {
        call("initLibrary");
        return initResult;
    }

    @Override
    public void freeLibrary() {
        call("freeLibrary");
    }

    @Override
    public int getVersion() {
        call("getVersion");
        return 2051;
    }

    @Override
    public int record(byte[] path, int formatTag, int sampleRate, int bitRate) {
        call("record");
        lastPath = path.clone();
        lastRecordArguments = new int[] {formatTag, sampleRate, bitRate};
        return started(recordResult);
    }

    @Override
    public int play(byte[] path, int number) {
        call("play");
        lastPath = path.clone();
        return started(playResult);
    }

    @Override
    public int pause(boolean[] state) {
        call("pause");
        return locked(() -> {
            paused = !paused;
            state[0] = paused;
            return 0;
        });
    }

    @Override
    public int stop() {
        call("stop");
        stopEntered.countDown();
        java.util.concurrent.CountDownLatch gate = stopGate;
        if (gate != null) {
            try {
                gate.await();
            } catch (InterruptedException e) {
                Thread.currentThread().interrupt();
            }
        }
        return locked(() -> {
            if (heldStream == 0) {
                return ResultCodes.E_UNEXPECTED;
            }
            if (stopResult >= 0) {
                heldStream = 0;
            }
            return stopResult;
        });
    }

    /** A start that succeeds holds a new stream; one that fails holds nothing (as the library). */
    private synchronized int started(int result) {
        if (result >= 0) {
            heldStream = ++streams;
        }
        return result;
    }

    @Override
    public int getDuration(double[] seconds) {
        call("getDuration");
        seconds[0] = duration;
        return 0;
    }

    @Override
    public int getCurrentPosition(double[] seconds) {
        call("getCurrentPosition");
        seconds[0] = position;
        return 0;
    }

    /** Raises the level callback on a thread of its own that holds the library lock meanwhile. */
    Thread raiseLevels(double... levels) {
        return raise(() -> {
            for (double level : levels) {
                events.inputLevel(level);
            }
        });
    }

    /** Raises "Stopped" for the held stream: 0 as a completion, 1 as a lost device. */
    Thread raiseStopped(int reason) {
        return raiseEnd(reason == 0 ? StreamEnd.EC_COMPLETE : StreamEnd.EC_DEVICE_LOST, 0);
    }

    /** Raises "Stopped" for the end of the held stream by that media event, with that result. */
    Thread raiseEnd(int event, int result) {
        return raiseEnd(event, result, heldStream);
    }

    /** Raises "Stopped" for the end of that stream, on a thread of its own that holds the library lock. */
    Thread raiseEnd(int event, int result, int stream) {
        int value = event == StreamEnd.EC_COMPLETE || event == StreamEnd.EC_STREAM_CONTROL_STOPPED ? 0 : 1;
        return raise(() -> {
            endCause = new int[] {event, result, stream};
            events.stopped(value);
        });
    }

    /** The library learnt of the end of the held stream, but a stop dropped its "Stopped" undelivered. */
    void endWithoutDelivery(int event, int result) {
        endCause = new int[] {event, result, heldStream};
    }

    private Thread raise(Runnable callback) {
        Thread thread = new Thread(() -> {
            libraryLock.lock();
            try {
                callback.run();
            } finally {
                libraryLock.unlock();
            }
        }, "fake-native");
        thread.start();
        return thread;
    }

    @Override
    public int getEndCause(int[] cause) {
        call("getEndCause");
        int[] last = endCause;
        if (last == null) {
            java.util.Arrays.fill(cause, 0);
            return ResultCodes.S_FALSE;
        }
        System.arraycopy(last, 0, cause, 0, 3);
        return ResultCodes.S_OK;
    }

    @Override
    public synchronized int getStreamNumber(int[] number) {
        call("getStreamNumber");
        number[0] = streams;
        return streams == 0 ? ResultCodes.S_FALSE : ResultCodes.S_OK;
    }

    /** The input devices, as the library lists them: "id TAB name LF" each, the default first. */
    volatile String inputDevices = "";
    byte[] lastDeviceId;

    @Override
    public int getInputDevices(byte[] list, int[] size) {
        call("getInputDevices");
        byte[] text = inputDevices.getBytes(StandardCharsets.UTF_8);
        size[0] = text.length;
        if (text.length == 0) {
            return ResultCodes.S_FALSE;
        }
        if (list == null || list.length < text.length) {
            return 0x8007007A;
        }
        System.arraycopy(text, 0, list, 0, text.length);
        return ResultCodes.S_OK;
    }

    @Override
    public int recordFromDevice(byte[] deviceId, byte[] path, int formatTag, int sampleRate, int bitRate) {
        call("recordFromDevice");
        lastDeviceId = deviceId.clone();
        lastPath = path.clone();
        lastRecordArguments = new int[] {formatTag, sampleRate, bitRate};
        String id = new String(deviceId, StandardCharsets.UTF_8);
        boolean present = false;
        for (String line : inputDevices.split("\n")) {
            present |= line.startsWith(id + "\t");
        }
        return present ? started(recordResult) : ResultCodes.DEVICE_NOT_PRESENT;
    }

    /** What getDroppedAudio tells: gaps and seconds, and its result (S_FALSE: no time stamps). */
    volatile double[] dropped = {0, 0};
    volatile int droppedResult = ResultCodes.S_OK;

    @Override
    public int getDroppedAudio(double[] figures) {
        call("getDroppedAudio");
        if (figures == null) {
            return ResultCodes.E_INVALIDARG;
        }
        if (figures.length < 2) {
            return 0x8007007A;
        }
        if (droppedResult >= 0) {
            System.arraycopy(dropped, 0, figures, 0, 2);
        }
        return droppedResult;
    }

    /** The held playback's volume and balance (hundredths of a dB); whether it can seek and has a renderer. */
    int volume;
    int balance;
    boolean seekable = true;
    boolean renderer = true;

    /** As the library: only a held playback answers; a refused value changes nothing. */
    private int playbackControl(boolean valid, boolean possible, int impossible, Runnable change) {
        if (heldStream == 0) {
            return ResultCodes.VFW_E_WRONG_STATE;
        }
        if (!possible) {
            return impossible;
        }
        if (!valid) {
            return ResultCodes.E_INVALIDARG;
        }
        change.run();
        return ResultCodes.S_OK;
    }

    @Override
    public int setPosition(double seconds) {
        call("setPosition " + seconds);
        return playbackControl(seconds >= 0 && seconds <= duration, seekable, ResultCodes.E_NOTIMPL,
                () -> position = seconds);
    }

    @Override
    public int setVolume(int value) {
        call("setVolume " + value);
        return playbackControl(value >= -10000 && value <= 0, renderer, ResultCodes.E_NOINTERFACE, () -> volume = value);
    }

    @Override
    public int getVolume(int[] value) {
        call("getVolume");
        return playbackControl(true, renderer, ResultCodes.E_NOINTERFACE, () -> value[0] = volume);
    }

    @Override
    public int setBalance(int value) {
        call("setBalance " + value);
        return playbackControl(value >= -10000 && value <= 10000, renderer, ResultCodes.E_NOINTERFACE,
                () -> balance = value);
    }

    @Override
    public int getBalance(int[] value) {
        call("getBalance");
        return playbackControl(true, renderer, ResultCodes.E_NOINTERFACE, () -> value[0] = balance);
    }

    /** The output devices, as the library lists them: "id TAB name LF" each, the default first. */
    volatile String outputDevices = "";

    @Override
    public int getOutputDevices(byte[] list, int[] size) {
        call("getOutputDevices");
        byte[] text = outputDevices.getBytes(StandardCharsets.UTF_8);
        size[0] = text.length;
        if (text.length == 0) {
            return ResultCodes.S_FALSE;
        }
        if (list == null || list.length < text.length) {
            return 0x8007007A;
        }
        System.arraycopy(text, 0, list, 0, text.length);
        return ResultCodes.S_OK;
    }

    @Override
    public int playOnDevice(byte[] deviceId, byte[] path, int number) {
        call("playOnDevice");
        lastDeviceId = deviceId.clone();
        lastPath = path.clone();
        boolean present = false;
        for (String line : outputDevices.split("\n")) {
            present |= line.startsWith(new String(deviceId, StandardCharsets.UTF_8) + "\t");
        }
        return present ? started(playResult) : ResultCodes.DEVICE_NOT_PRESENT;
    }

    int[] lastOptions;
    /** What getStreamLoss tells: chunks, bytes, seconds. */
    volatile double[] streamLoss = {0, 0, 0};

    @Override
    public int recordWithOptions(byte[] deviceId, byte[] path, int[] options) {
        call("recordWithOptions");
        lastDeviceId = deviceId == null ? null : deviceId.clone();
        lastPath = path == null ? null : path.clone();
        lastOptions = options.clone();
        return started(recordResult);
    }

    @Override
    public int getStreamLoss(double[] loss) {
        call("getStreamLoss");
        System.arraycopy(streamLoss, 0, loss, 0, 3);
        return ResultCodes.S_OK;
    }

    /** Raises "StreamFormat" and then "StreamData" with each chunk (null ends the stream), as the delivery thread. */
    Thread raiseStream(byte[] format, byte[]... chunks) {
        return raise(() -> {
            if (format != null) {
                events.streamFormat(format);
            }
            for (byte[] chunk : chunks) {
                events.streamData(chunk);
            }
        });
    }
}
