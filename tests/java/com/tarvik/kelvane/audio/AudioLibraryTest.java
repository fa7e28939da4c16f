package com.tarvik.kelvane.audio;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertNotEquals;
import static org.junit.jupiter.api.Assertions.assertInstanceOf;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTimeoutPreemptively;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.nio.file.NoSuchFileException;
import java.nio.file.Path;
import java.time.Duration;
import java.util.ArrayList;
import java.util.Collections;
import java.util.List;
import java.util.concurrent.CountDownLatch;
import java.util.concurrent.ExecutionException;
import java.util.concurrent.TimeUnit;
import java.util.concurrent.atomic.AtomicReference;

import org.junit.jupiter.api.AfterEach;
import org.junit.jupiter.api.Test;

/** The session API over fake natives: what reaches the natives, events and their sessions, closing. */
class AudioLibraryTest {
    private static final long GUARD = 10; // seconds: only against hanging
    private static final Duration CLOSE_WAIT = Duration.ofMillis(200);

    private final FakeNatives natives = new FakeNatives();
    private AudioLibrary opened;

    private AudioLibrary open() throws AudioException {
        opened = AudioLibrary.open(natives, CLOSE_WAIT);
        return opened;
    }

    @AfterEach
    void closeWhatIsOpen() {
        natives.stopResult = 0;
        if (opened != null) {
            opened.close();
        }
    }

    @Test
    void aLateEndOfAStoppedRecordingNeverReachesTheNextOne() throws Exception {
        CountDownLatch inListener = new CountDownLatch(1);
        CountDownLatch release = new CountDownLatch(1);
        List<EndReason> firstEnds = Collections.synchronizedList(new ArrayList<>());
        List<EndReason> secondEnds = Collections.synchronizedList(new ArrayList<>());
        AudioLibrary audio = open();
        Recording first = audio.record(Path.of("one.mp3"), RecordingFormat.DEFAULT, level -> {
            inListener.countDown();
            await(release);
        }, firstEnds::add);
        // A slow level listener holds the event thread while the device of the first recording is lost.
        natives.raiseLevels(0.1).join();
        assertTrue(inListener.await(GUARD, TimeUnit.SECONDS));
        natives.raiseStopped(1).join();
        first.stop();
        CountDownLatch secondLevel = new CountDownLatch(1);
        Recording second = audio.record(Path.of("two.mp3"), RecordingFormat.DEFAULT, level -> secondLevel.countDown(),
                secondEnds::add);
        release.countDown();
        // A level of the second recording comes after everything queued before it.
        natives.raiseLevels(0.2).join();
        assertTrue(secondLevel.await(GUARD, TimeUnit.SECONDS));
        assertTrue(second.isActive(), "the second recording still runs");
        assertEquals(List.of(), secondEnds);
        // The device was lost before the stop: that is how the first one ended.
        assertEquals(List.of(EndReason.DEVICE_LOST), firstEnds);
    }

    @Test
    void anAbortBeforeTheStopEndsTheSessionFailedWhoeverStoppedFirst() throws Exception {
        AudioLibrary audio = open();
        for (boolean droppedByTheStop : new boolean[] {false, true}) {
            // A level listener that takes 300 ms holds the event thread when the write fails; or the
            // library's stop dropped the "Stopped" it had not delivered yet.
            CountDownLatch inListener = new CountDownLatch(1);
            Recording recording = audio.record(Path.of("r.wav"), level -> {
                inListener.countDown();
                sleep(300);
            });
            if (droppedByTheStop) {
                natives.endWithoutDelivery(StreamEnd.EC_ERRORABORT, 0x80070070);
            } else {
                natives.raiseLevels(0.1).join();
                assertTrue(inListener.await(GUARD, TimeUnit.SECONDS));
                natives.raiseEnd(StreamEnd.EC_ERRORABORT, 0x80070070).join();
            }
            sleep(10);
            recording.stop();
            assertEquals(EndReason.FAILED, recording.endReason(), "dropped by the stop: " + droppedByTheStop);
            AudioFileException failure = assertInstanceOf(AudioFileException.class, recording.failure());
            assertEquals(0x80070070, failure.resultCode());
        }
    }

