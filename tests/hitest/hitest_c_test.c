/* The contract header must stay plain C: this file is compiled as C and checks the
 * layouts a C caller sees. */
#include "hitest/hitest.h"
#include "hitest/HTQuireExtensions.h"

#include <stdio.h>

#define CHECK(cond)                                        \
  do {                                                     \
    if (!(cond)) {                                         \
      fprintf(stderr, "%s:%d: %s\n", __FILE__, __LINE__, #cond); \
      return 1;                                            \
    }                                                      \
  } while (0)

int main(void) {
  CHECK(sizeof(HTACLENTRY) == 276);
  CHECK(sizeof(HTVIEWREC) == 320);
  CHECK(sizeof(HTCOLUMNREC) == 188);
  CHECK(sizeof(HTLISTREC) == 272);
  CHECK(sizeof(HTREPLSTATS) == 80);
  CHECK(sizeof(HTINTERNATIONAL) == 148);
  CHECK(sizeof(HTNAVIGATE) == 4);
  CHECK(HTNAV_CURRENT == 6);
  CHECK(HTCOLSORT_CAT_DESCEND == 7);
  CHECK(HTSESSION_IS_ON_SERVER == 13);
  CHECK(HTDATABASE_CREATED == 23);
  CHECK(HTERRSEV_FATAL == 8 && HTERRSEV_PROGRAM == 10);
  CHECK(HTCD_FIELD == 12);
  CHECK(HTTRANSLATE_LMBCS_TO_NATIVE == 1);
  {
    HT_HTIndexNavigate_fn navigate = 0;
    HT_HTDatabaseReOpen_fn reopen = 0;
    CHECK(navigate == 0 && reopen == 0);
  }
  return 0;
}
