package com.tarvik.kelvane.audio;

import static com.tarvik.kelvane.testing.Check.equal;
import static com.tarvik.kelvane.testing.Check.fails;
import static com.tarvik.kelvane.testing.Check.isTrue;

/** Recording formats and their argument checks; result-code names and texts. */
public class FormatAndCodesTest {
    public void testFormatsGiveTheLibrarysNumbers() {
        RecordingFormat mp3 = RecordingFormat.mp3(48000, 192000);
        equal(85, mp3.formatTag(), "mp3 tag");
        equal(48000, mp3.sampleRate(), "rate");
        equal(192000, mp3.bitRate(), "bit rate");
        isTrue(mp3.isMp3(), "mp3");
        equal(1, RecordingFormat.pcm(8000).formatTag(), "pcm tag");
        equal(0xFFFF, RecordingFormat.wave(0xFFFF, 8000).formatTag(), "largest tag");
        equal(RecordingFormat.mp3(44100, 128000), RecordingFormat.DEFAULT, "default");
        equal("WAVE tag 0x0011, 22050 Hz mono", RecordingFormat.wave(0x11, 22050).toString(), "text");
    }

    public void testFormatArgumentsOutOfRangeAreRefused() {
        fails(IllegalArgumentException.class, () -> RecordingFormat.mp3(0, 128000));
        fails(IllegalArgumentException.class, () -> RecordingFormat.mp3(44100, 0));
        fails(IllegalArgumentException.class, () -> RecordingFormat.mp3(44100, 320001));
        fails(IllegalArgumentException.class, () -> RecordingFormat.pcm(384001));
        fails(IllegalArgumentException.class, () -> RecordingFormat.wave(-1, 8000));
        fails(IllegalArgumentException.class, () -> RecordingFormat.wave(0x10000, 8000));
        IllegalArgumentException mp3 = fails(IllegalArgumentException.class, () -> RecordingFormat.wave(85, 8000));
        isTrue(mp3.getMessage().contains("mp3("), mp3.getMessage());
    }

    public void testResultCodeNames() {
        equal("S_OK", ResultCodes.nameOf(0), "0");
        equal("E_UNEXPECTED", ResultCodes.nameOf(0x8000FFFF), "unexpected");
        equal("HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER)", ResultCodes.nameOf(0x8007007A), "buffer");
        equal("VFW_E_TIMEOUT", ResultCodes.nameOf(0x8004022E), "timeout");
        equal("0x8004FFFF", ResultCodes.nameOf(0x8004FFFF), "unknown codes in hex");
        equal("0x80070057 E_INVALIDARG (invalid argument: empty path, missing array or no input device)",
                ResultCodes.describe(0x80070057), "description");
        isTrue(ResultCodes.succeeded(1) && !ResultCodes.succeeded(0x80004005), "success by sign");
        AudioException failure = new AudioException("stop", 0x8004022E);
        equal(0x8004022E, failure.resultCode(), "code");
        equal("stop failed: " + ResultCodes.describe(0x8004022E), failure.getMessage(), "message");
    }
}
