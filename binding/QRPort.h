// QRPort: small string helpers shared by the object model. Positions count from 1.
#pragma once

#include <string>

#include "rtl/Export.h"

QUIRE_API std::string LeftStr(const std::string& s, int n);   // first n characters; "" for n <= 0
QUIRE_API std::string RightStr(const std::string& s, int n);  // last n characters; "" for n <= 0
QUIRE_API std::string Space(int n);                           // n blanks, at most 255
QUIRE_API std::string ReverseStr(const std::string& s);
QUIRE_API long double NewPower(long double base, long double exponent);
