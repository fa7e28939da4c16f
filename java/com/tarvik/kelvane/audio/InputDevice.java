package com.tarvik.kelvane.audio;

import java.util.Objects;

/**
 * An audio input device (a microphone, a headset, a line input, a virtual cable) as
 * {@link AudioLibrary#inputDevices()} lists it. Two devices are equal when their ids are: the id stays the
 * same while the device is plugged in, and tells apart devices with the same name.
 *
 * <pre>{@code
 * InputDevice headset = audio.inputDevices().stream()
 *         .filter(device -> device.name().contains("Headset"))
 *         .findFirst()
 *         .orElseThrow(() -> new IllegalStateException("no headset"));
 * try (Recording memo = audio.record(Paths.get("memo.mp3"), RecordingFormat.DEFAULT, headset, null, null)) {
 *     Thread.sleep(5000);
 * }
 * }</pre>
 */
public final class InputDevice {
    private final String id;
    private final String name;
    private final boolean isDefault;

    InputDevice(String id, String name, boolean isDefault) {
        this.id = Objects.requireNonNull(id, "id");
        this.name = Objects.requireNonNull(name, "name");
        this.isDefault = isDefault;
    }

    /**
     * The device's name as the system shows it to users.
     *
     * @return the friendly name, such as "Microphone (USB Audio)"; control characters are spaces
     */
    public String name() {
        return name;
    }

    /**
     * The system's id of the device, the same while it is plugged in; not meant to be shown.
     *
     * @return the id
     */
    public String id() {
        return id;
    }

    /**
     * Whether this is the system's default input device, the one a recording without a chosen device
     * records from.
     *
     * @return true for the default device (the first of the list)
     */
    public boolean isDefault() {
        return isDefault;
    }

    @Override
    public boolean equals(Object other) {
        return other instanceof InputDevice && id.equals(((InputDevice) other).id);
    }

    @Override
    public int hashCode() {
        return id.hashCode();
    }

    /**
     * The name, for lists and menus.
     *
     * @return the name, with " (default)" after the default device's
     */
    @Override
    public String toString() {
        return isDefault ? name + " (default)" : name;
    }
}
