// The transport natives' argument handling (paths as UTF-8 bytes, one-element result arrays) and
// their answers while no graph is held.
#include "loaded_library.h"

#include <gtest/gtest.h>
#include <gmock/gmock.h>

#include <string>
#include <vector>

using ::testing::Contains;
using ::testing::ElementsAre;

namespace {

const std::wstring kRecord = L"Java_com_tarvik_kelvane_Quillmar_record";
const std::wstring kPlay = L"Java_com_tarvik_kelvane_Quillmar_play";

class Transport : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(library.InitLibrary(), S_OK); }

    std::vector<std::wstring> Messages()
    {
        library.FreeLibrary();
        library.Unload();
        const TestTrace::Log log = CLoadedLibrary::ReadMainLog();
        EXPECT_TRUE(log.problems.empty());
        return log.Messages();
    }

    CLoadedLibrary library;
};

TEST_F(Transport, ControlCallsWithNothingHeldLeaveTheirArraysAlone)
{
    TestJvm::CJavaVm& jvm = library.Jvm();
    jbooleanArray paused = jvm.NewBooleanArray(1);
    jdoubleArray seconds = jvm.NewDoubleArray(1);
    jvm.SetDoubleContents(seconds, {-7.0});
    EXPECT_EQ(library.Java_com_tarvik_kelvane_Quillmar_pause(library.Env(), library.Java(), paused), E_UNEXPECTED);
    EXPECT_EQ(library.Java_com_tarvik_kelvane_Quillmar_stop(library.Env(), library.Java()), E_UNEXPECTED);
    EXPECT_EQ(library.Java_com_tarvik_kelvane_Quillmar_getDuration(library.Env(), library.Java(), seconds),
              E_UNEXPECTED);
    EXPECT_EQ(library.Java_com_tarvik_kelvane_Quillmar_getCurrentPosition(library.Env(), library.Java(), seconds),
              E_UNEXPECTED);
    EXPECT_TRUE(jvm.Releases().empty());
    EXPECT_THAT(jvm.DoubleContents(seconds), ElementsAre(-7.0));
    EXPECT_THAT(Messages(), Contains(L"Java_com_tarvik_kelvane_Quillmar_stop() done, return 0x8000FFFF."));
}

TEST_F(Transport, PathArguments)
{
    TestJvm::CJavaVm& jvm = library.Jvm();
    auto record = [&](jbyteArray path) {
        return library.Java_com_tarvik_kelvane_Quillmar_record(library.Env(), library.Java(), path, 85, 44100,
                                                              128000);
    };
    EXPECT_EQ(record(nullptr), E_INVALIDARG);
    EXPECT_EQ(record(jvm.NewByteArray(std::string())), E_INVALIDARG);
    jvm.ClearRecords();
    // The byte count, not a terminator, ends the path; characters outside ASCII arrive as UTF-16.
    const std::wstring path = L"C:\\Müsik\\日本\\ü.mp3";
    const std::string bytes = Utf8(path) + std::string("\0garbage", 8);
    record(jvm.NewByteArray(bytes.data(), static_cast<jsize>(Utf8(path).size())));
    EXPECT_THAT(jvm.Releases(), ElementsAre(::testing::Field(&TestJvm::ArrayRelease::mode, 0)));
    EXPECT_EQ(jvm.ElementsOutstanding(), 0);

    // An embedded NUL, bytes that are not UTF-8, and a path longer than the writers take are refused
    // before anything is built.
    EXPECT_EQ(record(jvm.NewByteArray(std::string("a.wav\0x.mp3", 11))), E_INVALIDARG);
    EXPECT_EQ(record(jvm.NewByteArray(std::string("\xC3\x28.mp3"))), HRESULT_FROM_WIN32(ERROR_NO_UNICODE_TRANSLATION));
    EXPECT_EQ(library.Java_com_tarvik_kelvane_Quillmar_record(library.Env(), library.Java(),
                                                              jvm.NewByteArray(std::string(300, 'w') + ".wav"), 1,
                                                              44100, 0),
              HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE));
    EXPECT_EQ(record(jvm.NewByteArray(std::string(300, 'm') + ".mp3")), HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE));

    jvm.FailArrayElements(true);
    EXPECT_EQ(library.Java_com_tarvik_kelvane_Quillmar_play(library.Env(), library.Java(),
                                                            jvm.NewByteArray(std::string("x.wav")), 3),
              E_FAIL);
    jvm.FailArrayElements(false);
    EXPECT_EQ(library.Java_com_tarvik_kelvane_Quillmar_play(nullptr, library.Java(),
                                                            jvm.NewByteArray(std::string("x.wav")), 3),
              E_UNEXPECTED);

    const std::vector<std::wstring> messages = Messages();
    EXPECT_THAT(messages, Contains(kRecord + L"( 85, 44100, 128000 ) begin…"));
    EXPECT_THAT(messages, Contains(L"file path = \"\"."));
    EXPECT_THAT(messages, Contains(kRecord + L"( 85, 44100, 128000 ) done, return 0x80070057."));
    EXPECT_THAT(messages, Contains(L"file path = \"" + path + L"\"."));
    EXPECT_THAT(messages, Contains(kPlay + L"( 3 ) done, return 0x80004005."));
    EXPECT_THAT(messages, Contains(kPlay + L"( 3 ) done, return 0x8000FFFF."));
}

TEST_F(Transport, AddBufferOnlyTraces)
{
    jbyteArray data = library.Jvm().NewByteArray(std::string("abc"));
    EXPECT_EQ(library.Java_com_tarvik_kelvane_Quillmar_addBuffer(library.Env(), library.Java(), data, -5, JNI_TRUE),
              S_OK);
    EXPECT_EQ(library.Java_com_tarvik_kelvane_Quillmar_addBuffer(nullptr, nullptr, nullptr, 7, JNI_FALSE), S_OK);
    EXPECT_TRUE(library.Jvm().Releases().empty());
    const std::vector<std::wstring> messages = Messages();
    const std::wstring header = L"Java_com_tarvik_kelvane_Quillmar_addBuffer";
    ASSERT_GE(messages.size(), 11u);
    EXPECT_THAT(std::vector<std::wstring>(messages.begin() + 7, messages.begin() + 11),
                ElementsAre(header + L"( -5, 1 ) begin…", header + L"( -5, 1 ) done, return 0x00000000.",
                            header + L"( 7, 0 ) begin…", header + L"( 7, 0 ) done, return 0x00000000."));
}

} // namespace
