// QUIRE_API marks what leaves libquire.so. The library is compiled with hidden visibility,
// so a declaration without the mark stays inside the library (and the tests that link its
// objects directly); a class with it exports every member, its vtable and its type
// information, which exceptions need to be caught across the library boundary.
#pragma once

#define QUIRE_API __attribute__((visibility("default")))
