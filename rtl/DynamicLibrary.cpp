#include "rtl/DynamicLibrary.h"

#include <dlfcn.h>

#include <utility>

namespace rtl {
namespace {

std::string TakeDlError(const char* fallback) {
  const char* text = dlerror();
  return text != nullptr ? text : fallback;
}

class PosixLoader final : public LibraryLoader {
 public:
  void* Open(const std::string& path, std::string* error) override {
    // dlopen("") would hand back the main program instead of failing.
    if (path.empty()) {
      *error = "empty library path";
      return nullptr;
    }
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) *error = TakeDlError("dlopen failed");
    return handle;
  }

  void* Symbol(void* handle, const std::string& name, std::string* error) override {
    dlerror();  // a null address is only an error if dlerror says so
    void* address = dlsym(handle, name.c_str());
    if (const char* text = dlerror()) {
      *error = text;
      return nullptr;
    }
    if (address == nullptr) *error = "symbol " + name + " has a null address";
    return address;
  }

  void Close(void* handle) override { dlclose(handle); }
};

LibraryLoader* g_defaultLoader = nullptr;

}  // namespace

LibraryLoader& PosixLibraryLoader() {
  static PosixLoader loader;
  return loader;
}

LibraryLoader& DefaultLibraryLoader() { return g_defaultLoader != nullptr ? *g_defaultLoader : PosixLibraryLoader(); }

void SetDefaultLibraryLoader(LibraryLoader* loader) { g_defaultLoader = loader; }

ScopedLibraryLoader::ScopedLibraryLoader(LibraryLoader& loader) : previous_(g_defaultLoader) {
  g_defaultLoader = &loader;
}

ScopedLibraryLoader::~ScopedLibraryLoader() { g_defaultLoader = previous_; }

DynamicLibrary::DynamicLibrary(LibraryLoader* loader)
    : loader_(loader != nullptr ? loader : &DefaultLibraryLoader()) {}

DynamicLibrary::DynamicLibrary(const std::string& path, LibraryLoader* loader) : DynamicLibrary(loader) {
  Load(path);
}

DynamicLibrary::~DynamicLibrary() { Unload(); }

DynamicLibrary::DynamicLibrary(DynamicLibrary&& other) noexcept
    : loader_(other.loader_),
      handle_(std::exchange(other.handle_, nullptr)),
      path_(std::move(other.path_)),
      error_(std::move(other.error_)) {}

DynamicLibrary& DynamicLibrary::operator=(DynamicLibrary&& other) noexcept {
  if (this != &other) {
    Unload();
    loader_ = other.loader_;
    handle_ = std::exchange(other.handle_, nullptr);
    path_ = std::move(other.path_);
    error_ = std::move(other.error_);
  }
  return *this;
}

bool DynamicLibrary::Load(const std::string& path) {
  Unload();
  path_ = path;
  error_.clear();
  handle_ = loader_->Open(path, &error_);
  if (handle_ == nullptr && error_.empty()) error_ = "cannot load " + path;
  return handle_ != nullptr;
}

void DynamicLibrary::Unload() {
  if (handle_ != nullptr) loader_->Close(std::exchange(handle_, nullptr));
}

void* DynamicLibrary::Symbol(const std::string& name) {
  if (handle_ == nullptr) {
    error_ = "library not loaded";
    return nullptr;
  }
  std::string error;
  void* address = loader_->Symbol(handle_, name, &error);
  if (address == nullptr) error_ = error.empty() ? "symbol " + name + " not found" : error;
  return address;
}

}  // namespace rtl
