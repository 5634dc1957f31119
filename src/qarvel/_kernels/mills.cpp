// Mills-ratio kernels.  See mills.hpp for the quantities; each kernel below
// says which formula loses precision where, and what is done instead.
//
// Order of operations is part of the contract: every expression is written
// (and parenthesised) exactly in the order it is evaluated, each operation
// rounded to the working type T on its own.
#include "mills.hpp"

#include <cmath>
#include <cstddef>
#include <limits>

#include "../_mills_coef.hpp"

namespace qarvel {
namespace {

// Constants of the working type.  A decimal threshold is the value of T
// nearest to the decimal, so the float ones are spelled as float literals.
template <typename T> struct MillsConst;

template <> struct MillsConst<double> {
    // -sqrt(2 ln DBL_MAX): below it exp(x^2/2) overflows.
    static constexpr double neg_cutoff = -37.67712072049519;
    static constexpr double sqrt_2pi = 2.5066282746310007;
    static constexpr double sqrt_pi_2 = 1.2533141373155003;
    // sqrt(DBL_MAX) rounded to double, 2^512 - 2^459: beyond it the
    // continued fractions in u = x^2 + 3 would overflow.
    static constexpr double guard = 1.3407807929942596e154;
    // Depth thresholds that are not exact binary fractions.
    static constexpr double x11_4 = 11.4, x15_1 = 15.1, x24_1 = 24.1, x59_3 = 59.3;
    static constexpr double x17_1 = 17.1, x21_2 = 21.2, x25_4 = 25.4;
};

template <> struct MillsConst<float> {
    // -sqrt(2 ln FLT_MAX), to float.
    static constexpr float neg_cutoff = -13.320874214172363f;
    static constexpr float sqrt_2pi = 2.5066282749176025f;
    static constexpr float sqrt_pi_2 = 1.2533141374588013f;
    // sqrt(FLT_MAX) rounded to float, 2^64 - 2^40.
    static constexpr float guard = 1.8446742974197924e19f;
    static constexpr float x11_4 = 11.4f, x15_1 = 15.1f, x24_1 = 24.1f, x59_3 = 59.3f;
    static constexpr float x17_1 = 17.1f, x21_2 = 21.2f, x25_4 = 25.4f;
};

inline double Exp(double v) { return std::exp(v); }
inline float Exp(float v) { return expf(v); }

template <typename T> inline T Infinity() { return std::numeric_limits<T>::infinity(); }

// Row of a table: t truncated toward zero, held within [0, last].  The
// comparisons come before the conversion, so a value beyond the int range
// never reaches it.  For every argument inside a lookup's range this is
// plain truncation followed by the upper clamp.
template <typename T> inline int RowIndex(T t, int last) {
    if (!(t < static_cast<T>(last))) return last;
    if (!(t > T(-1))) return 0;
    return static_cast<int>(t);
}

// The coefficient tables in the working type.  For float, copies of the
// double tables with each coefficient rounded to float, made once when the
// library is loaded: the values the coefficients take in float arithmetic,
// without a conversion per coefficient in every call.
template <std::size_t N> struct FloatCopy {
    float v[N];
    explicit FloatCopy(const double (&c)[N]) {
        for (std::size_t k = 0; k < N; ++k) v[k] = static_cast<float>(c[k]);
    }
};
const FloatCopy kRrelFloat(C_Rrel);
const FloatCopy kR1Float(C_R1);
const FloatCopy kR3Float(C_R3);

template <typename T> struct Tables;
template <> struct Tables<double> {
    static const double* Rrel() { return C_Rrel; }
    static const double* R1() { return C_R1; }
    static const double* R3() { return C_R3; }
};
template <> struct Tables<float> {
    static const float* Rrel() { return kRrelFloat.v; }
    static const float* R1() { return kR1Float.v; }
    static const float* R3() { return kR3Float.v; }
};

// Horner's scheme over one row, highest coefficient first.
template <typename T> inline T HornerRow(const T* c, int degree, T s) {
    T p = c[degree];
    for (int k = degree - 1; k >= 0; --k) p = p * s + c[k];
    return p;
}

// C_Rrel: row i covers [i/12, (i+1)/12], s = 12x - i.  0 <= x <= 1.
template <typename T> inline T LookupRrel(T x) {
    T t = T(12) * x;
    int i = RowIndex(t, 11);
    T s = t - static_cast<T>(i);
    return HornerRow(Tables<T>::Rrel() + 8 * i, 7, s);
}

// C_R1: rows in t = 32(x - 1)/(x + 2.5), which maps [1, inf) onto [0, 32).
// s is formed from x directly rather than as t - i.  x > 1.
template <typename T> inline T LookupR1(T x) {
    T d = x + T(2.5);
    int i = RowIndex(((x - T(1)) * T(32)) / d, 25);
    T s = (static_cast<T>(32 - i) * x - (T(2.5) * static_cast<T>(i) + T(32))) / d;
    return HornerRow(Tables<T>::R1() + 8 * i, 7, s);
}

// C_R3: rows in t = 50x/(x + 3.5), which maps [0, inf) onto [0, 50).
// 0 <= x < 17.1 reaches rows 0 to 41.
template <typename T> inline T LookupR3(T x) {
    T d = x + T(3.5);
    int i = RowIndex((x / d) * T(50), 44);
    int o = 9 * i;
    T s = (static_cast<T>(50 - i) * x - static_cast<T>(3.5 * static_cast<double>(i))) / d;
    return HornerRow(Tables<T>::R3() + o, 8, s);
}

// The numerator and denominator polynomials delta and gamma of
// MillsRatio_CF below, for depths 2, 4, ..., 12, highest power of u first,
// padded with leading zeros to one length.  Horner's scheme over a padded
// row performs the written operations of its depth after a few exact ones
// (0 u + 0 = 0, 0 u + 1 = 1, 1 u = u), so for finite u it gives the same
// doubles; depth 2 is delta = 1, gamma = 0, for which the general quotients
// reduce to the special-cased ones (D = u).  The entries are integers,
// exact in float, stored in the working type.
constexpr int kCFLength = 6;
template <typename T> constexpr T kCFDelta[6][kCFLength] = {
    {0, 0, 0, 0, 0, 1},                    // depth 2
    {0, 0, 0, 0, 1, 4},                    // depth 4: 4 + u
    {0, 0, 0, 1, 12, 12},                  // depth 6
    {0, 0, 1, 24, 114, -24},               // depth 8
    {0, 1, 40, 426, 936, -1248},           // depth 10
    {1, 60, 1116, 6816, 4932, -22320},     // depth 12
};
template <typename T> constexpr T kCFGamma[6][kCFLength] = {
    {0, 0, 0, 0, 0, 0},                    // depth 2
    {0, 0, 0, 0, 0, 6},                    // depth 4
    {0, 0, 0, 0, 6, 48},                   // depth 6
    {0, 0, 0, 6, 120, 324},                // depth 8
    {0, 0, 6, 216, 1812, 1728},            // depth 10
    {0, 6, 336, 5472, 24768, -1080},       // depth 12
};

// MillsRatio_CF for the kernels' own calls: an even depth n from 2 to 12
// and a finite argument.  The depth picks a row of the padded tables instead
// of a branch, so that arguments of mixed depths cost no mispredictions;
// the results equal MillsRatio_CF(x_or_u, n, d) bit for bit.
template <typename T> inline T ContinuedFraction(T x_or_u, int n, int d) {
    T u = (d == 0) ? (x_or_u * x_or_u + T(3)) : x_or_u;
    const T* cd = kCFDelta<T>[n / 2 - 1];
    const T* cg = kCFGamma<T>[n / 2 - 1];
    T delta = cd[0];
    T gamma = cg[0];
    for (int k = 1; k < kCFLength; ++k) {
        delta = delta * u + cd[k];
        gamma = gamma * u + cg[k];
    }
    T D = u * delta - gamma;
    if (d == 1) return delta / D;
    if (d == 3) return gamma / D;
    return (D - delta) / (x_or_u * D);
}

}  // namespace

// Depth-n approximant R_n(x) = 1/(x + 1/(x + 2/(x + ... + n/x))) and the
// matching approximants of -R' = 1 - x R and -R''' = (x^2+2) - x(x^2+3) R.
// With u = x^2 + 3, x R_n = 1 - delta/D where D = u delta - gamma for two
// polynomials delta, gamma in u; then -R'_n = delta/D and -R'''_n = gamma/D
// are single quotients, free of the cancellation of the direct forms.
// Depth 2 is delta = 1, gamma = 0; every depth not listed uses depth 12.
template <typename T> T MillsRatio_CF(T x_or_u, int n, int d) {
    T u = (d == 0) ? (x_or_u * x_or_u + T(3)) : x_or_u;
    if (n == 2) {
        if (d == 0) return (u - T(1)) / (x_or_u * u);
        if (d == 1) return T(1) / x_or_u;
        return T(0);
    }
    T delta, gamma;
    switch (n) {
        case 4:
            delta = T(4) + u;
            gamma = T(6);
            break;
        case 6:
            delta = (u + T(12)) * u + T(12);
            gamma = T(6) * u + T(48);
            break;
        case 8:
            delta = ((u + T(24)) * u + T(114)) * u - T(24);
            gamma = (T(6) * u + T(120)) * u + T(324);
            break;
        case 10:
            delta = (((u + T(40)) * u + T(426)) * u + T(936)) * u - T(1248);
            gamma = ((T(6) * u + T(216)) * u + T(1812)) * u + T(1728);
            break;
        default:  // 12
            delta = ((((u + T(60)) * u + T(1116)) * u + T(6816)) * u + T(4932)) * u - T(22320);
            gamma = (((T(6) * u + T(336)) * u + T(5472)) * u + T(24768)) * u - T(1080);
            break;
    }
    T D = u * delta - gamma;
    if (d == 1) return delta / D;
    if (d == 3) return gamma / D;
    return (D - delta) / (x_or_u * D);
}

// Mills ratio R(x) = N(-x)/n(x).
//   x < 0:        R(x) = sqrt(2 pi) exp(x^2/2) - R(-x); both terms positive,
//                 so no cancellation; +inf once exp(x^2/2) overflows.
//   [0, 1]:       sqrt(pi/2) - x f_rel(x), f_rel from C_Rrel.
//   (1, 9.5):     -R' = 1 - x R from C_R1, then R = (1 - p)/x.
//   [9.5, 6.7e7): continued fraction, depth falling with x; each threshold
//                 is where the shallower depth's truncation error has
//                 dropped to 2.23e-16 relative.
//   [6.7e7, inf]: 1/x, exact to double precision there.
template <typename T> T MillsRatio(T x) {
    using C = MillsConst<T>;
    if (x < T(0)) {
        if (x < C::neg_cutoff) return Infinity<T>();
        T e = Exp((T(0.5) * x) * x);
        return e * C::sqrt_2pi - MillsRatio(-x);
    }
    if (x <= T(1)) {
        T rrel = LookupRrel(x);
        return C::sqrt_pi_2 - x * rrel;
    }
    if (x >= T(9.5)) {
        if (x >= T(6.7e7)) return T(1) / x;
        // depth 12, less 2 for each threshold x has reached
        int passed = int(x >= C::x11_4) + int(x >= C::x15_1) + int(x >= C::x24_1)
                   + int(x >= C::x59_3) + int(x >= T(548));
        return ContinuedFraction(x, 12 - 2 * passed, 0);
    }
    if (std::isnan(x)) return x;  // NaN fails every test above
    T p = LookupR1(x);
    return (T(1) - p) / x;
}

// -R'(x) = 1 - x R(x); the difference cancels completely as x grows.
//   x < 0:       -R'(x) = -R'(-x) + (-x) sqrt(2 pi) exp(x^2/2), both positive.
//   [0, 1]:      1 - x R with R from C_Rrel (x R is at most 0.66 here).
//   (1, 11.5):   C_R1, whose rows approximate -R' itself.
//   [11.5, inf): continued fraction delta/D in u = x^2 + 3; +0 once u
//                exceeds sqrt of the largest T, where D would overflow.
template <typename T> T MillsRatioDeriv1(T x) {
    using C = MillsConst<T>;
    if (x < T(0)) {
        if (x < C::neg_cutoff) return Infinity<T>();
        T e = Exp((T(0.5) * x) * x);
        return MillsRatioDeriv1(-x) + (C::sqrt_2pi * (-x)) * e;
    }
    if (x <= T(1)) {
        T rrel = LookupRrel(x);
        return T(1) - x * (C::sqrt_pi_2 - rrel * x);
    }
    if (x >= T(11.5)) {
        T u = x * x + T(3);
        if (u > C::guard) return T(0);
        int passed = int(x >= T(14.5)) + int(x >= C::x21_2) + int(x >= T(41))
                   + int(x >= T(165)) + int(x >= T(12800));
        return ContinuedFraction(u, 12 - 2 * passed, 1);
    }
    if (std::isnan(x)) return x;
    return LookupR1(x);
}

// -R'''(x) = (x^2 + 2) - x (x^2 + 3) R(x), which cancels as x grows.
//   x < 0:       -R'''(x) = -R'''(-x) + (x^2 + 3)(-x) sqrt(2 pi) exp(x^2/2).
//   [0, 17.1):   C_R3, degree-8 rows in t = 50x/(x + 3.5).
//   [17.1, inf): continued fraction gamma/D in u = x^2 + 3 (depth 2 would
//                give 0, so the shallowest is 4); +0 once u overflows.
template <typename T> T MillsRatioDeriv3(T x) {
    using C = MillsConst<T>;
    if (x < T(0)) {
        if (x < C::neg_cutoff) return Infinity<T>();
        T e = Exp((T(0.5) * x) * x);
        return MillsRatioDeriv3(-x) + ((x * x + T(3)) * (C::sqrt_2pi * (-x))) * e;
    }
    if (x >= C::x17_1) {
        T u = x * x + T(3);
        if (u > C::guard) return T(0);
        int passed = int(x >= C::x25_4) + int(x >= T(50.5)) + int(x >= T(210))
                   + int(x >= T(17300));
        return ContinuedFraction(u, 12 - 2 * passed, 3);
    }
    if (std::isnan(x)) return x;
    return LookupR3(x);
}

// f_rel(x) = (sqrt(pi/2) - R(x))/x on [0, 1], straight from C_Rrel, so the
// difference sqrt(pi/2) - R is never formed.  f_rel(0) = 1 exactly.
template <typename T> T MillsRatioRel_below1(T x) {
    if (std::isnan(x)) return x;
    return LookupRrel(x);
}

template float MillsRatio<float>(float);
template double MillsRatio<double>(double);
template float MillsRatioDeriv1<float>(float);
template double MillsRatioDeriv1<double>(double);
template float MillsRatioDeriv3<float>(float);
template double MillsRatioDeriv3<double>(double);
template float MillsRatioRel_below1<float>(float);
template double MillsRatioRel_below1<double>(double);
template float MillsRatio_CF<float>(float, int, int);
template double MillsRatio_CF<double>(double, int, int);

}  // namespace qarvel

extern "C" {
double qarvel_MillsRatio(double x) { return qarvel::MillsRatio<double>(x); }
double qarvel_MillsRatioDeriv1(double x) { return qarvel::MillsRatioDeriv1<double>(x); }
double qarvel_MillsRatioDeriv3(double x) { return qarvel::MillsRatioDeriv3<double>(x); }
double qarvel_MillsRatioRel_below1(double x) { return qarvel::MillsRatioRel_below1<double>(x); }
double qarvel_MillsRatio_CF(double xu, int n, int d) { return qarvel::MillsRatio_CF<double>(xu, n, d); }
}
