// Divided-difference kernels.  See symdiff.hpp for the quantities; each
// kernel below says where the plain difference loses precision and what is
// done instead.
//
// Order of operations is part of the contract: every expression is written
// (and parenthesised) exactly in the order it is evaluated, each operation
// rounded to the working type T on its own.
#include "symdiff.hpp"

#include <cmath>

namespace qarvel {
namespace {

// Constants of the working type.  A decimal constant is the value of T
// nearest to the decimal, so the float ones are spelled as float literals.
template <typename T> struct DiffConst;

template <> struct DiffConst<double> {
    // dx counts as small while dx < (1.25 + x) * 0.0392: there the five-term
    // series (a < 21.2) or the continued fraction (a >= 21.2) is used.
    static constexpr double small_dx_slope = 0.0392;
    // Lower end of the continued-fraction regime in a = x - dx, where depth
    // 8 reaches double precision (the depth thresholds of -R').
    static constexpr double cf_start = 21.2;
    // From here on -R'''(x) comes from the depth-12 continued fraction.
    static constexpr double d3_cf_start = 17.1;
};

template <> struct DiffConst<float> {
    static constexpr float small_dx_slope = 0.0392f;
    static constexpr float cf_start = 21.2f;
    static constexpr float d3_cf_start = 17.1f;
};

}  // namespace

// Divided difference of the depth-n continued-fraction approximant
//   R_n(x) = 1/(x + 1/(x + 2/(x + ... + n/x))) = p_{n+1}(x)/q_{n+1}(x),
// p_{k+1} = x p_k + k p_{k-1}, q_{k+1} = x q_k + k q_{k-1}, p_0 = 0, p_1 = 1,
// q_0 = 1, q_1 = x.  With a = x - dx and b = x + dx,
//   (R_n(a) - R_n(b))/(b - a) = V_{n+1}/(Pa_{n+1} Pb_{n+1}),
// where Pa_k = q_k(a), Pb_k = q_k(b) and
//   V_k = (p_k(a) q_k(b) - p_k(b) q_k(a))/(b - a),
//   T_k = (a p_k(a) q_{k-1}(b) + b p_{k-1}(a) q_k(b)
//          - b p_k(b) q_{k-1}(a) - a p_{k-1}(b) q_k(a))/(b - a)
// are polynomials in a and b, symmetric in the two, that obey
//   V_{k+1} = k^2 V_{k-1} + k T_k + ab V_k,
//   T_{k+1} = k(k-1) T_{k-1} + 2ab k V_{k-1} + s2 V_k,    s2 = a^2 + b^2.
// The recurrence never divides by b - a, so nothing cancels: for a, b > 0
// and ab > 1 every member is a sum of positive terms, apart from the two
// harmless subtractions of 1 in V_2 = ab - 1 and in the first step's
// T_1 (k - 1) + 2ab V_1 = 2ab - 1.  dx = 0 gives the limit -R_n'(x).
// The members grow like (ab)^k times factorials of k; past the point where
// they overflow the result is 0 or NaN.
template <typename T> T MillsRatioDiff_CF(T x, T dx, int n_terms) {
    T a = x - dx;
    T b = x + dx;
    T ab = a * b;
    // Depth 0: R_0 = 1/x, whose divided difference is 1/(ab).
    if (n_terms == 0) return T(1) / ab;

    // Members k = 1 (_p) and k = 2 (_c).  a*a and b*b are each rounded once
    // and serve both s2 and the denominators.
    T aa = a * a;
    T bb = b * b;
    T s2 = aa + bb;
    T V_p = T(1), V_c = ab - T(1);
    T T_p = T(-1), T_c = s2 + T(1);
    T Pa_p = a, Pa_c = aa + T(1);
    T Pb_p = b, Pb_c = bb + T(1);
    // Depth 1, and every negative depth.
    if (n_terms <= 1) return V_c / (Pb_c * Pa_c);

    T ab2 = ab + ab;
    // The step with counter k turns members k - 1 and k into member k + 1,
    // for k = 2, ..., n_terms.  The test comes after the step and stops the
    // loop at k == n_terms without incrementing k: k starts at 2 <= n_terms
    // and rises by one, so it meets n_terms exactly and never goes beyond
    // it, even for n_terms = INT_MAX (a test k <= n_terms would need k to
    // pass INT_MAX, which is signed overflow).  The loop ends after
    // n_terms - 1 steps, or earlier once the result is settled: when V_c,
    // Pa_c and Pb_c are all infinite or NaN, every later member is too (each
    // new V, Pa, Pb adds a product with the non-finite V_c, Pa_c or Pb_c, and
    // 0 times infinity is NaN), so the result would be non-finite over
    // non-finite, NaN, however many steps remain.  The denominators q_k(t)
    // have positive coefficients in powers of one parity and grow at least
    // like a double factorial in k whatever t, and V overflows with them
    // (within about 300 steps in double for every argument tried), so a
    // depth such as INT_MAX costs no more than that.  The result is the same
    // as after all the steps.
    for (int k = 2;; ++k) {
        T K = static_cast<T>(k);
        T K1 = static_cast<T>(k - 1);
        T V_n = (K * V_p + T_c) * K + V_c * ab;
        T T_n = (K1 * T_p + ab2 * V_p) * K + s2 * V_c;
        T Pa_n = a * Pa_c + Pa_p * K;
        T Pb_n = K * Pb_p + b * Pb_c;
        V_p = V_c;
        V_c = V_n;
        T_p = T_c;
        T_c = T_n;
        Pa_p = Pa_c;
        Pa_c = Pa_n;
        Pb_p = Pb_c;
        Pb_c = Pb_n;
        if (k == n_terms) break;
        if (!std::isfinite(V_c) && !std::isfinite(Pa_c) && !std::isfinite(Pb_c)) break;
    }
    return V_c / (Pb_c * Pa_c);
}

// Symmetric divided difference (R(x - dx) - R(x + dx))/(2 dx), which tends
// to -R'(x) as dx -> 0; the plain difference loses the digits that R(x - dx)
// and R(x + dx) share.  Regimes (theta >= 0, dx >= 0; a negative dx is
// taken as |dx|), with a = x - dx:
//   dx >= 0.0392 (x + 1.25):  direct: the difference is at most a moderate
//                             loss there (a few 1e-15 just past the edge).
//   small dx, a >= 21.2:      divided difference of the continued fraction,
//                             at the depth where R_n is R to double precision
//                             for every point at or above a.
//   small dx, a < 21.2:       Taylor series in dx^2 about x, cut after dx^8,
//                             seeded from one accurate -R'''(x).
// theta < 0 gives the sum (R(dx - x) + R(x + dx))/(2 dx), two positive terms
// with nothing to cancel.
template <typename T> T MillsRatioDiff(T x, T dx, int theta) {
    using C = DiffConst<T>;
    if (theta < 0) {
        // Sum branch: the first argument is reflected, dx - x instead of
        // x - dx, so for x < 0 both Mills ratios are taken at positive
        // arguments.
        T r1 = MillsRatio(dx - x);
        T r2 = MillsRatio(x + dx);
        return (r2 + r1) / (dx + dx);
    }
    // The divided difference is even in dx: (R(x + h) - R(x - h))/(-2h) is
    // (R(x - h) - R(x + h))/(2h).  A negative half-step is folded onto its
    // magnitude before any regime is chosen, so that the tests below see
    // x - dx as the lower point; left as it is, any dx < 0 would pass the
    // small-dx test and reach the series or the continued fraction however
    // large |dx| is, where neither is accurate.  For dx >= 0 and NaN nothing
    // changes.
    if (dx < T(0)) dx = -dx;
    T a = x - dx;
    // Direct regime; also every NaN, for which the comparison is false.
    if (!(dx < (T(1.25) + x) * C::small_dx_slope)) {
        T ra = MillsRatio(a);
        T rb = MillsRatio(x + dx);
        return (ra - rb) / (dx + dx);
    }
    // Continued-fraction regime: the depth falls as a grows, at the
    // thresholds where the approximants of -R' change depth.  The product of
    // denominators grows like (ab)^(n+1): in double it overflows only for
    // a beyond about 2.4e51 (depth 2), but in float already for a from about
    // 7132 at depth 4 and from about 2.64e6 at depth 2, where the float
    // result is then 0.
    if (a >= T(12800)) return MillsRatioDiff_CF(x, dx, 2);
    if (a >= T(165)) return MillsRatioDiff_CF(x, dx, 4);
    if (a >= T(41)) return MillsRatioDiff_CF(x, dx, 6);
    if (a >= C::cf_start) return MillsRatioDiff_CF(x, dx, 8);

    // Series regime.  From R' = x R - 1: R''' = (x^2 + 3) R' + 1 and, for odd
    // k >= 3, R^(k+2) = (x^2 + 2k + 1) R^(k) - k(k - 1) R^(k-2).  With
    // u = x^2 + 3 the negated odd derivatives r_dk = -R^(k)(x) follow from
    // r_d3 alone.  Then
    //   (R(x - dx) - R(x + dx))/(2 dx)
    //     = r_d1 + r_d3 dx^2/3! + r_d5 dx^4/5! + r_d7 dx^6/7! + r_d9 dx^8/9! + ...,
    // nested with the ratios 3!/1! = 6, 5!/3! = 20, 7!/5! = 42, 9!/7! = 72.
    // Its truncation error is largest at the regime's edge (about 1.4e-14).
    T u = x * x + T(3);
    // Small dx and a < 21.2 keep x below 22.12, so the depth-12 continued
    // fraction is exactly what MillsRatioDeriv3 returns from 17.1 on.
    T r_d3 = (x >= C::d3_cf_start) ? MillsRatio_CF(u, 12, 3) : MillsRatioDeriv3(x);
    T r_d1 = (T(1) + r_d3) / u;
    T r_d5 = (T(4) + u) * r_d3 - r_d1 * T(6);
    T r_d7 = (T(8) + u) * r_d5 - r_d3 * T(20);
    T r_d9 = (u + T(12)) * r_d7 - r_d5 * T(42);
    T dx2 = dx * dx;
    return ((((dx2 / T(72)) * r_d9 + r_d7) * (dx2 / T(42)) + r_d5) * (dx2 / T(20)) + r_d3) * (dx2 / T(6))
           + r_d1;
}

template float MillsRatioDiff_CF<float>(float, float, int);
template double MillsRatioDiff_CF<double>(double, double, int);
template float MillsRatioDiff<float>(float, float, int);
template double MillsRatioDiff<double>(double, double, int);

}  // namespace qarvel

extern "C" {
double qarvel_MillsRatioDiff(double x, double dx, int theta) {
    return qarvel::MillsRatioDiff<double>(x, dx, theta);
}
double qarvel_MillsRatioDiff_CF(double x, double dx, int n_terms) {
    return qarvel::MillsRatioDiff_CF<double>(x, dx, n_terms);
}
}
