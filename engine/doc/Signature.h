// Document signatures: what NSFNoteSign (libnnotes) does through HTQuireSignNote.
//
// Signing covers every item whose name does not begin with "$" (they are flagged
// kItemSigned) and writes the "$Signature" item, a text list:
//   "QSIG1", the signer's name, the signing time (packed date-time in decimal), the MAC in
//   hex, then the names of the covered items in order.
// The MAC is HMAC-SHA256, keyed with the signer's signing key (Crypto.h, made on first use),
// over the signer, the time and each covered item's name, type and value (length-prefixed).
// Items added later (routing stamps, "$" items) do not break it; a changed, removed or
// renamed covered item does. Verification needs the signer's key, i.e. this data directory.
#pragma once

#include <optional>
#include <string>

#include "engine/doc/Note.h"

namespace quire::engine::doc {

// Signs `note` in memory as `signer` (the caller saves it).
void signNote(Note& note, const std::string& signer);

// The signer when the note carries a signature that verifies; nullopt otherwise.
std::optional<std::string> verifySignature(const Note& note);

}  // namespace quire::engine::doc
