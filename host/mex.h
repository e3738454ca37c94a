/* mex.h: the host operations our extensions use, declared with the names, types
 * and linkage of the 64-bit MATLAB extension API. Extension sources include only
 * this header; when MATLAB or Octave build them, their own mex.h takes its place,
 * so nothing here may differ from what those hosts declare. Sizes are size_t, and
 * the operations whose 64-bit versions carry the _730 suffix link under that name,
 * as in MATLAB's own header. */
#ifndef PHASEKIT_HOST_MEX_H
#define PHASEKIT_HOST_MEX_H

#include <stddef.h>
#ifndef __cplusplus
#include <stdbool.h>
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef struct mxArray_tag mxArray; /* opaque host array */
typedef size_t mwSize;
typedef size_t mwIndex;

typedef enum { mxREAL = 0, mxCOMPLEX = 1 } mxComplexity;

/* The complex API: MATLAB R2018a's interleaved one (mex -R2018a: both parts of a
 * sample side by side, mxGetComplexDoubles, no mxGetPi) when the standalone host is
 * built with PHASEKIT_INTERLEAVED_COMPLEX, else the separate one (mex -R2017b). */
#if defined(PHASEKIT_INTERLEAVED_COMPLEX)
#define MX_HAS_INTERLEAVED_COMPLEX 1
#else
#define MX_HAS_INTERLEAVED_COMPLEX 0
#endif
typedef double mxDouble;
typedef struct { mxDouble real, imag; } mxComplexDouble;
typedef float mxSingle;
typedef struct { mxSingle real, imag; } mxComplexSingle;

typedef enum {
    mxUNKNOWN_CLASS = 0,
    mxCELL_CLASS,
    mxSTRUCT_CLASS,
    mxLOGICAL_CLASS,
    mxCHAR_CLASS,
    mxVOID_CLASS,
    mxDOUBLE_CLASS,
    mxSINGLE_CLASS,
    mxINT8_CLASS,
    mxUINT8_CLASS,
    mxINT16_CLASS,
    mxUINT16_CLASS,
    mxINT32_CLASS,
    mxUINT32_CLASS,
    mxINT64_CLASS,
    mxUINT64_CLASS,
    mxFUNCTION_CLASS
} mxClassID;

/* The 64-bit API keeps the old names as macros over the sized entry points. */
#define mxCreateDoubleMatrix mxCreateDoubleMatrix_730
#define mxGetString mxGetString_730
#define mxGetNumberOfDimensions mxGetNumberOfDimensions_730
#define mxGetDimensions mxGetDimensions_730
#define mxCreateNumericArray mxCreateNumericArray_730

/* Entry point every extension exports. */
void mexFunction(int nlhs, mxArray *plhs[], int nrhs, const mxArray *prhs[]);

/* Array access. */
size_t mxGetM(const mxArray *array);
size_t mxGetN(const mxArray *array);
size_t mxGetNumberOfElements(const mxArray *array);
/* 2 for a matrix; more for an array with a third (or later) side other than 1. For
 * such an array mxGetN is the product of every side but the first. */
size_t mxGetNumberOfDimensions_730(const mxArray *array);
/* The sides, mxGetNumberOfDimensions of them; trailing sides of 1 do not count. */
const size_t *mxGetDimensions_730(const mxArray *array);
double *mxGetPr(const mxArray *array);
/* The data of any numeric class: the real parts, or under the interleaved API a
 * complex array's pairs. */
void *mxGetData(const mxArray *array);
#if MX_HAS_INTERLEAVED_COMPLEX
/* Real double data (null for a complex array), and a complex array's pairs; the same
 * for single data. */
mxDouble *mxGetDoubles(const mxArray *array);
mxComplexDouble *mxGetComplexDoubles(const mxArray *array);
mxSingle *mxGetSingles(const mxArray *array);
mxComplexSingle *mxGetComplexSingles(const mxArray *array);
#else
double *mxGetPi(const mxArray *array);
/* The imaginary parts of any numeric class; null for a real array. */
void *mxGetImagData(const mxArray *array);
#endif
mxArray *mxCreateDoubleMatrix_730(size_t rows, size_t columns, mxComplexity flag);
int mxGetString_730(const mxArray *array, char *buffer, size_t length);
/* A new array of ndim sides, zero-filled. */
mxArray *mxCreateNumericArray_730(size_t ndim, const size_t *dims, mxClassID classid, mxComplexity flag);
/* New arrays whose samples the caller writes, every one of them: not filled. */
mxArray *mxCreateUninitNumericMatrix(size_t m, size_t n, mxClassID classid, mxComplexity flag);
mxArray *mxCreateUninitNumericArray(size_t ndim, const size_t *dims, mxClassID classid, mxComplexity flag);

/* Queries for argument validation. */
bool mxIsDouble(const mxArray *array);
bool mxIsSingle(const mxArray *array);
bool mxIsComplex(const mxArray *array);
bool mxIsSparse(const mxArray *array);
bool mxIsChar(const mxArray *array);
mxClassID mxGetClassID(const mxArray *array);

/* Host memory: released by the host when the call ends if not freed before. */
void *mxMalloc(size_t bytes);
void *mxCalloc(size_t count, size_t elementSize);
void *mxRealloc(void *block, size_t bytes);
void mxFree(void *block);

/* NaN handling; both are safe on worker threads. */
double mxGetNaN(void);
bool mxIsNaN(double value);

/* Messages. mexErrMsgTxt ends the call: control never comes back. The IdAndTxt forms
 * carry an identifier (component:mnemonic, as try/catch code and warning('off', ID)
 * see it), and take a printf format. */
int mexPrintf(const char *format, ...);
void mexWarnMsgTxt(const char *text);
void mexErrMsgTxt(const char *text);
void mexWarnMsgIdAndTxt(const char *identifier, const char *format, ...);
void mexErrMsgIdAndTxt(const char *identifier, const char *format, ...);

#ifdef __cplusplus
}
#endif

#endif /* PHASEKIT_HOST_MEX_H */
