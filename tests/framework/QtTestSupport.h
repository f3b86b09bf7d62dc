// Shared support for the QTest programs of the framework and the components.
//
// QUIRE_QTEST_MAIN(Class) makes the QApplication, gives the process a fresh temporary data
// directory (QUIRE_DATA) and the user kTestUser (QUIRE_USER), initialises the library against
// the real engine, runs the test class, and removes the directory. Message boxes go to a
// recorder (MessageRecorder), so a test never waits for a person.
#pragma once

#include <QtTest/QTest>
#include <QtWidgets/QApplication>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "binding/Quire01.h"
#include "rtl/MessageBox.h"

namespace quireqt {

inline constexpr char kTestUser[] = "Test Manager";

// Records every message shown through the runtime's hook while it lives.
class MessageRecorder {
 public:
  struct Message {
    std::string text;
    std::string caption;
    unsigned flags;
  };
  MessageRecorder()
      : scope_([this](const std::string& text, const std::string& caption, unsigned flags) {
          messages.push_back({text, caption, flags});
          return rtl::kIdOk;
        }) {}
  std::vector<Message> messages;

 private:
  rtl::ScopedMessageBoxHandler scope_;
};

class DataDirectory {
 public:
  DataDirectory() {
    char pattern[] = "/tmp/quire-widgets-XXXXXX";
    if (mkdtemp(pattern) == nullptr) std::abort();
    path_ = pattern;
    setenv("QUIRE_DATA", path_.c_str(), 1);
    setenv("QUIRE_USER", kTestUser, 1);
  }
  ~DataDirectory() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  DataDirectory(const DataDirectory&) = delete;
  DataDirectory& operator=(const DataDirectory&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// The data directory of the running test program.
inline std::string& DataDir() {
  static std::string dir;
  return dir;
}

template <class TestClass>
int RunQtTest(int argc, char** argv) {
  QApplication app(argc, argv);
  DataDirectory directory;
  DataDir() = directory.path();
  Initialize();
  if (!DLLLoaded || !HTInitOK) {
    std::fprintf(stderr, "the engine did not start: %s\n", GetNotesErrorText(HTGlobalErr).c_str());
    return 1;
  }
  TestClass test;
  return QTest::qExec(&test, argc, argv);
}

}  // namespace quireqt

#define QUIRE_QTEST_MAIN(TestClass) \
  int main(int argc, char** argv) { return quireqt::RunQtTest<TestClass>(argc, argv); }
