package com.tarvik.kelvane.audio;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertSame;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTimeoutPreemptively;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.io.ByteArrayOutputStream;
import java.io.IOException;
import java.io.InputStream;
import java.nio.ByteBuffer;
import java.nio.ByteOrder;
import java.nio.file.Path;
import java.time.Duration;
import java.util.ArrayList;
import java.util.Collections;
import java.util.List;
import java.util.concurrent.CountDownLatch;
import java.util.concurrent.TimeUnit;

import javax.sound.sampled.AudioFormat;
import javax.sound.sampled.AudioInputStream;

import org.junit.jupiter.api.AfterEach;
import org.junit.jupiter.api.Test;

/** The recorded bytes as a stream, over fake natives: order, end, failure, bounds, formats, options. */
class RecordingStreamTest {
    private static final Duration GUARD = Duration.ofSeconds(10);
    private final FakeNatives natives = new FakeNatives();
    private AudioLibrary audio;

    @AfterEach
    void close() {
        if (audio != null) {
            audio.close();
        }
    }

    private AudioLibrary open() throws AudioException {
        audio = AudioLibrary.open(natives, Duration.ofMillis(200));
        return audio;
    }

    /** A WAVEFORMATEX of PCM. */
    private static byte[] pcmFormat(int channels, int rate) {
        return ByteBuffer.allocate(18).order(ByteOrder.LITTLE_ENDIAN).putShort((short) 1).putShort((short) channels)
                .putInt(rate).putInt(rate * channels * 2).putShort((short) (channels * 2)).putShort((short) 16)
                .putShort((short) 0).array();
    }

    private static byte[] chunk(int size, int value) {
        byte[] bytes = new byte[size];
        java.util.Arrays.fill(bytes, (byte) value);
        return bytes;
    }

    private static byte[] readAll(InputStream in) throws IOException {
        ByteArrayOutputStream out = new ByteArrayOutputStream();
        byte[] buffer = new byte[1000];
        for (int n; (n = in.read(buffer)) >= 0; ) {
            out.write(buffer, 0, n);
        }
        return out.toByteArray();
    }

    @Test
    void theBytesComeInOrderTheTailAfterStopIncludedAndEachStreamEndsWithItsOwnNull() throws Exception {
        open();
        Recording first = audio.recordStream(RecordingFormat.pcm(44100).withChannels(2), null);
        assertNull(natives.lastPath, "no file");
        assertArrayEquals(new int[] {1, 44100, 2, 128000, -1, 1}, natives.lastOptions);
        natives.raiseStream(pcmFormat(2, 44100), chunk(3, 1), chunk(2, 2)).join();
        first.stop();
        // The second recording starts before the first one's tail and end have come.
        Recording second = audio.recordStream(RecordingFormat.DEFAULT, null);
        natives.raiseStream(null, chunk(4, 3), null, chunk(1, 9), null).join();
        second.stop();
        assertTimeoutPreemptively(GUARD, () -> {
            assertArrayEquals(new byte[] {1, 1, 1, 2, 2, 3, 3, 3, 3}, readAll(first.inputStream()));
            assertEquals(-1, first.inputStream().read(), "still at its end");
            assertArrayEquals(new byte[] {9}, readAll(second.inputStream()));
        });
    }

    @Test
    void aFailedRecordingEndsItsStreamWithAnIOExceptionCarryingTheFailure() throws Exception {
        open();
        Recording recording = audio.recordStream(RecordingFormat.DEFAULT, null);
        InputStream in = recording.inputStream();
        natives.raiseStream(new byte[30], chunk(5, 7)).join();
        natives.raiseEnd(StreamEnd.EC_ERRORABORT, 0x80070070).join();
        natives.raiseStream(null, chunk(2, 8), null).join();
        assertTimeoutPreemptively(GUARD, () -> {
            byte[] bytes = new byte[7];
            assertEquals(5, in.read(bytes));
            assertEquals(2, in.read(bytes, 5, 2));
            IOException failure = assertThrows(IOException.class, in::read);
            assertSame(recording.failure(), failure.getCause());
            assertEquals(0x80070070, ((AudioException) failure.getCause()).resultCode());
        });
        // A start that fails ends its stream at once, with that failure.
        natives.recordResult = ResultCodes.E_INVALIDARG;
        Recording refused = audio.newStream(RecordingFormat.DEFAULT, null);
        assertThrows(AudioException.class, refused::start);
        IOException failure = assertThrows(IOException.class, () -> refused.inputStream().read());
        assertSame(refused.failure(), failure.getCause());
    }

