package com.tarvik.kelvane.audio;

/**
 * Told once when a session has ended, whatever ended it: the end of the stream, a lost device, an error
 * that aborted the stream ({@link AudioSession#failure()} holds it), or the application's own stop or
 * close. By then the session is inactive and its file is complete (up to the failure, after an error). Runs on the
 * package's event thread (see {@link AudioLibrary}) and may call any method of the package.
 */
@FunctionalInterface
public interface EndListener {
    /**
     * Called once per session when it has ended.
     *
     * @param reason why the session ended
     */
    void ended(EndReason reason);
}
