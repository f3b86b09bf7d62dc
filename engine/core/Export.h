// The one marker for a symbol of the C API. The library is built with hidden visibility, so
// the export list is exactly the contract's entry points plus the documented extensions.
#pragma once

#define HT_EXPORT extern "C" __attribute__((visibility("default")))
