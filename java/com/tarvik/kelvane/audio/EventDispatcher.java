package com.tarvik.kelvane.audio;

import java.util.ArrayDeque;
import java.util.function.DoubleConsumer;
import java.util.function.IntConsumer;

/**
 * Hands the library's callbacks to a thread of the package. The library calls them on its capture and
 * event threads while holding its locks, where calling back into it can deadlock; posting here returns at
 * once, and the listeners run on the dispatcher thread, where they may call any method. Levels are
 * coalesced when the listener is slower than they come (only the newest waits); ends are never dropped.
 */
final class EventDispatcher implements NativeAudio.Events {
    private final DoubleConsumer levelSink;
    private final IntConsumer endSink;
    private final ArrayDeque<Integer> ends = new ArrayDeque<>();
    private final Thread thread;
    private boolean levelPending;
    private double level;
    private boolean closing;

    EventDispatcher(DoubleConsumer levelSink, IntConsumer endSink) {
        this.levelSink = levelSink;
        this.endSink = endSink;
        thread = new Thread(this::run, "tessaro-events");
        thread.setDaemon(true);
        thread.start();
    }

    @Override
    public void inputLevel(double value) {
        synchronized (this) {
            level = value;
            levelPending = true;
            notifyAll();
        }
    }

    @Override
    public void stopped(int reason) {
        synchronized (this) {
            ends.addLast(reason);
            notifyAll();
        }
    }

    /** True on the dispatcher thread, that is inside a listener. */
    boolean isDispatchThread() {
        return Thread.currentThread() == thread;
    }

    /**
     * Delivers what is still queued, then ends the thread. Waits for it unless called from a listener.
     */
    void close() {
        synchronized (this) {
            closing = true;
            notifyAll();
        }
        if (!isDispatchThread()) {
            boolean interrupted = false;
            while (thread.isAlive()) {
                try {
                    thread.join();
                } catch (InterruptedException e) {
                    interrupted = true;
                }
            }
            if (interrupted) {
                Thread.currentThread().interrupt();
            }
        }
    }

    private void run() {
        for (;;) {
            boolean deliverLevel;
            double value;
            Integer end;
            synchronized (this) {
                while (!levelPending && ends.isEmpty() && !closing) {
                    try {
                        wait();
                    } catch (InterruptedException e) {
                        // Only close ends the thread.
                    }
                }
                if (!levelPending && ends.isEmpty()) {
                    return;
                }
                deliverLevel = levelPending;
                value = level;
                levelPending = false;
                end = deliverLevel ? null : ends.pollFirst();
            }
            try {
                if (deliverLevel) {
                    levelSink.accept(value);
                } else {
                    endSink.accept(end);
                }
            } catch (RuntimeException | Error e) {
                Thread.UncaughtExceptionHandler handler = Thread.getDefaultUncaughtExceptionHandler();
                if (handler != null) {
                    handler.uncaughtException(thread, e);
                } else {
                    e.printStackTrace();
                }
            }
        }
    }
}
