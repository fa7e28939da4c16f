package com.tarvik.kelvane.audio;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.nio.file.Path;
import java.time.Duration;
import java.util.concurrent.CompletableFuture;
import java.util.concurrent.TimeUnit;

import org.junit.jupiter.api.AfterEach;
import org.junit.jupiter.api.Test;

/** What a recording lost, over fake natives: while it runs, kept from its end, and as the tool says it. */
class DroppedAudioTest {
    private final FakeNatives natives = new FakeNatives();
    private AudioLibrary opened;

    @AfterEach
    void close() {
        if (opened != null) {
            opened.close();
        }
    }

    @Test
    void readWhileRecordingAndKeptFromTheEnd() throws Exception {
        opened = AudioLibrary.open(natives, Duration.ofMillis(200));
        Recording unstarted = opened.newRecording(Path.of("never.mp3"));
        assertEquals(DroppedAudio.NONE, unstarted.droppedAudio());
        assertEquals("no audio lost", DroppedAudio.NONE.toString());

        Recording recording = opened.record(Path.of("memo.mp3"), level -> { });
        natives.dropped = new double[] {3, 0.12};
        DroppedAudio running = recording.droppedAudio();
        assertEquals(3, running.gaps());
        assertEquals(Duration.ofMillis(120), running.missing());
        assertTrue(running.isLengthKnown() && running.anyLost());
        assertEquals("lost 120 ms in 3 gaps", running.toString());

        // Ended by a lost device: the end listener reads the figure of the whole recording.
        natives.dropped = new double[] {4, 0.2};
        CompletableFuture<DroppedAudio> atEnd = new CompletableFuture<>();
        recording.addEndListener(reason -> {
            try {
                atEnd.complete(recording.droppedAudio());
            } catch (AudioException e) {
                atEnd.completeExceptionally(e);
            }
        });
        natives.raiseStopped(1).join();
        assertEquals(new DroppedAudio(4, Duration.ofMillis(200), true), atEnd.get(10, TimeUnit.SECONDS));
        // The next recording's figures are its own; the ended one keeps its own without asking again.
        natives.dropped = new double[] {0, 0};
        int asked = count("getDroppedAudio");
        assertEquals("lost 200 ms in 4 gaps", recording.droppedAudio().toString());
        assertEquals(asked, count("getDroppedAudio"));
    }

    @Test
    void aDeviceWithoutTimeStampsTellsGapsOfUnknownLength() throws Exception {
        opened = AudioLibrary.open(natives, Duration.ofMillis(200));
        Recording recording = opened.record(Path.of("memo.wav"), level -> { });
        natives.dropped = new double[] {1, 0};
        natives.droppedResult = ResultCodes.S_FALSE;
        recording.stop();
        DroppedAudio lost = recording.droppedAudio();
        assertFalse(lost.isLengthKnown());
        assertEquals(1, lost.gaps());
        assertEquals("lost audio in 1 gap (length unknown)", lost.toString());
    }

    private int count(String call) {
        return (int) natives.calls().stream().filter(call::equals).count();
    }
}
