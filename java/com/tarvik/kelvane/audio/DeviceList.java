package com.tarvik.kelvane.audio;

import java.nio.charset.StandardCharsets;
import java.util.ArrayList;
import java.util.Collections;
import java.util.List;

/**
 * The library's device lists (input and output alike): UTF-8 text, "id TAB name LF" per device, the
 * default first, read through a native that tells the size it needs when the array is short.
 */
final class DeviceList {
    /** HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER): the list needs a larger array. */
    private static final int INSUFFICIENT_BUFFER = 0x8007007A;

    /** The native that fills a list: getInputDevices or getOutputDevices. */
    interface Query {
        int list(byte[] list, int[] size);
    }

    /** Makes one device from its id, its name and whether it is the default (the first). */
    interface Maker<T> {
        T make(String id, String name, boolean isDefault);
    }

    private DeviceList() {
    }

    /** Reads the list afresh; empty when the system has no device. */
    static <T> List<T> read(String operation, Query query, Maker<T> maker) throws AudioException {
        byte[] list = new byte[4096];
        int[] size = new int[1];
        int result = query.list(list, size);
        // A device that came between two calls needs more room: ask again with the size told.
        for (int round = 0; result == INSUFFICIENT_BUFFER && round < 4; round++) {
            list = new byte[Math.max(size[0], list.length * 2)];
            result = query.list(list, size);
        }
        if (result < 0) {
            throw AudioException.of(operation, null, result);
        }
        if (result == ResultCodes.S_FALSE || size[0] <= 0 || size[0] > list.length) {
            return Collections.emptyList();
        }
        return parse(new String(list, 0, size[0], StandardCharsets.UTF_8), maker);
    }

    static <T> List<T> parse(String text, Maker<T> maker) {
        List<T> devices = new ArrayList<>();
        for (String line : text.split("\n")) {
            int tab = line.indexOf('\t');
            if (tab > 0) {
                devices.add(maker.make(line.substring(0, tab), line.substring(tab + 1), devices.isEmpty()));
            }
        }
        return Collections.unmodifiableList(devices);
    }
}
