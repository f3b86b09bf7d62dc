#include "components/QRServls.h"

#include "components/QRData.h"
#include "framework/QRFormLoader.h"
#include "framework/QRPalette.h"
#include "objects/QRSessn.h"

namespace {

[[maybe_unused]] const bool kRegistered = [] {
  QRRegisterComponentClass<TQuireServerList>();
  return true;
}();

}  // namespace

TQuireServerList::TQuireServerList(QWidget* owner) : QComboBox(owner), QRComponent(this) {
  // A drop-down list: the user picks one of the servers, never types a name.
  setEditable(false);
}

TQuireServerList::~TQuireServerList() = default;

void TQuireServerList::SetActive(bool Value) {
  if (Value == FActive) return;
  if (!Value) {
    FActive = false;
    return;
  }
  if (FMasterCtrl == nullptr) return;
  FMasterCtrl->SetActive(true);
  TQuireSession* session = FMasterCtrl->Session();
  if (!FMasterCtrl->Active() || session == nullptr) return;
  clear();
  for (std::string name = session->GetServerName(qrFirst); !name.empty(); name = session->GetServerName(qrNext))
    addItem(QString::fromStdString(name));
  setCurrentIndex(0);
  FActive = true;
}

void TQuireServerList::SetMaster(TQuireDataCtrl* Value) {
  if (Value == FMasterCtrl) return;
  if (FMasterCtrl != nullptr) RemoveFreeNotification(FMasterCtrl);
  FMasterCtrl = Value;
  // The data control may sit on another form; its end must still reach this list.
  if (FMasterCtrl != nullptr) FreeNotification(FMasterCtrl);
}

void TQuireServerList::Refresh() {
  SetActive(false);
  SetActive(true);
}

void TQuireServerList::Notification(QObject* component, TOperation operation) {
  if (operation != opRemove || FMasterCtrl == nullptr) return;
  if (static_cast<QObject*>(FMasterCtrl) != component) return;
  FMasterCtrl = nullptr;
  SetActive(false);
}

namespace QRServls {

void Register() { RegisterComponents(QStringLiteral("Quire"), {&TQuireServerList::staticMetaObject}); }

}  // namespace QRServls
