#include "engine/doc/Crypto.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gcrypt.h>

#include <cerrno>
#include <cstring>
#include <mutex>

#include "engine/core/Engine.h"
#include "engine/core/Files.h"
#include "engine/core/Status.h"
#include "engine/store/Properties.h"

namespace quire::engine::doc::crypto {
namespace {

constexpr char kSealMagic[4] = {'Q', 'S', 'E', '1'};
constexpr size_t kNonceSize = 12;
constexpr size_t kTagSize = 16;

void initialise() {
  static std::once_flag once;
  std::call_once(once, [] {
    if (!gcry_check_version(GCRYPT_VERSION)) raise(HTFAIL_ENCRYPT_FAILED, "The cipher library is too old");
    gcry_control(GCRYCTL_DISABLE_SECMEM, 0);
    gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
  });
}

[[noreturn]] void cipherFailure(const char* what, gcry_error_t err) {
  raise(HTFAIL_ENCRYPT_FAILED, std::string(what) + ": " + gcry_strerror(err));
}

std::string hex(std::string_view bytes) {
  static const char* kDigits = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out += kDigits[c >> 4];
    out += kDigits[c & 15];
  }
  return out;
}

std::filesystem::path keyDirectory() { return config().dataDir() / "keys"; }

std::filesystem::path keyFile(std::string_view id) {
  if (!validKeyId(id)) raise(HTFAIL_NO_KEY, "Malformed key name \"" + std::string(id) + "\"");
  return keyDirectory() / (std::string(id) + ".key");
}

// RAII cipher handle.
class Cipher {
 public:
  Cipher(const Key& key, const uint8_t* nonce) {
    initialise();
    if (auto err = gcry_cipher_open(&hd_, GCRY_CIPHER_AES256, GCRY_CIPHER_MODE_GCM, 0)) cipherFailure("Cipher", err);
    if (auto err = gcry_cipher_setkey(hd_, key.data(), key.size())) cipherFailure("Cipher key", err);
    if (auto err = gcry_cipher_setiv(hd_, nonce, kNonceSize)) cipherFailure("Cipher nonce", err);
  }
  ~Cipher() { gcry_cipher_close(hd_); }
  Cipher(const Cipher&) = delete;
  Cipher& operator=(const Cipher&) = delete;
  gcry_cipher_hd_t get() { return hd_; }

 private:
  gcry_cipher_hd_t hd_ = nullptr;
};

}  // namespace

store::Blob randomBytes(size_t n) {
  initialise();
  store::Blob b(n);
  if (n) gcry_randomize(b.data(), n, GCRY_STRONG_RANDOM);
  return b;
}

std::string databaseKeyId(store::Connection& conn) {
  auto replica = store::prop::getBlob(conn, store::prop::kReplicaId).value_or(store::Blob{});
  return "db-" + hex(std::string_view(reinterpret_cast<const char*>(replica.data()), replica.size()));
}

std::string namedKeyId(std::string_view name) { return "name-" + hex(name); }

std::string signingKeyId(std::string_view user) { return "sign-" + hex(user); }

bool validKeyId(std::string_view id) {
  if (id.size() > 200) return false;
  size_t dash = id.find('-');
  if (dash == std::string_view::npos || dash + 1 >= id.size()) return false;
  std::string_view kind = id.substr(0, dash);
  if (kind != "db" && kind != "name" && kind != "sign") return false;
  for (char c : id.substr(dash + 1))
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  return true;
}

std::optional<Key> loadKey(std::string_view id) {
  if (!validKeyId(id)) return std::nullopt;
  auto content = files::read(keyFile(id));
  if (!content || content->size() != Key().size()) return std::nullopt;
  Key key;
  std::memcpy(key.data(), content->data(), key.size());
  return key;
}

