package com.tarvik.kelvane.audio;

import java.time.Duration;
import java.util.concurrent.ExecutorService;
import java.util.concurrent.Executors;
import java.util.concurrent.RejectedExecutionException;
import java.util.concurrent.TimeUnit;
import java.util.concurrent.atomic.AtomicReference;

/**
 * The package's event thread. The library calls back on its capture and event threads while holding its
 * locks, where calling back into it can deadlock; posting here returns at once, and the listeners run in
 * order on one thread of the package, where they may call any method. Levels are coalesced when the
 * listener is slower than they come (only the newest waits); every other event is delivered.
 */
final class EventDispatcher {
    /** The name of the event thread. */
    static final String THREAD_NAME = "tessaro-events";

    private record PendingLevel(AudioSession session, double level) {
    }

    private final ExecutorService executor;
    private final AtomicReference<PendingLevel> pendingLevel = new AtomicReference<>();
    private volatile Thread thread;

    EventDispatcher() {
        executor = Executors.newSingleThreadExecutor(task -> {
            Thread created = new Thread(task, THREAD_NAME);
            created.setDaemon(true);
            thread = created;
            return created;
        });
    }

    /** Runs the task on the event thread after everything posted before it; dropped after close. */
    void post(Runnable task) {
        try {
            executor.execute(() -> runGuarded(task));
        } catch (RejectedExecutionException closed) {
            // Closed: nobody listens any more.
        }
    }

    /** Hands a level of the session to it on the event thread, replacing a level that still waits. */
    void postLevel(AudioSession session, double level) {
        if (pendingLevel.getAndSet(new PendingLevel(session, level)) == null) {
            post(() -> {
                PendingLevel newest = pendingLevel.getAndSet(null);
                if (newest != null) {
                    newest.session().deliverLevel(newest.level());
                }
            });
        }
    }

    /** True on the event thread, that is inside a listener. */
    boolean isDispatchThread() {
        return Thread.currentThread() == thread;
    }

    /**
     * Delivers what is already posted, then ends the thread. Unless called from a listener, waits until
     * that is done, but at most for the given time; a listener still running then is interrupted and left.
     *
     * @return false when the wait timed out
     */
    boolean close(Duration wait) {
        executor.shutdown();
        if (isDispatchThread()) {
            return true;
        }
        boolean interrupted = false;
        boolean done = false;
        long deadline = System.nanoTime() + wait.toNanos();
        while (!done) {
            try {
                done = executor.awaitTermination(Math.max(0, deadline - System.nanoTime()), TimeUnit.NANOSECONDS);
                break;
            } catch (InterruptedException e) {
                interrupted = true;
            }
        }
        if (!done) {
            executor.shutdownNow();
        }
        if (interrupted) {
            Thread.currentThread().interrupt();
        }
        return done;
    }

    /** Runs the task; what it throws goes to the thread's uncaught-exception handler. */
    static void runGuarded(Runnable task) {
        try {
            task.run();
        } catch (RuntimeException | Error e) {
            Thread current = Thread.currentThread();
            current.getUncaughtExceptionHandler().uncaughtException(current, e);
        }
    }
}