    @Test
    void closeThrowsNoCheckedExceptionAndReportsAFailedStop() throws Exception {
        List<EndReason> ends = Collections.synchronizedList(new ArrayList<>());
        AudioLibrary audio = open();
        Recording recording = audio.record(Path.of("r.mp3"), RecordingFormat.DEFAULT, null, ends::add);
        natives.stopResult = ResultCodes.VFW_E_TIMEOUT;
        UncheckedAudioException failure = assertThrows(UncheckedAudioException.class, recording::close);
        assertEquals("VFW_E_TIMEOUT", failure.getCause().resultName());
        assertFalse(recording.isActive(), "inactive after any close");
        ExecutionException reported = assertThrows(ExecutionException.class,
                () -> recording.ended().get(GUARD, TimeUnit.SECONDS));
        assertInstanceOf(AudioException.class, reported.getCause());
        // The stream the library still holds is released before the next start.
        natives.stopResult = 0;
        audio.record(Path.of("s.mp3"), null).close();
        List<String> calls = natives.calls();
        calls.removeIf(call -> call.equals("getStreamNumber") || call.equals("getDroppedAudio")
                || call.equals("getEndCause"));
        assertEquals(List.of("stop", "stop", "record", "stop"), calls.subList(calls.size() - 4, calls.size()));
        waitFor(() -> ends.size() == 1);
        assertEquals(List.of(EndReason.STOP_FAILED), ends);
    }

    @Test
    void queriesDoNotWaitForAStopThatRuns() throws Exception {
        AudioLibrary audio = open();
        Recording recording = audio.record(Path.of("r.mp3"), null);
        natives.stopGate = new CountDownLatch(1);
        Thread stopper = new Thread(() -> recording.close());
        stopper.start();
        try {
            assertTrue(natives.stopEntered.await(GUARD, TimeUnit.SECONDS));
            boolean active = assertTimeoutPreemptively(Duration.ofSeconds(GUARD), recording::isActive);
            assertTrue(active && stopper.isAlive(), "answered while the stop was still running");
        } finally {
            natives.stopGate.countDown();
            stopper.join();
        }
        assertFalse(recording.isActive());
    }

    @Test
    void closeGivesUpOnAListenerThatDoesNotReturn() throws Exception {
        CountDownLatch inListener = new CountDownLatch(1);
        CountDownLatch interrupted = new CountDownLatch(1);
        AudioLibrary audio = open();
        audio.record(Path.of("r.mp3"), level -> {
            inListener.countDown();
            try {
                new CountDownLatch(1).await();
            } catch (InterruptedException e) {
                interrupted.countDown();
            }
        });
        natives.raiseLevels(0.5).join();
        assertTrue(inListener.await(GUARD, TimeUnit.SECONDS));
        assertTimeoutPreemptively(Duration.ofSeconds(GUARD), audio::close);
        assertTrue(interrupted.await(GUARD, TimeUnit.SECONDS), "the listener was interrupted");
        assertEquals("freeLibrary", natives.calls().get(natives.calls().size() - 1));
    }

    @Test
    void sessionsReportStartPauseResumeStopAndTheUsersStopToTheEndListener() throws Exception {
        AudioLibrary audio = open();
        Playback playback = audio.newPlayback("a.mp3");
        List<SessionEvent.Type> events = Collections.synchronizedList(new ArrayList<>());
        List<SessionEvent.Type> removed = Collections.synchronizedList(new ArrayList<>());
        List<EndReason> ends = Collections.synchronizedList(new ArrayList<>());
        SessionListener gone = event -> removed.add(event.type());
        playback.addSessionListener(event -> events.add(event.type()));
        playback.addSessionListener(gone);
        playback.removeSessionListener(gone);
        playback.addEndListener(ends::add);
        playback.start();
        playback.pause();
        playback.pause();
        playback.resume();
        playback.stop();
        assertEquals(EndReason.STOPPED, playback.ended().get(GUARD, TimeUnit.SECONDS));
        waitFor(() -> ends.size() == 1);
        assertEquals(List.of(SessionEvent.Type.START, SessionEvent.Type.PAUSE, SessionEvent.Type.RESUME,
                SessionEvent.Type.STOP), events);
        assertEquals(List.of(EndReason.STOPPED), ends);
        assertEquals(List.of(), removed);
        assertThrows(IllegalStateException.class, playback::start, "a session runs once");
    }

