/* The merge done the plain way, with the C library's fscanf and fprintf, as
 * the yardstick the tool is measured against: the same passes over the same
 * files, with the same output.
 *
 *   fscanf_baseline <first input> <second input> <output>
 */
#include <math.h>
#include <stdio.h>
#include <string.h>

static char texte[4096];
static int val, segm;
static double dval, dval1, min_x, min_y, min_alt, max_x, max_y, max_alt;

static void extent(FILE *f, double *x, double *y, double *z) {
  int ok = fscanf(f, "%d", &val);
  while (ok == 1 && (val == 10 || val == 20 || val == 30)) {
    fscanf(f, "%lf", val == 10 ? x : val == 20 ? y : z);
    ok = fscanf(f, "%d", &val);
  }
}

static void code(FILE *in, FILE *out, const char *format) {
  fscanf(in, "%d", &val);
  fprintf(out, format, val);
}

static void string(FILE *in, FILE *out) {
  fscanf(in, "%s", texte);
  fprintf(out, "%s\r\n", texte);
}

static void coordinate(FILE *in, FILE *out) {
  fscanf(in, "%lf", &dval);
  fprintf(out, "%.0Lf\r\n", floorl((long double)dval + 0.5L));
}

int main(int argc, char **argv) {
  if (argc != 4) {
    fprintf(stderr, "usage: fscanf_baseline <first input> <second input> <output>\n");
    return 2;
  }
  FILE *f1 = fopen(argv[1], "rb"), *f2 = fopen(argv[2], "rb"), *f3 = fopen(argv[3], "wb");
  if (!f1 || !f2 || !f3) {
    perror("fscanf_baseline");
    return 1;
  }
  printf("\n\tTreatment\n\n\tReading the first file \n\n");
  segm = 0;
  while (fscanf(f1, "%s", texte) == 1) {
    if (!strcmp(texte, "$EXTMIN")) extent(f1, &min_x, &min_y, &min_alt);
    if (!strcmp(texte, "$EXTMAX")) extent(f1, &max_x, &max_y, &max_alt);
    if (!strcmp(texte, "POLYLINE")) printf("\tCN record %d            \r        ", ++segm);
    if (!strcmp(texte, "VERTEX")) {
      for (int i = 0; i < 4; ++i) fscanf(f1, "%s", texte);
      for (int i = 0; i < 3; ++i) fscanf(f1, "%d", &val), fscanf(f1, "%lf", &dval1);
      fscanf(f1, "%d", &val);
    }
  }
  printf("\n\n\tFirst File Data\n\n\t\tmin x = %lf min y = %lf \n\t\tmax x = %lf max y = %lf "
         "\n\t\tmin z = %lf max z = %lf ", min_x, min_y, max_x, max_y, min_alt, max_alt);
  fclose(f1);

  fprintf(f3, "  0\r\nSECTION\r\n  2\r\nHEADER\r\n  9\r\n$EXTMIN\r\n 10\r\n%d\r\n 20\r\n%d\r\n"
              " 30\r\n0\r\n  9\r\n$EXTMAX\r\n 10\r\n%d\r\n 20\r\n%d\r\n 30\r\n%d\r\n  0\r\n"
              "ENDSEC\r\n  0\r\nSECTION\r\n  2\r\nENTITIES\r\n  0\r\n",
          (int)min_x, (int)min_y, (int)max_x, (int)max_y, (int)max_alt);

  f1 = fopen(argv[1], "rb");
  segm = 0;
  printf("\n\n\tNew Lecture\n\n");
  while (fscanf(f1, "%s", texte) == 1) {
    if (!strcmp(texte, "POLYLINE")) {
      printf("\t\trecord %d            \r     ", ++segm);
      fprintf(f3, "POLYLINE\r\n");
      code(f1, f3, "  %d\r\n"), string(f1, f3), code(f1, f3, "  %d\r\n"), string(f1, f3);
      code(f1, f3, "% d\r\n"), code(f1, f3, "     %d\r\n"), code(f1, f3, " %d\r\n");
      code(f1, f3, "     %d\r\n"), code(f1, f3, " %d\r\n"), code(f1, f3, "%d\r\n");
      code(f1, f3, "  %d\r\n");
    }
    if (!strcmp(texte, "VERTEX")) {
      fprintf(f3, "VERTEX\r\n");
      code(f1, f3, "  %d\r\n"), string(f1, f3), code(f1, f3, " %d\r\n");
      code(f1, f3, "    %d\r\n"), code(f1, f3, " %d\r\n"), coordinate(f1, f3);
      code(f1, f3, " %d\r\n"), coordinate(f1, f3), code(f1, f3, " %d\r\n"), coordinate(f1, f3);
      code(f1, f3, "  %d\r\n");
    }
    if (!strcmp(texte, "SEQEND")) fprintf(f3, "SEQEND\r\n0\r\n");
  }
  fclose(f1);

  segm = 0;
  printf("\n\n\tReading the second file \n\n");
  while (fscanf(f2, "%s", texte) == 1) {
    if (!strcmp(texte, "POLYLINE")) {
      fscanf(f2, "%d", &val);
      fscanf(f2, "%s", texte);
      if (!strcmp(texte, "HA_6292")) {
        fprintf(f3, "POLYLINE\r\n  %d\r\n", val);
        printf("\t\tHA record %d            \r     ", ++segm);
        fprintf(f3, "%s\r\n", texte);
        code(f2, f3, "  %d\r\n"), string(f2, f3), code(f2, f3, "% d\r\n");
        code(f2, f3, "     %d\r\n"), code(f2, f3, " %d\r\n"), code(f2, f3, "     %d\r\n");
        fprintf(f3, "  30\r\n0\r\n");
        code(f2, f3, " %d\r\n");
      }
    }
    if (!strcmp(texte, "VERTEX")) {
      fscanf(f2, "%d", &val);
      fscanf(f2, "%s", texte);
      if (!strcmp(texte, "HA_6292")) {
        fprintf(f3, "VERTEX\r\n  %d\r\n%s\r\n", val, texte);
        code(f2, f3, " %d\r\n"), code(f2, f3, "    %d\r\n"), code(f2, f3, " %d\r\n");
        coordinate(f2, f3), code(f2, f3, " %d\r\n"), coordinate(f2, f3);
        val = 0;
        fprintf(f3, "  30\r\n0\r\n");
        code(f2, f3, "  %d\r\n");
      }
    }
    if (!strcmp(texte, "SEQEND")) fprintf(f3, "SEQEND\r\n0\r\n");
  }
  fclose(f2);
  fprintf(f3, "ENDSEC\r\n0\r\nEOF\r\n");
  fclose(f3);
  printf("\n\n\tResulting data\n\n\t\tmin x = %lf min y = %lf \n\t\tmax x = %lf max y = %lf "
         "\n\t\tmin z = %lf max z = %lf ", min_x, min_y, max_x, max_y, 0.0, max_alt);
  return 0;
}
