// Keys, sealing and message authentication for documents (libgcrypt).
//
// Item encryption uses AES-256-GCM. A sealed value is "QSE1", a 12-byte random nonce, the
// ciphertext and the 16-byte tag; the item's name is authenticated with it, so a sealed value
// moved to another item does not open.
//
// Keys are 32 random bytes in files of the local data directory: <data>/keys/<id>.key, the
// folder mode 0700 and each file 0600, so only the user who owns the data directory can read
// them, and the database files never contain them. Key ids:
//   "db-<replica ID in hex>"  the default key of a database (and of all its replicas here)
//   "name-<hex of the name>"  a key named by the caller of HTDocumentEncrypt
//   "sign-<hex of the user>"  the signing key of a user (Signature.h)
// An id read from a document is checked to be one of these shapes before it names a file.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "engine/store/Storage.h"

namespace quire::engine::doc::crypto {

using Key = std::array<uint8_t, 32>;

store::Blob randomBytes(size_t n);

std::string databaseKeyId(store::Connection& conn);
std::string namedKeyId(std::string_view name);
std::string signingKeyId(std::string_view user);
bool validKeyId(std::string_view id);

// The key of that id when this data directory has it whole (a short file is no key).
std::optional<Key> loadKey(std::string_view id);
// The key of that id, made (and stored) when missing. A key file is written whole or not at
// all (temp file, fsync, link), so a crash never leaves a short one behind; an empty or short
// file an older engine left is replaced only when `sealedWith` (if given) answers that nothing
// was sealed with it, and is otherwise reported: HTFAIL_NO_KEY, "... is damaged". Making or
// replacing a key is serialised between processes by a lock file in the key folder. Throws
// HTFAIL_IO_ERROR naming the file when it cannot be written.
Key obtainKey(std::string_view id, const std::function<bool()>& sealedWith = {});

bool isSealed(const store::Blob& value);
store::Blob seal(const Key& key, std::string_view itemName, const store::Blob& plain);
// False when the value is not sealed with this key for this item name (or was altered).
bool unseal(const Key& key, std::string_view itemName, const store::Blob& sealed, store::Blob& plain);

std::array<uint8_t, 32> hmacSha256(const Key& key, const store::Blob& data);

}  // namespace quire::engine::doc::crypto