Key obtainKey(std::string_view id, const std::function<bool()>& sealedWith) {
  if (auto key = loadKey(id)) return *key;
  const std::filesystem::path dir = keyDirectory();
  files::ensureDirectory(dir);
  const std::filesystem::path file = keyFile(id);
  // Two processes making the same key must end with one key, never a document sealed with a
  // key that is then replaced: the lock orders them, the link refuses a second writer.
  files::FileLock lock(config().dataDir() / "keys.lock");
  const std::optional<std::string> content = files::read(file);
  if (content && content->size() == Key().size()) return *loadKey(id);
  const store::Blob fresh = randomBytes(Key().size());
  const std::string_view bytes(reinterpret_cast<const char*>(fresh.data()), fresh.size());
  if (!content) {
    if (!files::writeExclusive(file, bytes)) raise(HTFAIL_IO_ERROR, "The key file " + file.string() + " appeared while it was made");
  } else {
    if (sealedWith && sealedWith())
      raise(HTFAIL_NO_KEY, "The key file " + file.string() + " is damaged (" + std::to_string(content->size()) +
                               " bytes), and documents are sealed with it");
    files::writeAtomic(file, bytes);
  }
  Key key;
  std::memcpy(key.data(), fresh.data(), key.size());
  return key;
}

bool isSealed(const store::Blob& value) {
  return value.size() >= 4 + kNonceSize + kTagSize && std::memcmp(value.data(), kSealMagic, 4) == 0;
}

store::Blob seal(const Key& key, std::string_view itemName, const store::Blob& plain) {
  store::Blob out(kSealMagic, kSealMagic + 4);
  store::Blob nonce = randomBytes(kNonceSize);
  out.insert(out.end(), nonce.begin(), nonce.end());
  Cipher c(key, nonce.data());
  if (auto err = gcry_cipher_authenticate(c.get(), itemName.data(), itemName.size())) cipherFailure("Cipher", err);
  const size_t start = out.size();
  out.resize(start + plain.size() + kTagSize);
  if (!plain.empty()) {
    gcry_cipher_final(c.get());
    if (auto err = gcry_cipher_encrypt(c.get(), out.data() + start, plain.size(), plain.data(), plain.size()))
      cipherFailure("Encryption", err);
  }
  if (auto err = gcry_cipher_gettag(c.get(), out.data() + start + plain.size(), kTagSize)) cipherFailure("Encryption", err);
  return out;
}

bool unseal(const Key& key, std::string_view itemName, const store::Blob& sealed, store::Blob& plain) {
  if (!isSealed(sealed)) return false;
  const uint8_t* nonce = sealed.data() + 4;
  const uint8_t* body = nonce + kNonceSize;
  const size_t size = sealed.size() - 4 - kNonceSize - kTagSize;
  Cipher c(key, nonce);
  if (gcry_cipher_authenticate(c.get(), itemName.data(), itemName.size())) return false;
  store::Blob out(size);
  if (size) {
    gcry_cipher_final(c.get());
    if (gcry_cipher_decrypt(c.get(), out.data(), size, body, size)) return false;
  }
  if (gcry_cipher_checktag(c.get(), body + size, kTagSize)) return false;
  plain = std::move(out);
  return true;
}

std::array<uint8_t, 32> hmacSha256(const Key& key, const store::Blob& data) {
  initialise();
  gcry_mac_hd_t hd = nullptr;
  if (auto err = gcry_mac_open(&hd, GCRY_MAC_HMAC_SHA256, 0, nullptr)) cipherFailure("Signature", err);
  std::array<uint8_t, 32> mac{};
  size_t len = mac.size();
  gcry_error_t err = gcry_mac_setkey(hd, key.data(), key.size());
  if (!err) err = gcry_mac_write(hd, data.data(), data.size());
  if (!err) err = gcry_mac_read(hd, mac.data(), &len);
  gcry_mac_close(hd);
  if (err) cipherFailure("Signature", err);
  return mac;
}

}  // namespace quire::engine::doc::crypto
