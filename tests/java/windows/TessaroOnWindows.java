import com.tarvik.kelvane.audio.AudioLibrary;
import com.tarvik.kelvane.audio.InputDevice;
import com.tarvik.kelvane.audio.Recording;
import com.tarvik.kelvane.audio.RecordingFormat;

import java.io.RandomAccessFile;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.List;

/**
 * The jar on a real Windows JVM (scripts/windows-tests.cmd runs it with the test platform's stand-ins
 * registered for the user): the loader extracts and loads the DLL of the JVM's architecture, the library
 * lists the input devices, and a one-second WAVE recording from the default device is a complete file.
 * Prints one line per check and "N passed, N failed"; exit status 1 when a check failed.
 */
public final class TessaroOnWindows {
    private static int passed;
    private static int failed;

    private static void check(String what, boolean ok, Object detail) {
        System.out.println((ok ? "PASS " : "FAIL ") + what + (ok ? "" : ": " + detail));
        if (ok) {
            passed++;
        } else {
            failed++;
        }
    }

    public static void main(String[] args) throws Exception {
        String arch = "64".equals(System.getProperty("sun.arch.data.model")) ? "x86_64" : "x86";
        System.out.println("java " + System.getProperty("java.version") + " " + System.getProperty("os.arch")
                + ", tessaro " + AudioLibrary.packageVersion());
        Path wave = Files.createTempDirectory("tessaro-test").resolve("one-second.wav");
        try (AudioLibrary audio = AudioLibrary.open()) {
            Path dll = AudioLibrary.libraryFile().orElse(null);
            check("the DLL for windows-" + arch + " is extracted and loaded", dll != null
                    && dll.getParent().getFileName().toString().equals(AudioLibrary.packageVersion() + "-" + arch), dll);
            List<InputDevice> devices = audio.inputDevices();
            check("input devices are listed, the default first", !devices.isEmpty() && devices.get(0).isDefault(),
                    devices);
            try (Recording recording = audio.record(wave, RecordingFormat.pcm(44100), null, null, null)) {
                Thread.sleep(1000);
                check("the recording runs", recording.isActive(), recording.endReason());
            }
        } catch (Exception | UnsatisfiedLinkError e) {
            check("the library opens and records", false, e);
        }
        if (Files.exists(wave)) {
            try (RandomAccessFile file = new RandomAccessFile(wave.toFile(), "r")) {
                byte[] header = new byte[44];
                file.readFully(header);
                long riff = (header[4] & 0xFFL) | (header[5] & 0xFFL) << 8 | (header[6] & 0xFFL) << 16
                        | (header[7] & 0xFFL) << 24;
                check("the recording is a RIFF WAVE file whose size field adds up",
                        new String(header, 0, 4, "US-ASCII").equals("RIFF")
                                && new String(header, 8, 4, "US-ASCII").equals("WAVE") && riff + 8 == file.length(),
                        "RIFF size " + riff + ", file " + file.length());
                check("it holds audio", file.length() > 44 + 8820, file.length() + " bytes");
            }
        } else {
            check("the recording was written", false, wave);
        }
        System.out.println(passed + " passed, " + failed + " failed");
        System.exit(failed == 0 ? 0 : 1);
    }
}
