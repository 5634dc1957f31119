// Mills-ratio kernels: R(x) = N(-x)/n(x), -R'(x), -R'''(x), the relative
// function (sqrt(pi/2) - R(x))/x on [0, 1] and the continued-fraction
// approximants they share.
//
// Every kernel is a template over the working type T (float or double),
// instantiated for both in mills.cpp, and evaluates its formulas in a fixed
// order with each operation rounded to T on its own.  The translation units
// are compiled with -ffp-contract=off and without fast-math, so the results
// are the same on every x86-64 machine.
//
// The double instantiations are reachable from C through the qarvel_*
// entry points declared at the end of this header.
#ifndef QARVEL_KERNELS_MILLS_HPP
#define QARVEL_KERNELS_MILLS_HPP

// Symbols that must stay visible in the built shared library (entry points,
// template instantiations, coefficient tables), whatever the default
// visibility of the build.
#define QARVEL_EXPORT __attribute__((visibility("default")))

// Coefficient tables, defined in the generated header _mills_coef.hpp.
// Row-major, ascending powers of the row's local variable s in [0, 1].
extern QARVEL_EXPORT const double C_Rrel[96];   // 12 rows x 8: (sqrt(pi/2) - R(x))/x on [0, 1]
extern QARVEL_EXPORT const double C_R1[208];    // 26 rows x 8: -R'(x) for x >= 1
extern QARVEL_EXPORT const double C_R3[405];    // 45 rows x 9: -R'''(x) for x >= 0

namespace qarvel {

// R(x) for every real x, infinities and NaN included.
template <typename T> QARVEL_EXPORT T MillsRatio(T x);

// -R'(x) = 1 - x R(x) for every real x.
template <typename T> QARVEL_EXPORT T MillsRatioDeriv1(T x);

// -R'''(x) = (x^2 + 2) - x (x^2 + 3) R(x) for every real x.
template <typename T> QARVEL_EXPORT T MillsRatioDeriv3(T x);

// (sqrt(pi/2) - R(x))/x for 0 <= x <= 1 (not checked).
template <typename T> QARVEL_EXPORT T MillsRatioRel_below1(T x);

// Depth-n continued-fraction approximant of R (d = 0, argument x), of -R'
// (d = 1) or of -R''' (d = 3, argument u = x^2 + 3 for both).
template <typename T> QARVEL_EXPORT T MillsRatio_CF(T x_or_u, int n, int d);

}  // namespace qarvel

extern "C" {
QARVEL_EXPORT double qarvel_MillsRatio(double x);
QARVEL_EXPORT double qarvel_MillsRatioDeriv1(double x);
QARVEL_EXPORT double qarvel_MillsRatioDeriv3(double x);
QARVEL_EXPORT double qarvel_MillsRatioRel_below1(double x);
QARVEL_EXPORT double qarvel_MillsRatio_CF(double xu, int n, int d);
}

#endif  // QARVEL_KERNELS_MILLS_HPP
