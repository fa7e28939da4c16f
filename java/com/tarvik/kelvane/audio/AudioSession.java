package com.tarvik.kelvane.audio;

import java.time.Duration;
import java.util.List;
import java.util.Objects;
import java.util.concurrent.CompletableFuture;
import java.util.concurrent.CopyOnWriteArrayList;

/**
 * A recording or playback. It is made by {@link AudioLibrary}, started once, and then runs until the
 * application stops or closes it, the stream ends, its device is lost or an error aborts it; after that it
 * is inactive.
 *
 * <p>Listeners may be added and removed at any time; they run on the package's event thread (see
 * {@link AudioLibrary}). Each session reports START, PAUSE, RESUME and STOP to its
 * {@link SessionListener}s, its end once to its {@link EndListener}s, and completes its
 * {@link #ended()} future when it becomes inactive. Events belong to the session that raised them: a
 * late event of a session that has ended is never given to a later one.
 *
 * <p>The queries {@link #isActive()}, {@link #isPaused()}, {@link #endReason()} and {@link #ended()}
 * never wait, not even while another thread is inside a native call that may take seconds, such as a
 * stop. Times are {@link Duration}s throughout.
 */
public abstract class AudioSession implements AutoCloseable {
    enum State { NEW, RUNNING, PAUSED, ENDED }

    final AudioLibrary library;
    private final String target;
    private final List<EndListener> endListeners = new CopyOnWriteArrayList<>();
    private final List<SessionListener> sessionListeners = new CopyOnWriteArrayList<>();
    private final CompletableFuture<EndReason> end = new CompletableFuture<>();
    private volatile State state = State.NEW;
    private volatile EndReason endReason;
    private volatile AudioException failure;
    /** The library's number of the stream this session started; 0 when not known. Under the control lock. */
    int streamNumber;

    AudioSession(AudioLibrary library, String target) {
        this.library = library;
        this.target = target;
    }

    /**
     * Starts recording or playing.
     *
     * @throws AudioException        when the library fails to start (the session is then inactive)
     * @throws IllegalStateException when the session was started before, another session is active, or
     *                               the library is closed
     */
    public void start() throws AudioException {
        library.start(this);
    }

    /**
     * Whether the session runs or is paused.
     *
     * @return true from a successful start until the session has ended
     */
    public boolean isActive() {
        State now = state;
        return now == State.RUNNING || now == State.PAUSED;
    }

    /**
     * Whether the session is paused.
     *
     * @return true while paused
     */
    public boolean isPaused() {
        return state == State.PAUSED;
    }

    /**
     * Why the session ended.
     *
     * @return the reason, or null while the session has not ended
     */
    public EndReason endReason() {
        return endReason;
    }

    /**
     * The failure that ended the session: the error that aborted the stream ({@link EndReason#FAILED}), a
     * stop that failed ({@link EndReason#STOP_FAILED}), a failed start, or the failed release of a stream
     * that had ended by itself.
     *
     * @return the failure, or null when the session has not ended or ended without one
     */
    public AudioException failure() {
        return failure;
    }

    /**
     * The end of the session as a future: completed with the reason when the session becomes inactive, or
     * completed exceptionally with its {@link #failure()}: the error that aborted the stream, a stop that
     * failed, a start that failed, or the failed release of a stream that had ended by itself.
     * Completing or cancelling the returned future does not affect the session.
     *
     * @return a new dependent future
     */
    public CompletableFuture<EndReason> ended() {
        return end.thenApply(reason -> reason);
    }

    /**
     * Pauses a running session; does nothing when it is paused already.
     *
     * @throws AudioException        when the library fails to pause
     * @throws IllegalStateException when the session is not active
     */
    public void pause() throws AudioException {
        library.setPaused(this, true);
    }

    /**
     * Resumes a paused session; does nothing when it runs.
     *
     * @throws AudioException        when the library fails to resume
     * @throws IllegalStateException when the session is not active
     */
    public void resume() throws AudioException {
        library.setPaused(this, false);
    }

