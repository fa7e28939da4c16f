import com.tarvik.kelvane.audio.AudioLibrary;
import com.tarvik.kelvane.audio.EndReason;
import com.tarvik.kelvane.audio.Playback;
import com.tarvik.kelvane.audio.Recording;

import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.concurrent.TimeUnit;

/**
 * Records five seconds into memo.mp3 (or the file named on the command line: .mp3 or .wav) with a level
 * meter, then plays it back.
 */
public final class RecordMemo {
    private RecordMemo() {
    }

    public static void main(String[] args) throws Exception {
        Path memo = Paths.get(args.length > 0 ? args[0] : "memo.mp3");
        try (AudioLibrary audio = AudioLibrary.open()) {
            System.out.println("Tessaro " + AudioLibrary.packageVersion() + " loaded from "
                    + AudioLibrary.libraryFile().get());
            try (Recording recording = audio.record(memo, level -> System.out.printf("\rlevel %3.0f%%", level * 100))) {
                Thread.sleep(5000);
                System.out.printf("%nrecorded %s (%s)%n", recording.file(), recording.format());
            }
            try (Playback playback = audio.play(memo, null)) {
                System.out.printf("playing %.1f s%n", playback.duration().toMillis() / 1000.0);
                EndReason end = playback.ended().get(1, TimeUnit.MINUTES);
                System.out.println("end: " + end);
            }
        }
    }
}
