#include "binding/callback_thread.h"

namespace JNI {
namespace {

thread_local ECallback t_callback = ECallback::None;

} // namespace

ECallback CurrentCallback()
{
    return t_callback;
}

CCallbackScope::CCallbackScope(ECallback callback) : m_outer(t_callback)
{
    t_callback = callback;
}

CCallbackScope::~CCallbackScope()
{
    t_callback = m_outer;
}

} // namespace JNI
