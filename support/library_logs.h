#pragma once
// The library's two trace logs. Both are static objects of the library (built in a fixed order with
// the other library objects); programs that use parts of the library without it define their own.
class CTraceLog;

extern CTraceLog s_MainLog;     // "Tessaro.log": Java-facing calls and graph building
extern CTraceLog s_EncoderLog;  // "MPEG2AudioEncoder.log": the MP3 encoder filter and its core
