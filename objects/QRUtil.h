// QRUtil: TSharedMem, one named block of shared memory, and the password hand-off.
//
// A TSharedMem creates the block `Name` of `Size` bytes, or opens it when another owner
// (this process or another) already has it, and maps it read-write for the object's
// lifetime. A block this object created is created owner-only (mode 0600, it carries a
// password) and its name is removed when the object is destroyed: as with the system
// mappings the library was designed around, a block nobody else holds open does not
// outlive its creator, and a password never lingers in the system's shared memory. A
// reader that opens the block first keeps it, and sees what is written into it. A block that
// already exists is used only when this user owns it and its mode is owner-only; any other
// (pre-created by another user, or open to others) raises the shared-memory failure with
// EACCES, so a password is never written where another user can read it.
//
// Construction failure throws rtl::ESharedMemoryError with the message
// "Error creating shared memory <name> (<errno>)"; nothing stays open. The fields are
// read-only views of the mapping. One thread at a time per object; the block itself has no
// lock, as any shared memory.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "rtl/Export.h"

namespace rtl {
class SharedMemory;
}

class QUIRE_API TSharedMem {
 private:
  std::unique_ptr<rtl::SharedMemory> block_;  // first: the public fields are read from it

 public:
  TSharedMem(const std::string& name, uint32_t size);
  ~TSharedMem();
  TSharedMem(const TSharedMem&) = delete;
  TSharedMem& operator=(const TSharedMem&) = delete;

  const int MapHandle;      // the open descriptor of the block
  const std::string Name;   // as passed in
  const uint32_t Size;      // bytes, as passed in
  const bool IsNewMapping;  // this object created the block (else it already existed)
  void* const Buffer;       // Size writable bytes
};

// The password hand-off behind every SetPassword: writes `password` and a terminating zero
// byte at the start of the 255-byte block "QRPasswordMem" and releases the block again. A
// password longer than 254 characters is cut to 254, so the text always stays terminated
// within the block; the rest of the block is zeroed, so no tail of an earlier, longer
// password survives. Throws rtl::ESharedMemoryError when the block cannot be had.
QUIRE_API void QRSetPassword(const std::string& password);
