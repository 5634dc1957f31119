// Inner loops of the ufuncs in qarvel.ufuncs.
//
// NumPy calls an inner loop with one pointer per operand (inputs, then the
// output), the number of elements and one byte stride per operand; strides
// may be zero (a broadcast operand), negative, or anything else a view can
// have, so element i of an operand is at its pointer plus i times its
// stride.  The scalar kernel arrives in the loop's `data` pointer, so one
// loop serves every kernel of its signature.  NumPy calls the loops without
// the interpreter lock: they touch no Python object.
//
// Domain.  A ufunc cannot raise half-way through an array, so an argument
// outside a kernel's domain gives NaN for that element, and the invalid flag.
//
// Floating-point flags.  NumPy reads the flags after the loops and warns or
// raises as np.errstate says.  The one flag a loop leaves is invalid, for a
// NaN from arguments none of which is NaN (an argument outside the domain
// included), as NumPy's own functions do.  The kernels raise flags on their
// way to correct results (an ordered comparison with a NaN raises invalid;
// x*x overflows for x beyond 1e154, where -R'(x) is still finite; underflow
// is everywhere in the tails), and none of those is reported.  Overflow is
// not reported either: R(x) is +inf below x = -37.67 by definition of the
// kernel, returned without arithmetic, so no flag could say so consistently.
//
// The test for a NaN from non-NaN arguments costs about a tenth of a kernel
// call when made on every result, so the hardware flag is the filter: a NaN
// made by arithmetic raises invalid, and the kernels return no NaN they did
// not make or receive.  A loop runs its kernel over all elements, then, only
// if invalid was raised, looks at each result and its arguments.  When the
// output is one of the inputs (NumPy passes an output that overlaps an input
// only when it is that input, element for element), the arguments are gone
// once the results are written, so such a loop runs in blocks through a
// local buffer and looks at a block before writing it out.
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

// Elements per block of an in-place loop: the buffer (8 KiB of doubles)
// stays in the first-level cache, and the flag test after each block is
// spread over enough kernel calls to vanish.
constexpr npy_intp kBlock = 1024;

// The flags of one call of a loop.  The four flags NumPy reports are read
// on entry; invalid, if set, is cleared so that the loop's test sees only
// the kernels'.  On exit, those of the four the kernels raised are cleared,
// and invalid is raised if it was set on entry or any result called for it.
// Inexact is left alone: NumPy never reads it.
class ResultFlags {
  public:
    static constexpr int kReported = FE_INVALID | FE_DIVBYZERO | FE_OVERFLOW | FE_UNDERFLOW;

    ResultFlags() : on_entry_(std::fetestexcept(kReported)) {
        if (on_entry_ & FE_INVALID) std::feclearexcept(FE_INVALID);
    }
    ~ResultFlags() {
        int raised_inside = std::fetestexcept(kReported) & ~on_entry_;
        if (raised_inside != 0) std::feclearexcept(raised_inside);
        if (invalid_ || (on_entry_ & FE_INVALID)) std::feraiseexcept(FE_INVALID);
    }
    ResultFlags(const ResultFlags&) = delete;
    ResultFlags& operator=(const ResultFlags&) = delete;

    // Whether the kernels raised invalid since the last call; clears it.
    bool KernelsRaisedInvalid() {
        if (!std::fetestexcept(FE_INVALID)) return false;
        std::feclearexcept(FE_INVALID);
        return true;
    }
    void Invalid() { invalid_ = true; }
    bool invalid() const { return invalid_; }

  private:
    int on_entry_;
    bool invalid_ = false;
};

template <typename T> inline T QuietNaN() { return std::numeric_limits<T>::quiet_NaN(); }

template <typename T> inline T Load(const char* operand, npy_intp step, npy_intp i) {
    return *reinterpret_cast<const T*>(operand + i * step);
}

