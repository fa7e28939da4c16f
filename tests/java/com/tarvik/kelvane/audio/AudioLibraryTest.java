package com.tarvik.kelvane.audio;

import static com.tarvik.kelvane.testing.Check.equal;
import static com.tarvik.kelvane.testing.Check.fails;
import static com.tarvik.kelvane.testing.Check.isTrue;

import java.nio.file.Path;
import java.time.Duration;
import java.util.ArrayList;
import java.util.Collections;
import java.util.List;
import java.util.concurrent.CountDownLatch;
import java.util.concurrent.TimeUnit;
import java.util.concurrent.atomic.AtomicReference;

/** The session API over fake natives: what reaches the natives, failures, listeners and their threads. */
public class AudioLibraryTest {
    private static final long GUARD = 10; // seconds: only against hanging

    private final FakeNatives natives = new FakeNatives();

    public void testRecordPassesTheAbsoluteUtf8PathAndTheFormat() throws Exception {
        Path file = Path.of("Tön 日本.wav");
        try (AudioLibrary audio = AudioLibrary.open(natives);
                Recording recording = audio.record(file, RecordingFormat.wave(0x11, 22050), null, null)) {
            equal(file.toAbsolutePath().toString(), natives.lastPathText(), "path");
            equal(List.of(0x11, 22050, 128000), List.of(natives.lastRecordArguments[0],
                    natives.lastRecordArguments[1], natives.lastRecordArguments[2]), "record arguments");
            equal(2051, audio.version(), "version");
            isTrue(recording.isActive(), "active");
        }
        equal(List.of("initLibrary", "record", "getVersion", "stop", "freeLibrary"), natives.calls(), "calls");
    }

    public void testFailuresCarryTheResultCodeAndItsName() throws Exception {
        natives.recordResult = ResultCodes.VFW_E_UNSUPPORTED_AUDIO;
        try (AudioLibrary audio = AudioLibrary.open(natives)) {
            AudioException failure = fails(AudioException.class,
                    () -> audio.record(Path.of("a.wav"), RecordingFormat.wave(0x1234, 8000), null, null));
            equal(0x8004025C, failure.resultCode(), "code");
            equal("VFW_E_UNSUPPORTED_AUDIO", failure.resultName(), "name");
            isTrue(failure.getMessage().startsWith("record failed: 0x8004025C VFW_E_UNSUPPORTED_AUDIO"),
                    failure.getMessage());
            // The graph built before the failure is released, and a new session may start.
            equal("stop", natives.calls().get(natives.calls().size() - 1), "released after the failure");
            natives.recordResult = 0;
            audio.record(Path.of("b.mp3"), null).stop();
        }
        natives.initResult = ResultCodes.E_UNEXPECTED;
        AudioException init = fails(AudioException.class, () -> AudioLibrary.open(natives));
        equal("E_UNEXPECTED", init.resultName(), "init failure");
        // A failed open leaves the library closed: it can be opened again.
        natives.initResult = 0;
        AudioLibrary.open(natives).close();
    }

    public void testOneSessionAtATimeAndArgumentChecks() throws Exception {
        try (AudioLibrary audio = AudioLibrary.open(natives)) {
            fails(IllegalStateException.class, () -> AudioLibrary.open(new FakeNatives()));
            fails(NullPointerException.class, () -> audio.record(null, null));
            fails(IllegalArgumentException.class, () -> audio.play("", null));
            Playback playback = audio.play("http://host/a.mp3", null);
            equal("http://host/a.mp3", natives.lastPathText(), "a URL is passed as it is");
            IllegalStateException busy = fails(IllegalStateException.class, () -> audio.record(Path.of("x.mp3"), null));
            isTrue(busy.getMessage().contains("playback is active"), busy.getMessage());
            playback.stop();
            playback.stop();
            fails(IllegalStateException.class, playback::pause);
            audio.record(Path.of("x.mp3"), null).close();
        }
        equal(2, Collections.frequency(natives.calls(), "stop"), "each session stopped once");
    }

    public void testPauseResumePositionAndDuration() throws Exception {
        try (AudioLibrary audio = AudioLibrary.open(natives); Playback playback = audio.play(Path.of("a.mp3"), null)) {
            playback.pause();
            playback.pause();
            isTrue(playback.isPaused(), "paused");
            playback.resume();
            isTrue(!playback.isPaused(), "resumed");
            equal(2, Collections.frequency(natives.calls(), "pause"), "pause toggles only on a change");
            equal(2.0, playback.duration(), "duration");
            equal(0.5, playback.position(), "position");
        }
    }

