#pragma once
// Development-build checks of the thread contracts that headers state ("worker thread
// only", "main thread only", "render thread only"), placed at the entry points that
// carry them. Release builds (NDEBUG) compile the checks out, argument and all.
//
// A contract binds while its thread exists: an id of 0 (a worker that is not running,
// whose jobs then run inline on their caller, or an owner not recorded yet) accepts
// every thread.
#include <cassert>

#include "platform/os/Thread.h"

inline bool OnThreadOrUnbound(os::ThreadId id) { return id == 0 || id == os::CurrentThreadId(); }

// `contract` names the thread in the failure message: ASSERT_ON_THREAD(id, "main thread").
#define ASSERT_ON_THREAD(threadId, contract) assert(OnThreadOrUnbound(threadId) && "called off the " contract)
