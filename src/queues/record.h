#pragma once
// Helpers for declaring payload records.
#include "queues/codec.h"

// A payload record without fields: nothing on the wire, nothing in the text
// form. Used for the payloads of event types that this process never sends
// or handles, whose contents are private to the processes that use them.
#define HX_EMPTY_RECORD(name)      \
  struct name {                    \
    template <class S, class V>    \
    static void fields(S&, V&&) {} \
  }
