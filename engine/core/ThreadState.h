// Per-thread state that is safe to reach from exit handlers.
//
// A thread's thread_local objects are destroyed when it ends -- for the main thread, in
// exit() before the atexit chain runs. Hosts call the engine from that chain (the library's
// own exit handler ends the API with HTTerm), so a thread_local with a destructor would be
// used after it was destroyed. threadState<T, Tag>() gives the calling thread's T, or
// nullptr once that thread has begun destroying its thread-locals; the flag that tells is
// trivially destructible and stays readable until the thread is gone. Tag tells apart two
// states of the same type.
#pragma once

namespace quire::engine {

template <typename T, typename Tag = void>
T* threadState() {
  static thread_local bool gone = false;
  struct Holder {
    T value{};
    ~Holder() { gone = true; }
  };
  if (gone) return nullptr;
  static thread_local Holder holder;
  return &holder.value;
}

}  // namespace quire::engine