// The loop of every ufunc: n results of compute(i), written to out with
// stride os.  compute(i) returns the result for element i and calls
// flags.Invalid() for an argument it refuses (outside the domain);
// nan_argument(i) says whether any argument of element i is NaN.  in_place
// says that out is one of the inputs.
template <typename T, typename Compute, typename NaNArgument>
void Run(npy_intp n, char* out, npy_intp os, bool in_place, ResultFlags& flags, Compute compute,
         NaNArgument nan_argument) {
    auto result_is_invalid = [&](T r, npy_intp i) { return std::isnan(r) && !nan_argument(i); };
    if (!in_place) {
        for (npy_intp i = 0; i < n; ++i) *reinterpret_cast<T*>(out + i * os) = compute(i);
        if (!flags.invalid() && flags.KernelsRaisedInvalid()) {
            for (npy_intp i = 0; i < n; ++i) {
                if (result_is_invalid(*reinterpret_cast<const T*>(out + i * os), i)) {
                    flags.Invalid();
                    break;
                }
            }
        }
        return;
    }
    T block[kBlock];
    for (npy_intp start = 0; start < n; start += kBlock) {
        const npy_intp m = (n - start < kBlock) ? n - start : kBlock;
        for (npy_intp j = 0; j < m; ++j) block[j] = compute(start + j);
        if (!flags.invalid() && flags.KernelsRaisedInvalid()) {
            for (npy_intp j = 0; j < m; ++j) {
                if (result_is_invalid(block[j], start + j)) {
                    flags.Invalid();
                    break;
                }
            }
        }
        for (npy_intp j = 0; j < m; ++j) *reinterpret_cast<T*>(out + (start + j) * os) = block[j];
    }
}

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
    const npy_intp is = steps[0];
    ResultFlags flags;
    Run<T>(
        dimensions[0], args[1], steps[1], args[1] == args[0], flags,
        [K, in, is, &flags](npy_intp i) {
            const T x = Load<T>(in, is, i);
            if (InDomain(x)) return K(x);
            flags.Invalid();
            return QuietNaN<T>();
        },
        [in, is](npy_intp i) { return std::isnan(Load<T>(in, is, i)); });
}

// out = K(x, a) for x > -1 (any a), NaN for x <= -1.
template <typename T>
void BinaryAboveMinusOne(char** args, const npy_intp* dimensions, const npy_intp* steps, void* data) {
    auto K = reinterpret_cast<T (*)(T, T)>(data);
    const char* in0 = args[0];
    const char* in1 = args[1];
    const npy_intp s0 = steps[0], s1 = steps[1];
    ResultFlags flags;
    Run<T>(
        dimensions[0], args[2], steps[2], args[2] == args[0] || args[2] == args[1], flags,
        [K, in0, in1, s0, s1, &flags](npy_intp i) {
            const T x = Load<T>(in0, s0, i);
            if (AboveMinusOne(x)) return K(x, Load<T>(in1, s1, i));
            flags.Invalid();
            return QuietNaN<T>();
        },
        [in0, in1, s0, s1](npy_intp i) { return std::isnan(Load<T>(in0, s0, i)) || std::isnan(Load<T>(in1, s1, i)); });
}

// out = K(x, dx, k) for the divided differences, whose integer parameter
// (the branch selector theta or the depth n_terms) is an int64 operand, so
// that Python ints and every signed integer array reach the loop without a
// casting error.  The kernels take an int: an element beyond the int range
// gives NaN and the invalid flag rather than a wrapped value.  One k for
// the whole call (a scalar, stride 0) is checked once.
template <typename T>
void DividedDifference(char** args, const npy_intp* dimensions, const npy_intp* steps, void* data) {
    auto K = reinterpret_cast<T (*)(T, T, int)>(data);
    const char* in0 = args[0];
    const char* in1 = args[1];
    const char* in2 = args[2];
    const npy_intp s0 = steps[0], s1 = steps[1], s2 = steps[2];
    auto in_int_range = [](std::int64_t k) { return k >= INT_MIN && k <= INT_MAX; };
    auto nan_argument = [in0, in1, s0, s1](npy_intp i) {
        return std::isnan(Load<T>(in0, s0, i)) || std::isnan(Load<T>(in1, s1, i));
    };
    const bool in_place = args[3] == args[0] || args[3] == args[1];
    ResultFlags flags;
    if (s2 == 0 && dimensions[0] > 0 && in_int_range(Load<std::int64_t>(in2, 0, 0))) {
        const int k = static_cast<int>(Load<std::int64_t>(in2, 0, 0));
        Run<T>(
            dimensions[0], args[3], steps[3], in_place, flags,
            [K, in0, in1, s0, s1, k](npy_intp i) { return K(Load<T>(in0, s0, i), Load<T>(in1, s1, i), k); },
            nan_argument);
        return;
    }
    Run<T>(
        dimensions[0], args[3], steps[3], in_place, flags,
        [K, in0, in1, in2, s0, s1, s2, in_int_range, &flags](npy_intp i) {
            const std::int64_t k = Load<std::int64_t>(in2, s2, i);
            if (in_int_range(k)) return K(Load<T>(in0, s0, i), Load<T>(in1, s1, i), static_cast<int>(k));
            flags.Invalid();
            return QuietNaN<T>();
        },
        nan_argument);
}

}  // namespace ufunc
}  // namespace qarvel

#endif  // QARVEL_UFUNC_LOOPS_HPP
