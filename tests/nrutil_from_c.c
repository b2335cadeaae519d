/* The helpers used from C, through the header as it is. */
#include "NRUTIL.h"

int nrutil_from_c(void) {
  double **m = dmatrice(3, 2);
  unsigned char *v = ucvecteur(4);
  int ok = m != 0 && v != 0 && m[1][2] == 0.0 && v[3] == 0;
  if (ok) {
    m[1][2] = 1.5;
    v[3] = 7;
    ok = m[1][2] == 1.5 && m[0][2] == 0.0 && v[3] == 7;
  }
  frdmatrice(m, 2);
  frucvecteur(v);
  return ok;
}
