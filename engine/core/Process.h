// The id of the calling process, without a system call each time.
//
// Batches, the flusher and the UNID generator ask on every write whether they still run in
// the process that set them up (a forked child must not commit its parent's batch). getpid
// is a real system call in this C library, and two of them per document were a measurable
// part of a save. The value is refreshed in a forked child before fork() returns there.
// Threads: any.
#pragma once

#include <sys/types.h>

namespace quire::engine {

pid_t currentProcess() noexcept;

}  // namespace quire::engine
