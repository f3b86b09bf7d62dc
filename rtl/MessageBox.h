// The message-box hook: the one way runtime and object-model code shows a
// message to a person. The default handler writes "caption: text" to stderr
// and answers kIdOk, so console programs and servers never block; a GUI
// installs a modal dialog, tests install a recorder. Handlers are called on
// the caller's thread; installing and calling are safe from any thread, but
// a handler runs without any lock held and may itself show messages.
#pragma once

#include <functional>
#include <utility>
#include <string>

#include "rtl/Export.h"

namespace rtl {

// Button set flags (only OK exists so far) and the answer for the OK button.
inline constexpr unsigned kMbOk = 0;
inline constexpr int kIdOk = 1;

using MessageBoxHandler = std::function<int(const std::string& text, const std::string& caption, unsigned flags)>;

// Installs `handler` (an empty one restores the default) and returns the one
// it replaces, so a caller can put it back.
QUIRE_API MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler);
// Shows the message through the current handler; its answer is the result.
QUIRE_API int ShowMessageBox(const std::string& text, const std::string& caption, unsigned flags = kMbOk);

// Installs a handler for its lifetime, then puts the previous one back.
class ScopedMessageBoxHandler {
 public:
  explicit ScopedMessageBoxHandler(MessageBoxHandler handler) : previous_(SetMessageBoxHandler(std::move(handler))) {}
  ~ScopedMessageBoxHandler() { SetMessageBoxHandler(std::move(previous_)); }
  ScopedMessageBoxHandler(const ScopedMessageBoxHandler&) = delete;
  ScopedMessageBoxHandler& operator=(const ScopedMessageBoxHandler&) = delete;

 private:
  MessageBoxHandler previous_;
};

}  // namespace rtl