    public void testListenersRunOnTheEventThreadAndMayStop() throws Exception {
        AtomicReference<String> levelThread = new AtomicReference<>();
        AtomicReference<Exception> stopFailure = new AtomicReference<>();
        CountDownLatch stopped = new CountDownLatch(1);
        try (AudioLibrary audio = AudioLibrary.open(natives)) {
            AtomicReference<Recording> recording = new AtomicReference<>();
            recording.set(audio.record(Path.of("r.mp3"), RecordingFormat.DEFAULT, level -> {
                levelThread.set(Thread.currentThread().getName());
                try {
                    recording.get().stop();
                } catch (AudioException e) {
                    stopFailure.set(e);
                }
                stopped.countDown();
            }, null));
            natives.raiseLevels(0.5).join();
            isTrue(stopped.await(GUARD, TimeUnit.SECONDS), "the listener ran");
            equal(null, stopFailure.get(), "stop from the listener");
            equal("tessaro-events", levelThread.get(), "listener thread");
            isTrue(!recording.get().isActive(), "stopped");
        }
    }

    public void testASlowLevelListenerNeverHoldsUpTheLibraryAndLevelsCoalesce() throws Exception {
        CountDownLatch release = new CountDownLatch(1);
        CountDownLatch first = new CountDownLatch(1);
        List<Double> seen = Collections.synchronizedList(new ArrayList<>());
        try (AudioLibrary audio = AudioLibrary.open(natives);
                Recording recording = audio.record(Path.of("r.mp3"), level -> {
                    seen.add(level);
                    first.countDown();
                    try {
                        release.await(GUARD, TimeUnit.SECONDS);
                    } catch (InterruptedException e) {
                        Thread.currentThread().interrupt();
                    }
                })) {
            natives.raiseLevels(0.1).join();
            isTrue(first.await(GUARD, TimeUnit.SECONDS), "first level delivered");
            // The listener blocks; the library's thread still returns from every callback.
            Thread burst = natives.raiseLevels(0.2, 0.3, 0.4, 0.5);
            burst.join(TimeUnit.SECONDS.toMillis(GUARD));
            isTrue(!burst.isAlive(), "the callbacks returned while the listener was busy");
            release.countDown();
            waitFor(() -> seen.size() == 2);
            equal(List.of(0.1, 0.5), new ArrayList<>(seen), "levels coalesced to the newest");
            isTrue(recording.isActive(), "still recording");
        }
    }

    public void testPlaybackEndReleasesItselfAndIsToldOnce() throws Exception {
        List<EndReason> reasons = Collections.synchronizedList(new ArrayList<>());
        try (AudioLibrary audio = AudioLibrary.open(natives)) {
            Playback playback = audio.play(Path.of("a.mp3"), reasons::add);
            natives.raiseStopped(0).join();
            natives.raiseStopped(0).join();
            isTrue(playback.awaitEnd(Duration.ofSeconds(GUARD)), "ended");
            equal(EndReason.COMPLETED, playback.endReason(), "end reason");
            // The stop ran on the package's thread, not inside the library's callback.
            equal(1, Collections.frequency(natives.calls(), "stop"), "released once");
            waitFor(() -> reasons.size() == 1);
            // A new session may start at once; the second, late "Stopped" did not end it.
            Recording next = audio.record(Path.of("r.mp3"), null);
            isTrue(next.isActive(), "the next session runs");
        }
        equal(List.of(EndReason.COMPLETED), new ArrayList<>(reasons), "told once");
    }

    public void testEndsAreNeverCoalescedAcrossSessions() throws Exception {
        List<EndReason> reasons = Collections.synchronizedList(new ArrayList<>());
        CountDownLatch release = new CountDownLatch(1);
        try (AudioLibrary audio = AudioLibrary.open(natives)) {
            audio.record(Path.of("r.mp3"), RecordingFormat.DEFAULT, level -> {
                try {
                    release.await(GUARD, TimeUnit.SECONDS);
                } catch (InterruptedException e) {
                    Thread.currentThread().interrupt();
                }
            }, reasons::add);
            // While the level listener holds the event thread, the device is lost and many levels come.
            natives.raiseLevels(0.1).join();
            natives.raiseStopped(1).join();
            natives.raiseLevels(0.2, 0.3).join();
            release.countDown();
            waitFor(() -> reasons.size() == 1);
        }
        equal(List.of(EndReason.DEVICE_LOST), new ArrayList<>(reasons), "device lost");
    }

    public void testCloseStopsTheActiveSessionAndFreesTheLibrary() throws Exception {
        AudioLibrary audio = AudioLibrary.open(natives);
        Recording recording = audio.record(Path.of("r.mp3"), null);
        natives.stopResult = ResultCodes.VFW_E_TIMEOUT;
        AudioException failure = fails(AudioException.class, audio::close);
        equal("VFW_E_TIMEOUT", failure.resultName(), "stop failure reported by close");
        isTrue(recording.isActive(), "a session whose stop failed stays active");
        audio.close();
        fails(IllegalStateException.class, audio::version);
        equal("freeLibrary", natives.calls().get(natives.calls().size() - 1), "freed last");
        AudioLibrary.open(new FakeNatives()).close();
    }

    private static void waitFor(java.util.function.BooleanSupplier condition) throws InterruptedException {
        long giveUp = System.nanoTime() + TimeUnit.SECONDS.toNanos(GUARD);
        while (!condition.getAsBoolean()) {
            isTrue(System.nanoTime() < giveUp, "condition not reached");
            Thread.sleep(5);
        }
    }
}
