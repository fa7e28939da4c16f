#include "binding/media_event_names.h"

namespace JNI {
namespace {

struct SEventName {
    long code;
    const wchar_t* name;
};

const SEventName kEventNames[] = {
    {0, L"EC_SYSTEMBASE"},
    {1, L"EC_COMPLETE"},
    {2, L"EC_USERABORT"},
    {3, L"EC_ERRORABORT"},
    {4, L"EC_TIME"},
    {5, L"EC_REPAINT"},
    {6, L"EC_STREAM_ERROR_STOPPED"},
    {7, L"EC_STREAM_ERROR_STILLPLAYING"},
    {8, L"EC_ERROR_STILLPLAYING"},
    {9, L"EC_PALETTE_CHANGED"},
    {10, L"EC_VIDEO_SIZE_CHANGED"},
    {11, L"EC_QUALITY_CHANGE"},
    {12, L"EC_SHUTTING_DOWN"},
    {13, L"EC_CLOCK_CHANGED"},
    {14, L"EC_PAUSED"},
    {16, L"EC_OPENING_FILE"},
    {17, L"EC_BUFFERING_DATA"},
    {18, L"EC_FULLSCREEN_LOST"},
    {19, L"EC_ACTIVATE"},
    {20, L"EC_NEED_RESTART"},
    {21, L"EC_WINDOW_DESTROYED"},
    {22, L"EC_DISPLAY_CHANGED"},
    {23, L"EC_STARVATION"},
    {24, L"EC_OLE_EVENT"},
    {25, L"EC_NOTIFY_WINDOW"},
    {26, L"EC_STREAM_CONTROL_STOPPED"},
    {27, L"EC_STREAM_CONTROL_STARTED"},
    {28, L"EC_END_OF_SEGMENT"},
    {29, L"EC_SEGMENT_STARTED"},
    {30, L"EC_LENGTH_CHANGED"},
    {31, L"EC_DEVICE_LOST"},
    {36, L"EC_STEP_COMPLETE"},
    {48, L"EC_TIMECODE_AVAILABLE"},
    {49, L"EC_EXTDEVICE_MODE_CHANGE"},
    {50, L"EC_STATE_CHANGE"},
    {80, L"EC_GRAPH_CHANGED"},
    {81, L"EC_CLOCK_UNSET"},
    {83, L"EC_VMR_RENDERDEVICE_SET"},
    {84, L"EC_VMR_SURFACE_FLIPPED"},
    {85, L"EC_VMR_RECONNECTION_FAILED"},
    {512, L"EC_SNDDEV_IN_ERROR"},
    {513, L"EC_SNDDEV_OUT_ERROR"},
    {593, L"EC_WMT_EVENT_BASE"},
    {768, L"EC_BUILT"},
    {769, L"EC_UNBUILT"},
};

static_assert(sizeof(kEventNames) / sizeof(kEventNames[0]) == 45, "one row per named event code");

} // namespace

const wchar_t* MediaEventName(long code)
{
    for (const SEventName& row : kEventNames) {
        if (row.code == code)
            return row.name;
    }
    return nullptr;
}

} // namespace JNI