    @Test
    void theEndOfAPlaybackReleasesItOnceAndCompletesItsFuture() throws Exception {
        AudioLibrary audio = open();
        AtomicReference<String> listenerThread = new AtomicReference<>();
        Playback playback = audio.newPlayback(Path.of("a.mp3").toString());
        playback.addEndListener(reason -> listenerThread.set(Thread.currentThread().getName()));
        // The event thread is held in the listener of the start while both ends arrive: the second end
        // is posted before the first has released the playback, and only the session's own guard keeps
        // it from releasing it again.
        CountDownLatch bothRaised = new CountDownLatch(1);
        playback.addSessionListener(event -> await(bothRaised));
        playback.start();
        natives.raiseStopped(0).join();
        natives.raiseStopped(0).join();
        bothRaised.countDown();
        assertEquals(EndReason.COMPLETED, playback.ended().get(GUARD, TimeUnit.SECONDS));
        assertFalse(playback.isActive());
        waitFor(() -> listenerThread.get() != null);
        assertEquals(EventDispatcher.THREAD_NAME, listenerThread.get());
        assertEquals(1, Collections.frequency(natives.calls(), "stop"), "released once");
    }

    @Test
    void aListenerMayStopItsSession() throws Exception {
        AudioLibrary audio = open();
        Recording recording = audio.newRecording(Path.of("r.wav"));
        recording.addLevelListener(level -> recording.close());
        recording.start();
        natives.raiseLevels(0.5).join();
        assertEquals(EndReason.STOPPED, recording.ended().get(GUARD, TimeUnit.SECONDS));
    }

    @Test
    void theExtensionChoosesTheFormatAndAMismatchIsRefused() throws Exception {
        AudioLibrary audio = open();
        audio.record(Path.of("memo.wav"), null).close();
        assertEquals(RecordingFormat.PCM_TAG, natives.lastRecordArguments[0]);
        audio.record(Path.of("memo.MP3"), null).close();
        assertEquals(RecordingFormat.MP3_TAG, natives.lastRecordArguments[0]);
        IllegalArgumentException mismatch = assertThrows(IllegalArgumentException.class,
                () -> audio.record(Path.of("memo.wav"), RecordingFormat.DEFAULT, null, null));
        assertTrue(mismatch.getMessage().contains(".mp3"), mismatch.getMessage());
        assertThrows(IllegalArgumentException.class, () -> audio.record(Path.of("memo.ogg"), null));
        assertThrows(IllegalArgumentException.class,
                () -> audio.record(Path.of("memo.mp3"), RecordingFormat.pcm(8000), null, null));
    }

    @Test
    void valuesTheLibraryWouldChangeOrRefuseAreRefusedWithWhatIsAccepted() {
        IllegalArgumentException bitRate = assertThrows(IllegalArgumentException.class,
                () -> RecordingFormat.mp3(44100, 1));
        assertTrue(bitRate.getMessage().contains("32000, 40000"), bitRate.getMessage());
        RecordingFormat.mp3(22050, 8000);
        assertThrows(IllegalArgumentException.class, () -> RecordingFormat.mp3(44100, 8000));
        IllegalArgumentException rate = assertThrows(IllegalArgumentException.class, () -> RecordingFormat.pcm(96000));
        assertTrue(rate.getMessage().contains("44100, 48000"), rate.getMessage());
    }

    @Test
    void failuresNameTheOperationAndThePathAndFileSystemFailuresAreRecognisable() throws Exception {
        AudioLibrary audio = open();
        Path file = Path.of("missing", "memo.mp3");
        natives.recordResult = 0x80070003;
        AudioFileException missing = assertThrows(AudioFileException.class, () -> audio.record(file, null));
        assertInstanceOf(NoSuchFileException.class, missing.getCause());
        assertEquals(file.toAbsolutePath().toString(), missing.getCause().getFile());
        assertEquals("record \"" + file.toAbsolutePath() + "\" failed: 0x80070003 HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND)"
                + " (path not found: a directory on the path does not exist)", missing.getMessage());
        natives.recordResult = ResultCodes.VFW_E_UNSUPPORTED_AUDIO;
        AudioException unsupported = assertThrows(AudioException.class,
                () -> audio.record(Path.of("a.wav"), RecordingFormat.wave(0x1234, 8000), null, null));
        assertFalse(unsupported instanceof AudioFileException);
        assertEquals("VFW_E_UNSUPPORTED_AUDIO", unsupported.resultName());
    }

