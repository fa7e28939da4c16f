#include "support/library_logs.h"
#include "support/trace_log.h"

// Test programs write the logs into their current directory (their scratch directory).
CTraceLog s_MainLog(L"Tessaro.log");
CTraceLog s_EncoderLog(L"MPEG2AudioEncoder.log");