    @Test
    void anUnreadStreamKeepsSixteenSecondsAndCountsTheWholeChunksItDrops() throws Exception {
        open();
        // 8000 Hz mono PCM: 16000 bytes a second, chunks of 200 ms; 25 s come, nobody reads.
        Recording recording = audio.recordStream(RecordingFormat.pcm(8000), null);
        byte[][] chunks = new byte[125][];
        for (int i = 0; i < chunks.length; i++) {
            chunks[i] = chunk(3200, i);
        }
        natives.raiseStream(pcmFormat(1, 8000), chunks).join();
        natives.streamLoss = new double[] {2, 6400, 0.4};
        assertEquals(new StreamLoss(45 + 2, 45 * 3200 + 6400, Duration.ofMillis(9000 + 400)), recording.streamLoss());
        assertEquals("stream lost 9400 ms in 47 chunks (150400 bytes)", recording.streamLoss().toString());
        assertEquals(16 * 16000, recording.inputStream().available(), "the package holds its budget, no more");
        // What is kept is the oldest audio, whole and in order; later chunks are taken again once read.
        byte[] kept = new byte[3200];
        for (int i = 0; i < 80; i++) {
            int n = 0;
            while (n < kept.length) {
                n += recording.inputStream().read(kept, n, kept.length - n);
            }
            assertArrayEquals(chunks[i], kept);
        }
        natives.raiseStream(null, chunk(10, 1), null).join();
        recording.stop();
        assertEquals(10, readAll(recording.inputStream()).length);
        assertEquals(47, recording.streamLoss().chunks(), "kept from the end");
        // A VBR MP3 tells no byte rate: the time of dropped chunks is that of their frames (two of 1152 at 44.1 kHz).
        byte[] frames = new byte[2 * 417];
        for (int at : new int[] {0, 417}) {
            frames[at] = (byte) 0xFF;
            frames[at + 1] = (byte) 0xFB;
            frames[at + 2] = (byte) 0x90;
        }
        assertEquals(2 * 1152 / 44100.0, RecordedStream.mp3Seconds(frames), 1e-9);
    }

    @Test
    void aPcmStereoStreamIsAnAudioInputStreamOfTheToldFormat() throws Exception {
        open();
        Recording recording = audio.newRecording(Path.of("both.wav"), RecordingFormat.pcm(48000).withChannels(2))
                .enableStream();
        recording.start();
        assertEquals("both.wav", Path.of(natives.lastPathText()).getFileName().toString());
        natives.raiseStream(pcmFormat(2, 48000), chunk(8, 5), null).join();
        recording.stop();
        try (AudioInputStream pcm = recording.audioInputStream()) {
            AudioFormat format = pcm.getFormat();
            assertEquals(new AudioFormat(48000, 16, 2, true, false).toString(), format.toString());
            assertEquals(4, format.getFrameSize());
            assertEquals(8, readAll(pcm).length);
        }
    }

    @Test
    void listenersArePushedTheChunksOnTheEventThreadThenTheEnd() throws Exception {
        open();
        Recording recording = audio.newStream(RecordingFormat.mp3Vbr(44100, 3), null);
        List<String> heard = Collections.synchronizedList(new ArrayList<>());
        CountDownLatch ended = new CountDownLatch(1);
        recording.addStreamListener(new StreamListener() {
            @Override
            public void chunk(ByteBuffer data) {
                heard.add(data.remaining() + (Thread.currentThread().getName().equals(EventDispatcher.THREAD_NAME) ? "" : "!"));
            }

            @Override
            public void streamEnded() {
                heard.add("end");
                ended.countDown();
            }
        });
        recording.start();
        assertArrayEquals(new int[] {85, 44100, 1, 0, 3, 1}, natives.lastOptions);
        assertThrows(IllegalStateException.class, recording::inputStream);
        natives.raiseStream(new byte[30], chunk(3, 1), chunk(4, 2), null).join();
        assertTrue(ended.await(10, TimeUnit.SECONDS));
        assertEquals(List.of("3", "4", "end"), heard);
    }

    @Test
    void formatsAndRecordingsRefuseWhatTheLibraryWouldNotTake() throws Exception {
        String[] refused = {
            "channels must be 1 (mono) or 2 (stereo): 3",
            "VBR quality 10 is not supported; use 0 (best) to 9 (smallest)",
            "VBR quality -1 is not supported; use 0 (best) to 9 (smallest)",
        };
        Runnable[] attempts = {
            () -> RecordingFormat.DEFAULT.withChannels(3),
            () -> RecordingFormat.mp3Vbr(44100, 10),
            () -> RecordingFormat.mp3Vbr(44100, -1),
        };
        for (int i = 0; i < attempts.length; i++) {
            assertEquals(refused[i], assertThrows(IllegalArgumentException.class, attempts[i]::run).getMessage());
        }
        assertEquals("MP3 VBR quality 2, 22050 Hz stereo", RecordingFormat.mp3Vbr(22050, 2).withChannels(2).toString());
        open();
        // A plain recording takes the plain native: no stream, no options.
        audio.record(Path.of("plain.mp3"), null).stop();
        assertEquals(List.of("record"), natives.calls().stream().filter(c -> c.startsWith("record")).collect(
                java.util.stream.Collectors.toList()));
        Recording plain = audio.newRecording(Path.of("plain.mp3"));
        assertThrows(IllegalStateException.class, plain::inputStream);
        assertEquals(StreamLoss.NONE, plain.streamLoss());
        plain.start();
        assertThrows(IllegalStateException.class, plain::enableStream);
        plain.stop();
        Recording mp3 = audio.newStream(RecordingFormat.DEFAULT, null);
        assertThrows(IllegalStateException.class, mp3::audioInputStream);
    }
}
