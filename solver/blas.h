// The few BLAS and LAPACK routines the solver calls, through the Fortran interface:
// every argument by reference. The integer type is chosen at build time:
// 32-bit by default (OpenBLAS, reference BLAS and LAPACK), 64-bit with
// KELPIE_BLAS_INT64 (MATLAB's libmwblas and libmwlapack on 64-bit platforms).
#ifndef KELPIE_BLAS_H
#define KELPIE_BLAS_H

#include <cstdint>

namespace kelpie {
#ifdef KELPIE_BLAS_INT64
using blas_int = std::int64_t;
#else
using blas_int = std::int32_t;
#endif
}  // namespace kelpie

// Fortran symbols carry a trailing underscore except on Windows.
#if defined(_WIN32)
#define KELPIE_BLAS(name) name
#else
#define KELPIE_BLAS(name) name##_
#endif

extern "C" {
void KELPIE_BLAS(dcopy)(const kelpie::blas_int* n, const double* x, const kelpie::blas_int* incx, double* y,
                        const kelpie::blas_int* incy);
void KELPIE_BLAS(daxpy)(const kelpie::blas_int* n, const double* alpha, const double* x,
                        const kelpie::blas_int* incx, double* y, const kelpie::blas_int* incy);
double KELPIE_BLAS(ddot)(const kelpie::blas_int* n, const double* x, const kelpie::blas_int* incx, const double* y,
                         const kelpie::blas_int* incy);
void KELPIE_BLAS(dgemv)(const char* trans, const kelpie::blas_int* m, const kelpie::blas_int* n, const double* alpha,
                        const double* a, const kelpie::blas_int* lda, const double* x, const kelpie::blas_int* incx,
                        const double* beta, double* y, const kelpie::blas_int* incy);
// LAPACK
void KELPIE_BLAS(dpotrf)(const char* uplo, const kelpie::blas_int* n, double* a, const kelpie::blas_int* lda,
                         kelpie::blas_int* info);
}

#endif
