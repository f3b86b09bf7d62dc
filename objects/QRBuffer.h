// QRBuffer: bounded copies between strings and the fixed-size buffers that cross the C API.
//
// Every text handed to the API travels in a zero-terminated buffer of a fixed size, and every
// text the API hands back arrives in one. These helpers are the only way the object model
// fills or reads such a buffer: a text that does not fit is cut at the buffer's capacity
// (never in the middle of a UTF-8 sequence), and reading stops at the first zero byte or at
// the buffer's end, whichever comes first, so an engine that forgot the terminator cannot
// make the library read past the buffer. Internal to the object model; pure functions.
#pragma once

#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>

namespace qrbuffer {

// Bytes of `text` that fit in `capacity` bytes with the terminator, shortened so that no
// UTF-8 sequence is split.
inline size_t FittingLength(std::string_view text, size_t capacity) {
  if (capacity == 0) return 0;
  size_t length = text.size();
  if (length < capacity) return length;
  length = capacity - 1;
  while (length > 0 && (static_cast<unsigned char>(text[length]) & 0xC0) == 0x80) --length;
  return length;
}

// True when `text` fits in a buffer of `capacity` bytes with its terminator.
inline bool Fits(std::string_view text, size_t capacity) { return text.size() < capacity; }

inline void Fill(char* buffer, size_t capacity, std::string_view text) {
  if (capacity == 0) return;
  const size_t length = FittingLength(text, capacity);
  std::memcpy(buffer, text.data(), length);
  std::memset(buffer + length, 0, capacity - length);
}

template <size_t N>
void Fill(char (&buffer)[N], std::string_view text) {
  Fill(buffer, N, text);
}

inline std::string Text(const char* buffer, size_t capacity) {
  return std::string(buffer, strnlen(buffer, capacity));
}

template <size_t N>
std::string Text(const char (&buffer)[N]) {
  return Text(buffer, N);
}

// A zero-filled buffer holding `text`, cut to fit: the usual way an argument is passed.
template <size_t N>
struct In {
  char data[N];
  explicit In(std::string_view text) { Fill(data, text); }
  const char* get() const { return data; }
};

// A zero-filled out-buffer, so that a call that writes nothing leaves the empty text.
template <size_t N>
struct Out {
  char data[N] = {};
  char* get() { return data; }
  std::string text() const { return Text(data); }
};

}  // namespace qrbuffer
