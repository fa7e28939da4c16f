#pragma once
// Length of an MPEG audio Layer III frame from its 4-byte header (MPEG-1, MPEG-2 and MPEG 2.5).
#include <windows.h>

namespace MPEG2AudioEncoder {

// The frame length in bytes (padding included) of the Layer III header at header[0..3], or -1 when
// the four bytes are not a usable header: no sync word, reserved version, another layer, free-format
// or forbidden bit rate, reserved sampling frequency or reserved emphasis. The protection bit is not
// looked at.
int GetFrameLength(const BYTE* header);

} // namespace MPEG2AudioEncoder
