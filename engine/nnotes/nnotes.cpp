// libnnotes.so: the two core-library entry points the library resolves. Signing is a
// no-op success here because the engine keeps no signing keys; documents are still saved
// and sent normally.
#include "hitest/hitest.h"

#define NNOTES_EXPORT extern "C" __attribute__((visibility("default")))

NNOTES_EXPORT HTSTATUS NSFNoteSign(HTUINT noteHandle) {
  return noteHandle == 0 ? HTFAIL_INVALID_HANDLE : HTSUCCESS;
}

NNOTES_EXPORT HTUINT OSLoadString(HTUINT /*module*/, HTSTATUS code, char* buffer, HTUINT capacity) {
  if (buffer == nullptr || capacity == 0) return 0;
  buffer[0] = '\0';
  (void)code;
  return 0;
}
