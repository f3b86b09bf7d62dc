// QRAclRoles: the role-table reads shared by TQuireACL and TQuireACLEntry. Internal.
//
// Role names travel in 18-byte buffers (17 characters). A look-up that the API refuses ends
// a search: guessing past a role that could not be read could overwrite it.
#pragma once

#include <cstdint>
#include <string>

#include "binding/Quire01.h"
#include "objects/QRBuffer.h"

namespace qrroles {

inline constexpr size_t kNameBuffer = HT_ROLE_NAME_CAPACITY;
inline constexpr int kLastSearched = 78;

// Reads role `index`; the result code goes to lastError.
inline bool ReadName(HTDBHANDLE db, int index, std::string& name, uint32_t& lastError) {
  qrbuffer::Out<kNameBuffer> buffer;
  lastError = HTAPI.HTACLGetRoleName(db, index, buffer.get());
  name = buffer.text();
  return lastError == 0;
}

// The first role index from 1 to 78 whose name satisfies `match`, or 0.
template <class Match>
int Find(HTDBHANDLE db, uint32_t& lastError, Match match) {
  std::string name;
  for (int index = 1; index <= kLastSearched; ++index) {
    if (!ReadName(db, index, name, lastError)) return 0;
    if (match(name)) return index;
  }
  return 0;
}

// The role index named exactly `roleName`, or 0. The empty name is an unused slot, not a
// role, and a name longer than a role name can be matches nothing; neither is looked up.
inline int FindByName(HTDBHANDLE db, const std::string& roleName, uint32_t& lastError) {
  if (roleName.empty() || !qrbuffer::Fits(roleName, kNameBuffer)) return 0;
  return Find(db, lastError, [&](const std::string& name) { return name == roleName; });
}

}  // namespace qrroles
