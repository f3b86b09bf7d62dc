#include "engine/doc/Signature.h"

#include "engine/core/DateTime.h"
#include "engine/core/Status.h"
#include "engine/doc/Crypto.h"
#include "engine/store/ItemCodec.h"

namespace quire::engine::doc {
namespace {

constexpr const char* kVersion = "QSIG1";

void putField(store::Blob& b, std::string_view bytes) {
  const uint64_t n = bytes.size();
  for (int i = 0; i < 8; ++i) b.push_back(uint8_t(n >> (8 * i)));
  b.insert(b.end(), bytes.begin(), bytes.end());
}

std::string toHex(const std::array<uint8_t, 32>& mac) {
  static const char* kDigits = "0123456789abcdef";
  std::string out;
  for (uint8_t c : mac) {
    out += kDigits[c >> 4];
    out += kDigits[c & 15];
  }
  return out;
}

// The MAC input; nullopt when a covered item is missing or sealed.
std::optional<store::Blob> signedBytes(const Note& note, const std::string& signer, const std::string& when,
                                       const std::vector<std::string>& names) {
  store::Blob data;
  putField(data, signer);
  putField(data, when);
  for (const std::string& name : names) {
    const store::StoredItem* item = note.find(name);
    if (!item || note.isSealed(name)) return std::nullopt;
    putField(data, item->name);
    putField(data, std::to_string(item->type));
    putField(data, std::string_view(reinterpret_cast<const char*>(item->value.data()), item->value.size()));
  }
  return data;
}

bool sameText(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  unsigned diff = 0;
  for (size_t i = 0; i < a.size(); ++i) diff |= unsigned(uint8_t(a[i]) ^ uint8_t(b[i]));
  return diff == 0;
}

}  // namespace

void signNote(Note& note, const std::string& signer) {
  if (signer.empty()) raise(HTFAIL_ACCESS_DENIED, "A document can only be signed by a named user");
  note.remove(kSignatureItem);
  std::vector<std::string> names;
  for (store::StoredItem& item : note.items) {
    if (item.name.empty() || item.name[0] == '$') continue;
    if (note.isSealed(item.name)) raise(HTFAIL_NO_KEY, "Item " + item.name + " is encrypted with a key not held here");
    item.flags |= kItemSigned;
    names.push_back(item.name);
  }
  const std::string when = std::to_string(dt::pack(dt::now()));
  const crypto::Key key = crypto::obtainKey(crypto::signingKeyId(signer));
  const auto mac = crypto::hmacSha256(key, *signedBytes(note, signer, when, names));
  std::vector<std::string> entries{kVersion, signer, when, toHex(mac)};
  entries.insert(entries.end(), names.begin(), names.end());
  note.setTextList(kSignatureItem, entries);
}

std::optional<std::string> verifySignature(const Note& note) {
  const store::StoredItem* sig = note.find(kSignatureItem);
  if (!sig || sig->type != HTTYPE_TEXT_LIST) return std::nullopt;
  std::vector<std::string> entries;
  if (!store::codec::decodeTextList(sig->value, entries) || entries.size() < 4 || entries[0] != kVersion)
    return std::nullopt;
  const std::string& signer = entries[1];
  const auto key = crypto::loadKey(crypto::signingKeyId(signer));
  if (!key) return std::nullopt;
  const std::vector<std::string> names(entries.begin() + 4, entries.end());
  const auto data = signedBytes(note, signer, entries[2], names);
  if (!data) return std::nullopt;
  if (!sameText(toHex(crypto::hmacSha256(*key, *data)), entries[3])) return std::nullopt;
  return signer;
}

}  // namespace quire::engine::doc
