package com.tarvik.kelvane.audio;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertNotEquals;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.nio.charset.StandardCharsets;
import java.nio.file.Path;
import java.time.Duration;
import java.util.List;
import java.util.Optional;

import org.junit.jupiter.api.AfterEach;
import org.junit.jupiter.api.Test;

/** Seek, volume, balance and the output device of a playback over fake natives. */
class PlaybackControlTest {
    private final FakeNatives natives = new FakeNatives();
    private AudioLibrary audio;

    private Playback playing() throws AudioException {
        audio = AudioLibrary.open(natives, Duration.ofMillis(200));
        return audio.play(Path.of("tone.wav"), null);
    }

    @AfterEach
    void close() {
        if (audio != null) {
            audio.close();
        }
    }

    @Test
    void volumeAndBalanceConvertToHundredthsOfADecibelAndBack() {
        // gain, hundredths of a dB, the gain read back from them
        double[][] volumes = {{1.0, 0, 1.0}, {0.5, -602, 0.50003}, {0.1, -2000, 0.1}, {0.0, -10000, 0.0},
            {1e-6, -10000, 0.0}};
        for (double[] row : volumes) {
            assertEquals((int) row[1], Gain.toHundredthsDb(row[0]), "volume " + row[0]);
            assertEquals(row[2], Gain.fromHundredthsDb((int) row[1]), 1e-5, "volume of " + row[1]);
        }
        // balance, hundredths of a dB (negative: the right channel down), the balance read back
        double[][] balances = {{0.0, 0, 0.0}, {-1.0, -10000, -1.0}, {-0.5, -602, -0.49997}, {0.5, 602, 0.49997},
            {1.0, 10000, 1.0}};
        for (double[] row : balances) {
            assertEquals((int) row[1], Gain.balanceToHundredths(row[0]), "balance " + row[0]);
            assertEquals(row[2], Gain.balanceFromHundredths((int) row[1]), 1e-5, "balance of " + row[1]);
        }
    }

    @Test
    void seekVolumeAndBalanceReachTheHeldPlaybackAndRefusalsKeepTheirCodes() throws Exception {
        Playback playback = playing();
        playback.pause();
        playback.seek(Duration.ofMillis(1500));
        assertEquals(Duration.ofMillis(1500), playback.position());
        assertTrue(playback.isPaused(), "a seek keeps the pause");
        playback.setVolume(0.5);
        assertEquals(0.5, playback.volume(), 0.001);
        playback.setBalance(-1.0);
        assertEquals(-1.0, playback.balance());
        assertTrue(natives.calls().containsAll(List.of("setPosition 1.5", "setVolume -602", "setBalance -10000")));

        for (double wrong : new double[] {Double.NaN, -0.1, 1.5}) {
            assertThrows(IllegalArgumentException.class, () -> playback.setVolume(wrong));
            assertThrows(IllegalArgumentException.class, () -> playback.setBalance(wrong * 2 - 1));
        }
        assertThrows(IllegalArgumentException.class, () -> playback.seek(Duration.ofMillis(-1)));
        assertEquals(-602, natives.volume, "refused values reach no native");

        assertEquals(ResultCodes.E_INVALIDARG,
                assertThrows(AudioException.class, () -> playback.seek(Duration.ofSeconds(3))).resultCode());
        natives.seekable = false;
        AudioException cannotSeek = assertThrows(AudioException.class, () -> playback.seek(Duration.ZERO));
        assertEquals(ResultCodes.E_NOTIMPL, cannotSeek.resultCode());
        assertTrue(cannotSeek.getMessage().startsWith("setPosition"), cannotSeek.getMessage());
        natives.renderer = false;
        assertEquals(ResultCodes.E_NOINTERFACE,
                assertThrows(AudioException.class, () -> playback.setVolume(1.0)).resultCode());
        assertEquals(ResultCodes.E_NOINTERFACE, assertThrows(AudioException.class, playback::balance).resultCode());
        assertEquals(Duration.ofMillis(1500), playback.position(), "a failure changes nothing");
        assertTrue(playback.isActive(), "a refusal does not end the playback");

        playback.stop();
        assertThrows(IllegalStateException.class, () -> playback.setVolume(1.0));
    }

    @Test
    void outputDevicesAreListedDefaultFirstAndAPlaybackOnOneNamesItsId() throws Exception {
        natives.outputDevices = "@out:a\tSpeakers\n@out:b\tHeadset\n@out:c\tHeadset\n";
        audio = AudioLibrary.open(natives, Duration.ofMillis(200));
        List<OutputDevice> devices = audio.outputDevices();
        assertEquals(List.of("Speakers (default)", "Headset", "Headset"), devices.stream().map(Object::toString).toList());
        assertTrue(devices.get(0).isDefault());
        assertFalse(devices.get(1).isDefault());
        assertNotEquals(devices.get(1), devices.get(2), "same name, other id");
        assertEquals(devices.get(2), new OutputDevice("@out:c", "renamed", false));

        Playback headset = audio.play(Path.of("tone.wav"), devices.get(2), null);
        assertEquals(Optional.of(devices.get(2)), headset.device());
        assertArrayEquals("@out:c".getBytes(StandardCharsets.UTF_8), natives.lastDeviceId);
        assertEquals(Path.of("tone.wav").toAbsolutePath().toString(), natives.lastPathText());
        headset.stop();
        audio.play("http://host/x.mp3", null, null).stop();
        assertTrue(natives.calls().contains("play"), "no device: the default, through play");

        natives.outputDevices = "@out:a\tSpeakers\n";
        Playback gone = audio.newPlayback("tone.wav", devices.get(1));
        assertEquals(ResultCodes.DEVICE_NOT_PRESENT, assertThrows(AudioException.class, gone::start).resultCode());
        assertFalse(gone.isActive());
    }
}