    @Test
    void anErrorEndsASessionWithItsCodeAndALostDeviceIsNoError() throws Exception {
        AudioLibrary audio = open();
        List<EndReason> ends = Collections.synchronizedList(new ArrayList<>());
        Recording recording = audio.record(Path.of("r.mp3"), RecordingFormat.DEFAULT, null, ends::add);
        natives.raiseEnd(StreamEnd.EC_ERRORABORT, 0x80070070).join();
        ExecutionException full = assertThrows(ExecutionException.class,
                () -> recording.ended().get(GUARD, TimeUnit.SECONDS));
        AudioFileException diskFull = assertInstanceOf(AudioFileException.class, full.getCause());
        assertEquals(0x80070070, diskFull.resultCode());
        assertEquals("record", diskFull.operation());
        assertEquals(EndReason.FAILED, recording.endReason());
        assertEquals(diskFull, recording.failure());
        waitFor(() -> ends.size() == 1);
        assertEquals(List.of(EndReason.FAILED), ends);

        Playback playback = audio.play(Path.of("a.mp3"), null);
        natives.raiseEnd(StreamEnd.EC_DEVICE_LOST, 0).join();
        assertEquals(EndReason.DEVICE_LOST, playback.ended().get(GUARD, TimeUnit.SECONDS));
        Playback aborted = audio.play(Path.of("a.mp3"), null);
        natives.raiseEnd(StreamEnd.EC_STREAM_ERROR_STOPPED, 0x80040218).join();
        ExecutionException error = assertThrows(ExecutionException.class,
                () -> aborted.ended().get(GUARD, TimeUnit.SECONDS));
        assertEquals("VFW_E_CANNOT_RENDER", ((AudioException) error.getCause()).resultName());
        assertFalse(error.getCause() instanceof AudioFileException);
    }

    @Test
    void codesAFailedWriteEndsWithAreFileSystemFailuresNamedByTheTable() {
        // Disk full, file too large, write fault, drive not ready or gone, share gone, storage access denied.
        for (int code : new int[] {0x80030070, 0x80070070, 0x80070027, 0x800700DF, 0x8007001D, 0x80070015,
                0x80070037, 0x80070040, 0x8003001D, 0x80030005}) {
            AudioException failure = AudioException.of("record", "r.wav", code);
            assertInstanceOf(AudioFileException.class, failure, ResultCodes.hex(code));
            assertEquals("r.wav", ((AudioFileException) failure).getCause().getFile());
        }
        for (int code : AudioFileException.fileSystemFailures()) {
            assertNotEquals(ResultCodes.hex(code), ResultCodes.nameOf(code), "not in the result-code table");
        }
        assertInstanceOf(java.nio.file.AccessDeniedException.class,
                ((AudioFileException) AudioException.of("record", "r.wav", 0x80030005)).getCause());
    }

    @Test
    void aFailedReleaseAfterAnEndFailsTheSession() throws Exception {
        AudioLibrary audio = open();
        Playback playback = audio.play(Path.of("a.mp3"), null);
        natives.stopResult = ResultCodes.VFW_E_TIMEOUT;
        natives.raiseStopped(0).join();
        ExecutionException failed = assertThrows(ExecutionException.class,
                () -> playback.ended().get(GUARD, TimeUnit.SECONDS));
        assertEquals("stop", ((AudioException) failed.getCause()).operation());
        assertEquals(EndReason.COMPLETED, playback.endReason());
    }

    @Test
    void aStartThatFailedBeforeHoldingAStreamOwesNoRelease() throws Exception {
        AudioLibrary audio = open();
        natives.recordResult = 0x80010106; // RPC_E_CHANGED_MODE: nothing was built
        assertThrows(AudioException.class, () -> audio.record(Path.of("r.mp3"), null));
        natives.recordResult = 0;
        Recording next = audio.record(Path.of("r.mp3"), null);
        assertTrue(next.isActive());
        next.stop();
        assertEquals(EndReason.STOPPED, next.endReason());
    }

