// Inner loops of the ufuncs in qarvel.ufuncs.
//
// NumPy calls an inner loop with one pointer per operand (inputs, then the
// output), the number of elements and one byte stride per operand; strides
// may be zero (a broadcast operand), negative, or anything else a view can
// have, so elements are reached by stepping char pointers, never by index
// into a typed array.  The scalar kernel arrives in the loop's `data`
// pointer, so one loop serves every kernel of its signature.  NumPy calls
// the loops without the interpreter lock: they touch no Python object.
//
// Domain.  A ufunc cannot raise half-way through an array, so an argument
// outside a kernel's domain gives NaN for that element, and the invalid flag.
//
// Floating-point flags.  NumPy reads the flags after the loops and warns or
// raises as np.errstate says.  The flags a loop leaves describe its results,
// as for NumPy's own functions:
//   invalid   a NaN from arguments none of which is NaN (an argument outside
//             the domain included);
//   overflow  an infinity from finite arguments.
// The kernels raise flags on their way to correct results (an ordered
// comparison with a NaN raises invalid; x*x overflows for x beyond 1e154,
// where -R'(x) is still finite; underflow is everywhere in the tails), so a
// loop clears the flags its kernels raised when it is done, then raises its
// own.  Flags set before the loop (by NumPy's casts between buffered chunks,
// say) are kept.
#ifndef QARVEL_UFUNC_LOOPS_HPP
#define QARVEL_UFUNC_LOOPS_HPP

#include <cfenv>
#include <climits>
#include <cmath>
#include <cstdint>
#include <limits>

#include <numpy/npy_common.h>

namespace qarvel {
namespace ufunc {

// The flags of one call of a loop.  Of the four flags NumPy reports, those
// the kernels raised during the call are cleared when it ends, then the
// loop's own are raised; flags already set on entry stay set.  Inexact is
// left alone: NumPy never reads it, and nearly every kernel call raises it.
// (Testing the flags is cheap; clearing one is not, and happens only when a
// kernel raised it.)
class ResultFlags {
  public:
    static constexpr int kReported = FE_INVALID | FE_DIVBYZERO | FE_OVERFLOW | FE_UNDERFLOW;

    ResultFlags() : on_entry_(std::fetestexcept(kReported)) {}
    ~ResultFlags() {
        int raised_inside = std::fetestexcept(kReported) & ~on_entry_;
        if (raised_inside != 0) std::feclearexcept(raised_inside);
        int own = (invalid_ ? FE_INVALID : 0) | (overflow_ ? FE_OVERFLOW : 0);
        if (own != 0) std::feraiseexcept(own);
    }
    ResultFlags(const ResultFlags&) = delete;
    ResultFlags& operator=(const ResultFlags&) = delete;

    // One result r, with whether any argument was NaN and whether all were
    // finite.
    template <typename T> void Note(T r, bool nan_argument, bool finite_arguments) {
        if (std::isnan(r)) {
            invalid_ |= !nan_argument;
        } else if (std::isinf(r)) {
            overflow_ |= finite_arguments;
        }
    }
    // A NaN given for an argument that is not a real number (an integer
    // parameter beyond the int range), whatever the other arguments were.
    void Invalid() { invalid_ = true; }

  private:
    int on_entry_;
    bool invalid_ = false;
    bool overflow_ = false;
};

template <typename T> inline T QuietNaN() { return std::numeric_limits<T>::quiet_NaN(); }

// Domains of the one-argument kernels.  NaN is inside every domain: the
// kernel passes it through.
template <typename T> inline bool AnyReal(T) { return true; }
template <typename T> inline bool UnitInterval(T x) { return !(x < T(0) || x > T(1)); }
template <typename T> inline bool AboveMinusOne(T x) { return !(x <= T(-1)); }

// out = K(x) for x in the domain, NaN outside it.
template <typename T, bool (*InDomain)(T)>
void Unary(char** args, const npy_intp* dimensions, const npy_intp* steps, void* data) {
    auto K = reinterpret_cast<T (*)(T)>(data);
    const char* in = args[0];
    char* out = args[1];
    const npy_intp n = dimensions[0], is = steps[0], os = steps[1];
    ResultFlags flags;
    for (npy_intp i = 0; i < n; ++i, in += is, out += os) {
        const T x = *reinterpret_cast<const T*>(in);
        const T r = InDomain(x) ? K(x) : QuietNaN<T>();
        flags.Note(r, std::isnan(x), std::isfinite(x));
        *reinterpret_cast<T*>(out) = r;
    }
}

// out = K(x, a) for x > -1 (any a), NaN for x <= -1.
template <typename T>
void BinaryAboveMinusOne(char** args, const npy_intp* dimensions, const npy_intp* steps, void* data) {
    auto K = reinterpret_cast<T (*)(T, T)>(data);
    const char* in0 = args[0];
    const char* in1 = args[1];
    char* out = args[2];
    const npy_intp n = dimensions[0];
    ResultFlags flags;
    for (npy_intp i = 0; i < n; ++i, in0 += steps[0], in1 += steps[1], out += steps[2]) {
        const T x = *reinterpret_cast<const T*>(in0);
        const T a = *reinterpret_cast<const T*>(in1);
        const T r = AboveMinusOne(x) ? K(x, a) : QuietNaN<T>();
        flags.Note(r, std::isnan(x) || std::isnan(a), std::isfinite(x) && std::isfinite(a));
        *reinterpret_cast<T*>(out) = r;
    }
}

// out = K(x, dx, k) for the divided differences, whose integer parameter
// (the branch selector theta or the depth n_terms) is an int64 operand, so
// that Python ints and every signed integer array reach the loop without a
// casting error.  The kernels take an int: an element beyond the int range
// gives NaN and the invalid flag rather than a wrapped value.
template <typename T>
void DividedDifference(char** args, const npy_intp* dimensions, const npy_intp* steps, void* data) {
    auto K = reinterpret_cast<T (*)(T, T, int)>(data);
    const char* in0 = args[0];
    const char* in1 = args[1];
    const char* in2 = args[2];
    char* out = args[3];
    const npy_intp n = dimensions[0];
    ResultFlags flags;
    for (npy_intp i = 0; i < n; ++i, in0 += steps[0], in1 += steps[1], in2 += steps[2], out += steps[3]) {
        const T x = *reinterpret_cast<const T*>(in0);
        const T dx = *reinterpret_cast<const T*>(in1);
        const std::int64_t k = *reinterpret_cast<const std::int64_t*>(in2);
        T r;
        if (k < INT_MIN || k > INT_MAX) {
            r = QuietNaN<T>();
            flags.Invalid();
        } else {
            r = K(x, dx, static_cast<int>(k));
            flags.Note(r, std::isnan(x) || std::isnan(dx), std::isfinite(x) && std::isfinite(dx));
        }
        *reinterpret_cast<T*>(out) = r;
    }
}

}  // namespace ufunc
}  // namespace qarvel

#endif  // QARVEL_UFUNC_LOOPS_HPP
