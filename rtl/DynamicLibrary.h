// DynamicLibrary: owns one loaded shared object (dlopen/dlsym/dlclose) and
// unloads it when destroyed; move-only. Loading and look-up go through a
// LibraryLoader, a small seam whose process default is the POSIX loader; a
// test swaps it (ScopedLibraryLoader) to make loading or a look-up fail
// without touching the file system. The loader must outlive every library it
// loaded. Failures are results, not exceptions: Load returns false, Symbol
// returns nullptr, and Error() keeps the loader's text (dlerror()).
// A DynamicLibrary is used from one thread at a time; the default-loader swap
// is meant for tests and is not synchronised with loads on other threads.
#pragma once

#include <string>

namespace rtl {

class LibraryLoader {
 public:
  virtual ~LibraryLoader() = default;
  // A handle, or nullptr with the reason in *error.
  virtual void* Open(const std::string& path, std::string* error) = 0;
  // The symbol's address, or nullptr with the reason in *error.
  virtual void* Symbol(void* handle, const std::string& name, std::string* error) = 0;
  virtual void Close(void* handle) = 0;
};

// The loader backed by dlopen(RTLD_NOW | RTLD_LOCAL), dlsym and dlclose.
LibraryLoader& PosixLibraryLoader();
// The loader new DynamicLibrary objects use; nullptr restores the POSIX one.
LibraryLoader& DefaultLibraryLoader();
void SetDefaultLibraryLoader(LibraryLoader* loader);

// Installs a default loader for its lifetime, then puts the previous one back.
class ScopedLibraryLoader {
 public:
  explicit ScopedLibraryLoader(LibraryLoader& loader);
  ~ScopedLibraryLoader();
  ScopedLibraryLoader(const ScopedLibraryLoader&) = delete;
  ScopedLibraryLoader& operator=(const ScopedLibraryLoader&) = delete;

 private:
  LibraryLoader* previous_;
};

class DynamicLibrary {
 public:
  // `loader` nullptr means the default loader at the time of the call.
  explicit DynamicLibrary(LibraryLoader* loader = nullptr);
  // Loads `path` at once; test IsLoaded().
  explicit DynamicLibrary(const std::string& path, LibraryLoader* loader = nullptr);
  ~DynamicLibrary();
  DynamicLibrary(const DynamicLibrary&) = delete;
  DynamicLibrary& operator=(const DynamicLibrary&) = delete;
  DynamicLibrary(DynamicLibrary&& other) noexcept;
  DynamicLibrary& operator=(DynamicLibrary&& other) noexcept;

  // Unloads any library held, then loads `path` (a bare file name goes through
  // the dynamic loader's search path). False on failure, see Error().
  bool Load(const std::string& path);
  void Unload();
  bool IsLoaded() const noexcept { return handle_ != nullptr; }
  const std::string& Path() const noexcept { return path_; }
  const std::string& Error() const noexcept { return error_; }

  // Address of an exported symbol, or nullptr (not loaded, or not exported).
  void* Symbol(const std::string& name);
  template <class Function>
  Function SymbolAs(const std::string& name) {
    return reinterpret_cast<Function>(Symbol(name));
  }

 private:
  LibraryLoader* loader_;
  void* handle_ = nullptr;
  std::string path_;
  std::string error_;
};

}  // namespace rtl
