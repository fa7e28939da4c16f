package com.tarvik.kelvane.audio;

import java.time.Duration;
import java.util.concurrent.LinkedBlockingQueue;
import java.util.concurrent.RejectedExecutionException;
import java.util.concurrent.ThreadPoolExecutor;
import java.util.concurrent.TimeUnit;
import java.util.concurrent.atomic.AtomicReference;

/**
 * The package's event thread. The library calls back on one thread of its own (its delivery thread),
 * outside its locks; the package's callbacks only hand each call over here and return, so that a slow
 * listener never holds the library's delivery thread (which a stop waits for, at most two seconds), and
 * the listeners run in order on one thread of the package, where they may call any method. Levels are
 * coalesced when the listener is slower than they come (only the newest waits); every other event is
 * delivered.
 *
 * <p>The thread is made at once, by the thread that constructs the dispatcher (the one that opens the
 * library), never later by a native callback thread: it has the opener's thread group and context class
 * loader. It is a daemon thread.
 */
final class EventDispatcher {
    /** The name of the event thread. */
    static final String THREAD_NAME = "tessaro-events";

    private static final class PendingLevel {
        final AudioSession session;
        final double level;

        PendingLevel(AudioSession session, double level) {
            this.session = session;
            this.level = level;
        }
    }

    private final ThreadPoolExecutor executor;
    private final AtomicReference<PendingLevel> pendingLevel = new AtomicReference<>();
    private volatile Thread thread;

    EventDispatcher() {
        Thread opener = Thread.currentThread();
        ThreadGroup group = opener.getThreadGroup();
        ClassLoader contextLoader = opener.getContextClassLoader();
        executor = new ThreadPoolExecutor(1, 1, 0, TimeUnit.MILLISECONDS, new LinkedBlockingQueue<Runnable>(),
                task -> {
                    Thread created = new Thread(group, task, THREAD_NAME);
                    created.setContextClassLoader(contextLoader);
                    created.setDaemon(true);
                    thread = created;
                    return created;
                });
        executor.prestartCoreThread();
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
                    newest.session.deliverLevel(newest.level);
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
