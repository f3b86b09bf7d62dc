// QRServls: the server list (TQuireServerList), a drop-down list of the servers a data
// control's session can reach.
//
// The list talks to no database itself. It borrows the session of the data control named by
// MasterCtrl and, each time it becomes active, fills its items with that session's server
// names, in the order the session gives them, and selects the first. Becoming active
// activates the data control first; without a data control, or when the control cannot be
// activated, the list stays inactive and nothing is reported (the control reports its own
// failures). Switching it off keeps the items; switching MasterCtrl keeps them too until the
// next activation (or Refresh).
//
// The user can only pick an item, never type one. Everything else is the QComboBox's own.
//
// Ownership: MasterCtrl is not owned. When the data control is destroyed the list drops the
// reference and becomes inactive; this holds across forms too.
// Threads: the GUI thread only.
#pragma once

#include <QtWidgets/QComboBox>

#include "framework/QRComponent.h"

class TQuireDataCtrl;

class TQuireServerList : public QComboBox, public QRComponent {
  Q_OBJECT
  Q_PROPERTY(bool Active READ Active WRITE SetActive)
  Q_PROPERTY(TQuireDataCtrl* MasterCtrl READ MasterCtrl WRITE SetMaster)

 public:
  explicit TQuireServerList(QWidget* owner = nullptr);
  ~TQuireServerList() override;
  TQuireServerList(const TQuireServerList&) = delete;
  TQuireServerList& operator=(const TQuireServerList&) = delete;

  bool Active() const { return FActive; }
  // True: activates MasterCtrl and refills the items from its session; false: only marks the
  // list inactive. Setting the current value does nothing.
  void SetActive(bool Value);
  TQuireDataCtrl* MasterCtrl() const { return FMasterCtrl; }
  // Only stores the reference: the items and Active stay as they are.
  void SetMaster(TQuireDataCtrl* Value);
  // Reads the server names again (off, then on).
  void Refresh();

 protected:
  void Notification(QObject* component, TOperation operation) override;

 private:
  bool FActive = false;
  TQuireDataCtrl* FMasterCtrl = nullptr;
};

namespace QRServls {
// Puts TQuireServerList on the palette page "Quire".
void Register();
}  // namespace QRServls