    /**
     * The position: the time recorded so far, or the playback position.
     *
     * @return the position
     * @throws AudioException        when the library fails to tell it
     * @throws IllegalStateException when the session is not active
     */
    public Duration position() throws AudioException {
        return library.position(this);
    }

    /**
     * Stops the session and releases it: a recorded file is complete afterwards. Does nothing when the
     * session has ended already. A stream that had ended by itself before the stop, with its end not yet
     * told, ends the session as it ended, whoever stopped first: an error that aborted it as
     * {@link EndReason#FAILED} with its {@link #failure()} (an {@link AudioFileException} for the file
     * system; the file is valid up to the failure), a lost device as {@link EndReason#DEVICE_LOST}, its end
     * as {@link EndReason#COMPLETED}; the stop itself then throws nothing. The session is inactive afterwards even when the library reports a
     * failure; the library then still holds the stream, and releases it before the next start (or at
     * {@link AudioLibrary#close()}).
     *
     * @throws AudioException when the library failed to stop (the end listeners hear
     *                        {@link EndReason#STOP_FAILED} and {@link #ended()} completes with this failure)
     */
    public void stop() throws AudioException {
        library.stop(this);
    }

    /**
     * Stops the session as {@link #stop()} does, without a checked exception.
     *
     * @throws UncheckedAudioException when the library failed to stop; the session is inactive anyway
     */
    @Override
    public void close() {
        try {
            stop();
        } catch (AudioException e) {
            throw new UncheckedAudioException(e);
        }
    }

    /**
     * Adds a listener for the end of this session.
     *
     * @param listener told once when the session has ended
     */
    public void addEndListener(EndListener listener) {
        endListeners.add(Objects.requireNonNull(listener, "listener"));
    }

    /**
     * Removes a listener added before; does nothing for one that was not added.
     *
     * @param listener the listener
     */
    public void removeEndListener(EndListener listener) {
        endListeners.remove(listener);
    }

    /**
     * Adds a listener for the state changes of this session.
     *
     * @param listener told START, PAUSE, RESUME and STOP
     */
    public void addSessionListener(SessionListener listener) {
        sessionListeners.add(Objects.requireNonNull(listener, "listener"));
    }

    /**
     * Removes a listener added before; does nothing for one that was not added.
     *
     * @param listener the listener
     */
    public void removeSessionListener(SessionListener listener) {
        sessionListeners.remove(listener);
    }

    // ---- for the library, under its control lock --------------------------------------------------------
    String operation() {
        return this instanceof Recording ? "record" : "play";
    }

    String target() {
        return target;
    }

    abstract String kind();

    abstract int startNative(NativeAudio natives);

    State state() {
        return state;
    }

    void started() {
        state = State.RUNNING;
        post(SessionEvent.Type.START);
    }

    void paused(boolean paused) {
        state = paused ? State.PAUSED : State.RUNNING;
        post(paused ? SessionEvent.Type.PAUSE : SessionEvent.Type.RESUME);
    }

    /** Ends the session: inactive at once, the future completed, the listeners told on the event thread. */
    void finish(EndReason reason, AudioException failure) {
        boolean wasStarted = state != State.NEW;
        state = State.ENDED;
        endReason = reason;
        this.failure = failure;
        if (failure != null) {
            end.completeExceptionally(failure);
        } else {
            end.complete(reason);
        }
        if (wasStarted) {
            post(SessionEvent.Type.STOP);
            library.dispatcher().post(() -> {
                for (EndListener listener : endListeners) {
                    EventDispatcher.runGuarded(() -> listener.ended(reason));
                }
            });
        }
    }

    // ---- on the event thread -------------------------------------------------------------------------------
    void deliverLevel(double level) {
    }

    private void post(SessionEvent.Type type) {
        SessionEvent event = new SessionEvent(this, type);
        library.dispatcher().post(() -> {
            for (SessionListener listener : sessionListeners) {
                EventDispatcher.runGuarded(() -> listener.update(event));
            }
        });
    }
}
