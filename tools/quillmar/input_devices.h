// The audio input devices as the library lists them, for record --device.
#pragma once

#include "quillmar/audio_devices.h"

using InputDevice = AudioDevice;

class CInputDevices : public CAudioDevices {
public:
    CInputDevices() : CAudioDevices(DeviceKind::Input) {}
};
