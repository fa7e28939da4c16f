#pragma once
// DirectShow::CBasicAudio: the volume and balance of the graph it is attached to, as the graph manager
// passes them to its audio renderer, in hundredths of a decibel.
#include <windows.h>
#include <dshow.h>

#include "graph/filter_graph_client.h"

namespace DirectShow {

class CBasicAudio : public TFilterGraphClient<IBasicAudio> {
public:
    static constexpr long kSilence = -10000;  // volume: silence; balance: one channel silenced
    static constexpr long kFull = 0;          // volume: full; balance: centred
    static constexpr long kRightSilenced = -10000;
    static constexpr long kLeftSilenced = 10000;

    // Attaches to the graph's IBasicAudio. E_NOINTERFACE when the graph has none.
    HRESULT Attach(const CFilterGraph& graph);

    // Volume -10000 (silence) ... 0 (full); balance -10000 (right silenced) ... 10000 (left silenced).
    // E_INVALIDARG outside (nothing changed); E_NOINTERFACE when the graph holds no audio renderer;
    // E_UNEXPECTED when not attached.
    HRESULT SetVolume(long volume);
    HRESULT GetVolume(long* volume);
    HRESULT SetBalance(long balance);
    HRESULT GetBalance(long* balance);
};

} // namespace DirectShow
