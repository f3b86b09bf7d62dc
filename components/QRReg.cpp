#include "components/QRReg.h"

#include "components/QRData.h"
#include "components/QRMail.h"
#include "components/QRNav.h"
#include "components/QRServls.h"
#include "framework/QRPalette.h"

void QRReg::Register() {
  const QString page = QStringLiteral("QUIRE");
  RegisterComponents(page, {&TQuireDataCtrl::staticMetaObject});
  RegisterComponents(page, {&TQuireSendMail::staticMetaObject});
  RegisterComponents(page, {&TNDBNavigator::staticMetaObject});
  RegisterComponents(page, {&TQuireServerList::staticMetaObject});
}
