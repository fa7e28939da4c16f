#pragma once
// The two ways this library strings operations together.
//
//   CStepSequence: steps run in order, each one's result is stored, and the first failing (negative)
//   result skips every later step. S_FALSE is not a failure: the sequence goes on.
//
//       HRESULT hr = S_OK;
//       CStepSequence steps(hr);
//       steps.Do([&] { return Open(); })
//            .Do([&] { log.Print(L"connect…"); return Connect(); });
//
//   CTearDown: every step runs whatever the earlier ones returned; the first non-zero result
//   (S_FALSE counts) is kept.
//
//       HRESULT hr = S_OK;
//       CTearDown(hr).Do([&] { return Stop(); }).Do([&] { return Close(); });
#include <windows.h>

#include <utility>

class CStepSequence {
public:
    explicit CStepSequence(HRESULT& result) : m_result(result) {}

    template <class Step>
    CStepSequence& Do(Step&& step)
    {
        if (SUCCEEDED(m_result))
            m_result = std::forward<Step>(step)();
        return *this;
    }

    bool Failed() const { return FAILED(m_result); }

private:
    HRESULT& m_result;
};

class CTearDown {
public:
    explicit CTearDown(HRESULT& result) : m_result(result) {}

    template <class Step>
    CTearDown& Do(Step&& step)
    {
        const HRESULT hr = std::forward<Step>(step)();
        if (m_result == S_OK)
            m_result = hr;
        return *this;
    }

private:
    HRESULT& m_result;
};
