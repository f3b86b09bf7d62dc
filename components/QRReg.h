// QRReg: the package's registration of its components with the form designer.
//
// Register puts the four components on the palette page "QUIRE" (framework/QRPalette.h), in
// this order: the data control, the send-mail component, the navigator, the server list. The
// component units register themselves on "Quire" too (QRNav::Register ...); the registry
// treats both spellings as one page. No class of the object model is a component.
//
// Threads: the GUI thread only, like the registry.
#pragma once

namespace QRReg {
void Register();
}  // namespace QRReg