    @Test
    void anEndBelongsToTheStreamThatRaisedIt() throws Exception {
        AudioLibrary audio = open();
        Recording first = audio.record(Path.of("one.mp3"), null);
        int firstStream = natives.heldStream;
        first.stop();
        Recording second = audio.record(Path.of("two.mp3"), null);
        // The first stream's end is delivered after the second stream started.
        natives.raiseEnd(StreamEnd.EC_COMPLETE, 0, firstStream).join();
        natives.raiseEnd(StreamEnd.EC_DEVICE_LOST, 0).join();
        assertEquals(EndReason.DEVICE_LOST, second.ended().get(GUARD, TimeUnit.SECONDS));
        assertEquals(EndReason.STOPPED, first.endReason());
    }

    @Test
    void theEventThreadHasTheOpenersGroupAndContextLoader() throws Exception {
        ThreadGroup group = new ThreadGroup("application");
        ClassLoader loader = new java.net.URLClassLoader(new java.net.URL[0]);
        AtomicReference<Throwable> failure = new AtomicReference<>();
        Thread opener = new Thread(group, () -> {
            try {
                open();
            } catch (Throwable e) {
                failure.set(e);
            }
        }, "opener");
        opener.setContextClassLoader(loader);
        opener.start();
        opener.join();
        assertEquals(null, failure.get());
        // Started, and its levels raised, by threads of other groups and loaders.
        AtomicReference<Thread> listenerThread = new AtomicReference<>();
        opened.record(Path.of("r.mp3"), level -> listenerThread.set(Thread.currentThread()));
        natives.raiseLevels(0.5).join();
        waitFor(() -> listenerThread.get() != null);
        assertEquals(group, listenerThread.get().getThreadGroup());
        assertEquals(loader, listenerThread.get().getContextClassLoader());
        assertTrue(listenerThread.get().isDaemon());
    }

    @Test
    void aJvmThatExitsStopsTheActiveSessionAndFreesTheLibrary() throws Exception {
        String javaCommand = Path.of(System.getProperty("java.home"), "bin", "java").toString();
        String classPath = Path.of(AudioLibrary.class.getProtectionDomain().getCodeSource().getLocation().toURI())
                + java.io.File.pathSeparator
                + Path.of(ExitWhileRecording.class.getProtectionDomain().getCodeSource().getLocation().toURI());
        Process process = new ProcessBuilder(javaCommand, "-cp", classPath, ExitWhileRecording.class.getName())
                .redirectErrorStream(true).start();
        String output = new String(process.getInputStream().readAllBytes(), java.nio.charset.StandardCharsets.UTF_8);
        assertEquals(0, process.waitFor(), output);
        // A recording that ends keeps what it lost and how its stream ended: both read after its stop.
        assertEquals(List.of("stop", "getDroppedAudio", "getEndCause", "freeLibrary"),
                List.of(output.trim().split("\\s+")), output);
    }

    /** Starts a recording over fake natives and calls System.exit without closing anything. */
    static final class ExitWhileRecording {
        private ExitWhileRecording() {
        }

        public static void main(String[] args) throws Exception {
            FakeNatives natives = new FakeNatives();
            AudioLibrary.open(natives, CLOSE_WAIT).record(Path.of("r.mp3"), null);
            natives.trace = System.out;
            System.exit(0);
        }
    }

    private static void sleep(long millis) {
        try {
            Thread.sleep(millis);
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
        }
    }

    private static void await(CountDownLatch latch) {
        try {
            latch.await(GUARD, TimeUnit.SECONDS);
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
        }
    }

    private static void waitFor(java.util.function.BooleanSupplier condition) throws InterruptedException {
        long giveUp = System.nanoTime() + TimeUnit.SECONDS.toNanos(GUARD);
        while (!condition.getAsBoolean()) {
            assertTrue(System.nanoTime() < giveUp, "condition not reached");
            Thread.sleep(5);
        }
    }
}
