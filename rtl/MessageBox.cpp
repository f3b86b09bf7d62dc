#include "rtl/MessageBox.h"

#include <cstdio>
#include <mutex>
#include <utility>

namespace rtl {
namespace {

int ShowOnStderr(const std::string& text, const std::string& caption, unsigned) {
  std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
  std::fflush(stderr);
  return kIdOk;
}

std::mutex g_mutex;
MessageBoxHandler g_handler;  // empty: the stderr default

}  // namespace

MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler) {
  std::lock_guard lock(g_mutex);
  MessageBoxHandler previous = std::exchange(g_handler, std::move(handler));
  return previous ? previous : MessageBoxHandler(ShowOnStderr);
}

int ShowMessageBox(const std::string& text, const std::string& caption, unsigned flags) {
  MessageBoxHandler handler;
  {
    std::lock_guard lock(g_mutex);
    handler = g_handler;
  }
  return handler ? handler(text, caption, flags) : ShowOnStderr(text, caption, flags);
}

}  // namespace rtl
