#pragma once
// Pairs COM initialisation of the calling thread with its release. One guard belongs to one thread:
// Initialise and Uninitialise must be called on the thread that owns it.
#include <windows.h>

class CComInit {
public:
    CComInit() = default;
    // Releases COM if this guard still holds an initialisation.
    ~CComInit();
    CComInit(const CComInit&) = delete;
    CComInit& operator=(const CComInit&) = delete;

    // E_UNEXPECTED if this guard already initialised COM; otherwise CoInitialize's result (S_OK, or
    // S_FALSE when the thread had COM already, both of which must be paired with a release). A thread
    // that is already in the multithreaded apartment works in it: S_FALSE, and the guard counts as
    // initialised, but its release leaves that apartment's initialisation to its owner.
    HRESULT Initialise();
    // S_FALSE if this guard holds no initialisation; otherwise releases it and returns S_OK.
    HRESULT Uninitialise();

    bool Initialised() const { return m_initialised; }

private:
    bool m_initialised = false;
    bool m_owned = false;  // CoInitialize succeeded: the release calls CoUninitialize
};
