import com.tarvik.kelvane.audio.AudioLibrary;
import com.tarvik.kelvane.audio.Playback;
import com.tarvik.kelvane.audio.Recording;
import com.tarvik.kelvane.audio.RecordingFormat;

import java.nio.file.Path;
import java.time.Duration;

/** Records five seconds into memo.mp3 with a level meter, then plays it back. */
public final class RecordMemo {
    private RecordMemo() {
    }

    public static void main(String[] args) throws Exception {
        Path memo = Path.of(args.length > 0 ? args[0] : "memo.mp3");
        try (AudioLibrary audio = AudioLibrary.open()) {
            try (Recording recording = audio.record(memo, RecordingFormat.mp3(44100, 128000),
                    level -> System.out.printf("\rlevel %3.0f%%", level * 100), null)) {
                Thread.sleep(5000);
                System.out.printf("%nrecorded %s (%s)%n", recording.file(), recording.format());
            }
            try (Playback playback = audio.play(memo, reason -> System.out.println("\nend: " + reason))) {
                System.out.printf("%nplaying %.1f s%n", playback.duration());
                playback.awaitEnd(Duration.ofMinutes(1));
            }
        }
    }
}
