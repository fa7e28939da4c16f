#pragma once
// DirectShow::TFilterGraphClient<I>: one interface of a held graph (IMediaControl, IMediaSeeking ...),
// taken for the length of one call. A client is attached once and released by its destructor.
#include <windows.h>

#include "graph/filter_graph.h"
#include "stdax/com/ptr.h"

namespace DirectShow {

template <class I>
class TFilterGraphClient : public COM::TPtr<I> {
public:
    TFilterGraphClient() = default;
    TFilterGraphClient(const TFilterGraphClient&) = delete;
    TFilterGraphClient& operator=(const TFilterGraphClient&) = delete;

    // Queries the graph for I. E_UNEXPECTED when already attached or when the graph object holds no
    // graph; the first interface stays attached.
    HRESULT Attach(const CFilterGraph& graph)
    {
        if (this->IsValid())
            return E_UNEXPECTED;
        return graph.QueryInterface(__uuidof(I), reinterpret_cast<void**>(&this->p));
    }
};

} // namespace DirectShow
