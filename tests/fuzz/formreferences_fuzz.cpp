// Any bytes given as a form either fail the loader's reference pass with a message, or give a
// copy in which that pass finds no reference property left. A registered class with a
// reference property makes the pass take its removal path.
#include <QtCore/QBuffer>
#include <QtWidgets/QWidget>
#include <cstdlib>

#include "framework/QRComponent.h"
#include "framework/QRFormLoader.h"
#include "framework/QRFormReferences.h"

class FuzzComponent : public QWidget, public QRComponent {
  Q_OBJECT
  Q_PROPERTY(FuzzComponent* Peer READ Peer WRITE SetPeer)

 public:
  explicit FuzzComponent(QWidget* parent = nullptr) : QWidget(parent), QRComponent(this) {}
  FuzzComponent* Peer() const { return peer_; }
  void SetPeer(FuzzComponent* peer) { peer_ = peer; }

 private:
  FuzzComponent* peer_ = nullptr;
};

namespace {

bool Extract(QByteArray input, QByteArray& copy, std::vector<QRComponentReference>& references, QString& error) {
  QBuffer buffer(&input);
  buffer.open(QIODevice::ReadOnly);
  return QRExtractComponentReferences(buffer, copy, references, error);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool registered = [] {
    QRRegisterComponentClass<FuzzComponent>();
    return true;
  }();
  (void)registered;
  QByteArray copy;
  std::vector<QRComponentReference> references;
  QString error;
  if (!Extract(QByteArray(reinterpret_cast<const char*>(data), int(size)), copy, references, error)) {
    if (error.isEmpty()) std::abort();
    return 0;
  }
  QByteArray again;
  std::vector<QRComponentReference> left;
  if (Extract(copy, again, left, error) && !left.empty()) std::abort();
  return 0;
}

#include "formreferences_fuzz.moc"
