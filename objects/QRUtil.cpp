#include "objects/QRUtil.h"

#include <algorithm>
#include <cstring>

#include "rtl/SharedMemory.h"

namespace {

constexpr char kPasswordBlockName[] = "QRPasswordMem";
constexpr uint32_t kPasswordBlockSize = 255;

}  // namespace

TSharedMem::TSharedMem(const std::string& name, uint32_t size)
    : block_(std::make_unique<rtl::SharedMemory>(name, size)),
      MapHandle(block_->Descriptor()),
      Name(name),
      Size(size),
      IsNewMapping(block_->IsNewMapping()),
      Buffer(block_->Buffer()) {}

TSharedMem::~TSharedMem() {
  const bool created = IsNewMapping;
  block_.reset();
  if (created) rtl::SharedMemory::Unlink(Name);
}

void QRSetPassword(const std::string& password) {
  TSharedMem block(kPasswordBlockName, kPasswordBlockSize);
  const size_t length = std::min<size_t>(password.size(), kPasswordBlockSize - 1);
  char* text = static_cast<char*>(block.Buffer);
  std::memcpy(text, password.data(), length);
  std::memset(text + length, 0, kPasswordBlockSize - length);
}
