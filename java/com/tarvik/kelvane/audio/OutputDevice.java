package com.tarvik.kelvane.audio;

import java.util.Objects;

/**
 * An audio output device (speakers, headphones, a headset, a virtual cable) as
 * {@link AudioLibrary#outputDevices()} lists it. Two devices are equal when their ids are: the id stays the
 * same while the device is plugged in, and tells apart devices with the same name.
 *
 * <pre>{@code
 * OutputDevice headset = audio.outputDevices().stream()
 *         .filter(device -> device.name().contains("Headset"))
 *         .findFirst()
 *         .orElseThrow(() -> new IllegalStateException("no headset"));
 * try (Playback memo = audio.play(Paths.get("memo.mp3"), headset, null)) {
 *     memo.ended().get();
 * }
 * }</pre>
 */
public final class OutputDevice {
    private final String id;
    private final String name;
    private final boolean isDefault;

    OutputDevice(String id, String name, boolean isDefault) {
        this.id = Objects.requireNonNull(id, "id");
        this.name = Objects.requireNonNull(name, "name");
        this.isDefault = isDefault;
    }

    /**
     * The device's name as the system shows it to users.
     *
     * @return the friendly name, such as "Speakers (USB Audio)"; control characters are spaces
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
     * Whether this is the system's default output device, the one a playback without a chosen device
     * plays on.
     *
     * @return true for the default device (the first of the list)
     */
    public boolean isDefault() {
        return isDefault;
    }

    @Override
    public boolean equals(Object other) {
        return other instanceof OutputDevice && id.equals(((OutputDevice) other).id);
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
