/* Zero-filled matrices and vectors of fixed element types.
 *
 * A matrix is an array of NbLig row pointers, each to its own row of NbCol
 * elements: element (row r, column c) is Mat[r][c]. A vector is one block of
 * NbCol elements. Everything is allocated with calloc and released with free;
 * release a matrix with the releaser named after its allocator (prefix fr),
 * giving the same row count.
 *
 * - Every allocator returns null when a count is 0 or less, or when memory
 *   runs out. A matrix whose rows cannot all be allocated is released in
 *   full before null is returned: nothing leaks.
 * - Every releaser accepts a null array and does nothing with it.
 *
 * The declarations are C: a C or a C++ program includes this header as it is.
 */
#ifndef NRUTIL_H
#define NRUTIL_H

#ifdef __cplusplus
extern "C" {
#endif

float** fmatrice(int NbCol, int NbLig);
void frfmatrice(float** Mat, int NbLig);
unsigned char** ucmatrice(int NbCol, int NbLig);
void frucmatrice(unsigned char** Mat, int NbLig);
unsigned short** usmatrice(int NbCol, int NbLig);
void frusmatrice(unsigned short** Mat, int NbLig);
short** smatrice(int NbCol, int NbLig);
void frsmatrice(short** Mat, int NbLig);
int** imatrice(int NbCol, int NbLig);
void frimatrice(int** Mat, int NbLig);
double** dmatrice(int NbCol, int NbLig);
void frdmatrice(double** Mat, int NbLig);
long double** ldmatrice(int NbCol, int NbLig);
void frldmatrice(long double** Mat, int NbLig);

unsigned char* ucvecteur(int NbCol);
void frucvecteur(unsigned char* Mat);
unsigned short* usvecteur(int NbCol);
void frusvecteur(unsigned short* Mat);
short* svecteur(int NbCol);
void frsvecteur(short* Mat);
int* ivecteur(int NbCol);
void frivecteur(int* Mat);
double* dvecteur(int NbCol);
void frdvecteur(double* Mat);
float* fvecteur(int NbCol);
void frfvecteur(float* Mat);

#ifdef __cplusplus
}
#endif

#endif
