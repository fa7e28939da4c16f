#include "graph/basic_audio.h"

namespace DirectShow {
namespace {

// A graph manager answers E_NOTIMPL (or VFW_E_NO_AUDIO_HARDWARE) when none of its filters is an audio
// renderer: the same as a graph without the interface.
HRESULT NoRendererIsNoInterface(HRESULT hr)
{
    return hr == E_NOTIMPL || hr == VFW_E_NO_AUDIO_HARDWARE ? E_NOINTERFACE : hr;
}

} // namespace

HRESULT CBasicAudio::Attach(const CFilterGraph& graph)
{
    if (IsValid())
        return E_UNEXPECTED;
    // By its IID: the headers declare no __uuidof for IBasicAudio.
    const HRESULT hr = graph.QueryInterface(IID_IBasicAudio, reinterpret_cast<void**>(&p));
    return hr == E_NOINTERFACE || (SUCCEEDED(hr) && IsNull()) ? E_NOINTERFACE : hr;
}

HRESULT CBasicAudio::SetVolume(long volume)
{
    if (volume < kSilence || volume > kFull)
        return E_INVALIDARG;
    if (IsNull())
        return E_UNEXPECTED;
    return NoRendererIsNoInterface(p->put_Volume(volume));
}

HRESULT CBasicAudio::GetVolume(long* volume)
{
    if (IsNull())
        return E_UNEXPECTED;
    return NoRendererIsNoInterface(p->get_Volume(volume));
}

HRESULT CBasicAudio::SetBalance(long balance)
{
    if (balance < kRightSilenced || balance > kLeftSilenced)
        return E_INVALIDARG;
    if (IsNull())
        return E_UNEXPECTED;
    return NoRendererIsNoInterface(p->put_Balance(balance));
}

HRESULT CBasicAudio::GetBalance(long* balance)
{
    if (IsNull())
        return E_UNEXPECTED;
    return NoRendererIsNoInterface(p->get_Balance(balance));
}

} // namespace DirectShow
