// libnnotes.so: the two core-library entry points the library resolves. Both forward to the
// engine (libnthtapi.so, which this library links, so the loader shares the one copy the
// library has already loaded): signing goes to HTQuireSignNote with the handle
// HTDocumentGetNotesHandle gave, and message texts come from HTErrorGetInfo.
#include <cstring>

#include "hitest/hitest.h"

#define NNOTES_EXPORT extern "C" __attribute__((visibility("default")))

extern "C" HTSTATUS HTQuireSignNote(HTUINT notesHandle);
extern "C" HTBOOL HTErrorGetInfo(HTSTATUS code, HTINT* severity, char* text);

NNOTES_EXPORT HTSTATUS NSFNoteSign(HTUINT noteHandle) { return HTQuireSignNote(noteHandle); }

// Writes the message of `code` into `buffer` (cut to `capacity`, always terminated) and
// returns its length; 0 with an empty buffer for a code without a message.
NNOTES_EXPORT HTUINT OSLoadString(HTUINT /*module*/, HTSTATUS code, char* buffer, HTUINT capacity) {
  if (buffer == nullptr || capacity == 0) return 0;
  buffer[0] = '\0';
  char text[HT_ERROR_TEXT_CAPACITY] = {};
  HTINT severity = 0;
  if (!HTErrorGetInfo(code, &severity, text)) return 0;
  size_t n = strnlen(text, sizeof text - 1);
  if (n >= capacity) {
    n = capacity - 1;
    while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;  // keep UTF-8 whole
  }
  std::memcpy(buffer, text, n);
  buffer[n] = '\0';
  return HTUINT(n);
}
