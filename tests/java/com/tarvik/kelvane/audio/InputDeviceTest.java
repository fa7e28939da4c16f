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

/** Choosing the input device over fake natives: the list as the package reads it, a recording from one. */
class InputDeviceTest {
    private final FakeNatives natives = new FakeNatives();
    private AudioLibrary audio;

    private AudioLibrary open() throws AudioException {
        audio = AudioLibrary.open(natives, Duration.ofMillis(200));
        return audio;
    }

    @AfterEach
    void close() {
        if (audio != null) {
            audio.close();
        }
    }

    @Test
    void theListIsReadInTheSystemsOrderDefaultFirstAndDevicesOfOneNameStayApartById() throws Exception {
        // Longer than the first array the package offers: it asks again with the size told.
        String longName = "Microphone " + "x".repeat(5000);
        natives.inputDevices = "@device:sw:a\tHeadset \u00e9\n@device:sw:b\tHeadset \u00e9\n@device:sw:c\t" + longName + "\n";
        List<InputDevice> devices = open().inputDevices();
        assertEquals(3, devices.size());
        assertEquals("Headset \u00e9", devices.get(0).name());
        assertEquals("@device:sw:a", devices.get(0).id());
        assertTrue(devices.get(0).isDefault());
        assertFalse(devices.get(1).isDefault() || devices.get(2).isDefault());
        assertEquals(longName, devices.get(2).name());
        assertNotEquals(devices.get(0), devices.get(1), "same name, other id");
        assertEquals(devices.get(1), new InputDevice("@device:sw:b", "renamed", false));
        assertEquals(devices.get(1).hashCode(), new InputDevice("@device:sw:b", "renamed", false).hashCode());
        assertEquals("Headset \u00e9 (default)", devices.get(0).toString());
        assertEquals(List.of("initLibrary", "getInputDevices", "getInputDevices"), natives.calls());

        natives.inputDevices = "";
        assertEquals(List.of(), audio.inputDevices(), "no device: an empty list");
    }

    @Test
    void aRecordingFromAChosenDeviceNamesItsIdAndOneWithoutRecordsFromTheDefault() throws Exception {
        natives.inputDevices = "@device:sw:a\tBuilt-in\n@device:sw:b\tUSB Microphone\n";
        open();
        InputDevice usb = audio.inputDevices().get(1);
        Recording chosen = audio.record(Path.of("usb.wav"), RecordingFormat.DEFAULT_WAVE, usb, null, null);
        assertEquals(Optional.of(usb), chosen.device());
        assertArrayEquals("@device:sw:b".getBytes(StandardCharsets.UTF_8), natives.lastDeviceId);
        assertEquals(Path.of("usb.wav").toAbsolutePath().toString(), natives.lastPathText());
        assertArrayEquals(new int[] {1, 44100, RecordingFormat.DEFAULT_WAVE.bitRate()}, natives.lastRecordArguments);
        chosen.close();

        Recording plain = audio.record(Path.of("plain.mp3"), null);
        assertEquals(Optional.empty(), plain.device());
        plain.close();
        List<String> calls = natives.calls();
        assertTrue(calls.contains("recordFromDevice") && calls.indexOf("record") > calls.indexOf("recordFromDevice"));
    }

    @Test
    void aDeviceUnpluggedSinceItWasListedFailsTheStartWithItsOwnCode() throws Exception {
        natives.inputDevices = "@device:sw:a\tBuilt-in\n@device:sw:b\tUSB Microphone\n";
        open();
        InputDevice usb = audio.inputDevices().get(1);
        natives.inputDevices = "@device:sw:a\tBuilt-in\n";
        Recording recording = audio.newRecording(Path.of("usb.mp3"), RecordingFormat.DEFAULT, usb);
        AudioException failure = assertThrows(AudioException.class, recording::start);
        assertEquals(ResultCodes.DEVICE_NOT_PRESENT, failure.resultCode());
        assertTrue(failure.getMessage().contains("the chosen input or output device is not present"), failure.getMessage());
        assertFalse(recording.isActive());
        // Nothing is held: the next recording starts at once.
        audio.record(Path.of("next.mp3"), null).close();
    }
}
