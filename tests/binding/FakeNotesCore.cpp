// A stand-in for libnnotes.so whose answers the tests can recognise.
#include <cstring>

#include "hitest/hitest.h"
#include "tests/binding/FakeApi.h"

#define FAKE_EXPORT extern "C" __attribute__((visibility("default")))

FAKE_EXPORT HTSTATUS NSFNoteSign(HTUINT) { return kFakeNoteSignResult; }

FAKE_EXPORT HTUINT OSLoadString(HTUINT, HTSTATUS, char* buffer, HTUINT capacity) {
  std::strncpy(buffer, "fake core", capacity);
  if (capacity > 0) buffer[capacity - 1] = '\0';
  return static_cast<HTUINT>(std::strlen(buffer));
}
