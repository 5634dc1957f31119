// Runs every kernel, float and double, over hostile inputs: signed zeros,
// subnormals, infinities, NaN, the largest values, every switch point with
// its neighbours, random sweeps of each regime and random bit patterns, and
// the integer parameters at their extremes.  Then the ufunc inner loops over
// the same inputs, with every kind of stride, each operand in a buffer of
// exactly the size its elements span, checking each result against the
// kernel and the floating-point flags each call leaves.  Built with
// AddressSanitizer and UndefinedBehaviorSanitizer (float-cast-overflow
// included), aborting on the first report; prints the number of kernel
// calls made when every call returned and every check held.
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <vector>

#include <cfenv>
#include <cstdlib>

#include "_kernels/mills.hpp"
#include "_kernels/symdiff.hpp"
#include "_ufunc_loops.hpp"

namespace {

volatile double sink_d;
volatile float sink_f;
unsigned long long calls = 0;

void consume(double v) { sink_d = v; ++calls; }
void consume(float v) { sink_f = v; ++calls; }

// xorshift64*: reproducible random numbers without the standard library's
// distributions (whose output varies between implementations).
uint64_t state = 0x9E3779B97F4A7C15ull;
uint64_t next_u64() {
    state ^= state >> 12; state ^= state << 25; state ^= state >> 27;
    return state * 0x2545F4914F6CDD1Dull;
}
double uniform(double lo, double hi) { return lo + (hi - lo) * ((next_u64() >> 11) * 0x1.0p-53); }

template <typename T> T from_bits(uint64_t b) {
    T v;
    if constexpr (sizeof(T) == 8) { std::memcpy(&v, &b, 8); }
    else { uint32_t w = static_cast<uint32_t>(b); std::memcpy(&v, &w, 4); }
    return v;
}

// Switch points and table-row boundaries of the kernels.
const double kSwitches[] = {
    -37.67712072049519, -37.556302617538, -37.3630721206641, -13.320874214172363, -13.25, -1.0 / 12,
    0.0, 1.0 / 12, 0.5, 1.0, 34.5 / 31, 9.5, 11.4, 11.5, 13.5, 14.5, 15.1, 97.0 / 6, 17.1, 18.375,
    21.2, 24.1, 25.4, 31.5, 41.0, 50.5, 59.3, 165.0, 210.0, 548.0, 6150.0, 12800.0, 17300.0,
    4294967296.0, 6.7e7, 2.376e51, 1.157920892373162e77, 1.3407807929942596e154,
};

// The inputs of one type: specials, switch points with neighbours, sweeps.
template <typename T> std::vector<T> inputs() {
    using L = std::numeric_limits<T>;
    std::vector<T> v = {T(0), -T(0), L::denorm_min(), -L::denorm_min(), L::min(), -L::min(),
                        L::max(), L::lowest(), L::infinity(), -L::infinity(), L::quiet_NaN(),
                        -L::quiet_NaN(), L::signaling_NaN(), L::epsilon(), T(1), T(-1)};
    for (double s : kSwitches) {
        for (T t : {static_cast<T>(s), static_cast<T>(-s)}) {
            v.push_back(t);
            v.push_back(std::nextafter(t, L::infinity()));
            v.push_back(std::nextafter(t, -L::infinity()));
        }
    }
    const double ranges[][2] = {{-40, 0}, {0, 1}, {1, 9.5}, {9.5, 100}, {100, 1e4}, {-1, 1}};
    for (auto& r : ranges)
        for (int k = 0; k < 2000; ++k) v.push_back(static_cast<T>(uniform(r[0], r[1])));
    for (int k = 0; k < 2000; ++k) v.push_back(static_cast<T>(std::exp(uniform(-700, 700))));
    for (int k = 0; k < 4000; ++k) v.push_back(from_bits<T>(next_u64()));
    return v;
}

const int kInts[] = {INT_MIN, INT_MIN + 1, -1000, -3, -2, -1, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10,
                     11, 12, 13, 39, 40, 100, INT_MAX - 1, INT_MAX};

template <typename T> void run_mills() {
    std::vector<T> xs = inputs<T>();
    for (T x : xs) {
        consume(qarvel::MillsRatio(x));
        consume(qarvel::MillsRatioDeriv1(x));
        consume(qarvel::MillsRatioDeriv3(x));
        consume(qarvel::MillsRatioRel_below1(x));
    }
    for (size_t k = 0; k < xs.size(); k += 7)
        for (int n : kInts)
            for (int d : {INT_MIN, -1, 0, 1, 2, 3, 4, INT_MAX}) consume(qarvel::MillsRatio_CF(xs[k], n, d));
}

template <typename T> void run_symdiff() {
    std::vector<T> xs = inputs<T>();
    const size_t m = xs.size();
    for (size_t k = 0; k < m; ++k) {
        T x = xs[k], dx = xs[(k * 7919 + 13) % m];
        for (int theta : {INT_MIN, -1, 0, 1, INT_MAX}) consume(qarvel::MillsRatioDiff(x, dx, theta));
        for (int n : {INT_MIN, -3, 0, 1, 2, 4, 8, 40}) consume(qarvel::MillsRatioDiff_CF(x, dx, n));
    }
    // the largest depths: the loop must end (its members overflow long before)
    for (T x : {T(5), T(30), T(6150), std::numeric_limits<T>::quiet_NaN()}) {
        consume(qarvel::MillsRatioDiff_CF(x, T(0.1), INT_MAX));
        consume(qarvel::MillsRatioDiff_CF(x, T(0.1), INT_MIN));
    }
}

// --- the ufunc loops ----------------------------------------------------------

void fail(const char* what, long long i) {
    std::fprintf(stderr, "ufunc loop check failed: %s (element %lld)\n", what, i);
    std::exit(1);
}

// n elements of type V at a stride of `step` elements (negative: the first
// element is the last in memory; zero: one element for all), in a buffer of
// exactly the size they span.
template <typename V> struct Operand {
    std::vector<V> buf;
    char* base = nullptr;
    npy_intp step_bytes;
    Operand(npy_intp n, npy_intp step)
        : buf(n == 0 ? 0 : step == 0 ? 1 : (n - 1) * std::llabs(step) + 1),
          step_bytes(step * static_cast<npy_intp>(sizeof(V))) {
        if (n > 0) base = reinterpret_cast<char*>(buf.data()) + (step < 0 ? (n - 1) * -step_bytes : 0);
    }
    V& at(npy_intp i) { return *reinterpret_cast<V*>(base + i * step_bytes); }
};

template <typename T> bool same(T a, T b) {
    return (std::isnan(a) && std::isnan(b)) || std::memcmp(&a, &b, sizeof(T)) == 0;
}

// Calls a loop with the flags cleared (or overflow set beforehand, which
// must survive), then checks the flags it leaves: invalid exactly when
// expected, none of overflow, underflow and divide-by-zero raised inside.
template <typename Call> void call_loop(Call call, bool expect_invalid, bool overflow_before) {
    std::feclearexcept(FE_ALL_EXCEPT);
    if (overflow_before) std::feraiseexcept(FE_OVERFLOW);
    call();
    const int f = std::fetestexcept(FE_INVALID | FE_OVERFLOW | FE_UNDERFLOW | FE_DIVBYZERO);
    if (bool(f & FE_INVALID) != expect_invalid) fail("invalid flag", -1);
    if (bool(f & FE_OVERFLOW) != overflow_before) fail("overflow flag", -1);
    if (f & (FE_UNDERFLOW | FE_DIVBYZERO)) fail("underflow or divide-by-zero flag", -1);
    std::feclearexcept(FE_ALL_EXCEPT);
}

const npy_intp kSteps[] = {1, 3, -1, -2, 0};

template <typename T, bool (*InDomain)(T)> void run_unary_loop(T (*K)(T), const std::vector<T>& xs) {
    int round = 0;
    for (npy_intp n : {npy_intp(0), npy_intp(1), npy_intp(7), npy_intp(2500)}) {
        for (npy_intp si : kSteps) {
            for (npy_intp so : {npy_intp(1), npy_intp(-1), npy_intp(2)}) {
                Operand<T> in(n, si), out(n, so);
                for (npy_intp i = 0; i < n; ++i) in.at(i) = xs[(i * 31 + round * 7) % xs.size()];
                bool invalid = false;
                for (npy_intp i = 0; i < n; ++i) {
                    T x = in.at(i), r = InDomain(x) ? K(x) : std::numeric_limits<T>::quiet_NaN();
                    invalid |= std::isnan(r) && !std::isnan(x);
                }
                char* args[2] = {in.base, out.base};
                npy_intp steps[2] = {in.step_bytes, out.step_bytes};
                call_loop([&] { qarvel::ufunc::Unary<T, InDomain>(args, &n, steps, reinterpret_cast<void*>(K)); },
                          invalid, ++round % 2 == 0);
                for (npy_intp i = 0; i < n; ++i) {
                    T x = in.at(i), want = InDomain(x) ? K(x) : std::numeric_limits<T>::quiet_NaN();
                    if (!same(out.at(i), want)) fail("unary result", i);
                    ++calls;
                }
            }
        }
        // in place, over more than one block of the buffered path
        Operand<T> io(n, 1);
        std::vector<T> before(n);
        bool invalid = false;
        for (npy_intp i = 0; i < n; ++i) {
            before[i] = io.at(i) = xs[(i * 17 + 5) % xs.size()];
            T r = InDomain(before[i]) ? K(before[i]) : std::numeric_limits<T>::quiet_NaN();
            invalid |= std::isnan(r) && !std::isnan(before[i]);
        }
        char* args[2] = {io.base, io.base};
        npy_intp steps[2] = {io.step_bytes, io.step_bytes};
        call_loop([&] { qarvel::ufunc::Unary<T, InDomain>(args, &n, steps, reinterpret_cast<void*>(K)); },
                  invalid, false);
        for (npy_intp i = 0; i < n; ++i) {
            T want = InDomain(before[i]) ? K(before[i]) : std::numeric_limits<T>::quiet_NaN();
            if (!same(io.at(i), want)) fail("unary result in place", i);
        }
    }
}

template <typename T> void run_dd_loop(T (*K)(T, T, int), const std::vector<T>& xs) {
    const std::int64_t ks[] = {INT64_MIN, INT_MIN - 1LL, INT_MIN, -1, 0, 1, 4, 9, INT_MAX, INT_MAX + 1LL, INT64_MAX};
    int round = 0;
    for (npy_intp n : {npy_intp(0), npy_intp(5), npy_intp(1500)}) {
        for (npy_intp s0 : kSteps) {
            for (npy_intp s2 : kSteps) {
                Operand<T> x(n, s0), dx(n, -1), out(n, 1);
                Operand<std::int64_t> k(n, s2);
                for (npy_intp i = 0; i < n; ++i) {
                    x.at(i) = xs[(i * 13 + round) % xs.size()];
                    dx.at(i) = xs[(i * 7919 + 3 * round) % xs.size()];
                    k.at(i) = ks[(i + round) % 11];
                }
                auto want = [&](npy_intp i) {
                    std::int64_t ki = k.at(i);
                    if (ki < INT_MIN || ki > INT_MAX) return std::numeric_limits<T>::quiet_NaN();
                    return K(x.at(i), dx.at(i), static_cast<int>(ki));
                };
                bool invalid = false;
                for (npy_intp i = 0; i < n; ++i) {
                    std::int64_t ki = k.at(i);
                    invalid |= ki < INT_MIN || ki > INT_MAX ||
                               (std::isnan(want(i)) && !std::isnan(x.at(i)) && !std::isnan(dx.at(i)));
                }
                char* args[4] = {x.base, dx.base, k.base, out.base};
                npy_intp steps[4] = {x.step_bytes, dx.step_bytes, k.step_bytes, out.step_bytes};
                call_loop([&] { qarvel::ufunc::DividedDifference<T>(args, &n, steps, reinterpret_cast<void*>(K)); },
                          invalid, ++round % 3 == 0);
                for (npy_intp i = 0; i < n; ++i) {
                    if (!same(out.at(i), want(i))) fail("divided-difference result", i);
                    ++calls;
                }
            }
        }
    }
}

// A stand-in two-argument kernel for the loop of powrel, whose kernel is
// compiled with its Cython module: ((1 + x)^a - 1)/(a x) by the textbook.
double PowRelTextbook(double x, double a) { return (std::pow(1 + x, a) - 1) / (a * x); }

void run_binary_loop(const std::vector<double>& xs) {
    int round = 0;
    for (npy_intp n : {npy_intp(0), npy_intp(3), npy_intp(2100)}) {
        for (npy_intp s0 : kSteps) {
            for (npy_intp s1 : kSteps) {
                Operand<double> x(n, s0), a(n, s1), out(n, -1);
                for (npy_intp i = 0; i < n; ++i) {
                    x.at(i) = xs[(i * 11 + round) % xs.size()];
                    a.at(i) = xs[(i * 101 + 7 * round) % xs.size()];
                }
                auto want = [&](npy_intp i) {
                    return x.at(i) > -1 || std::isnan(x.at(i)) ? PowRelTextbook(x.at(i), a.at(i))
                                                               : std::numeric_limits<double>::quiet_NaN();
                };
                bool invalid = false;
                for (npy_intp i = 0; i < n; ++i)
                    invalid |= std::isnan(want(i)) && !std::isnan(x.at(i)) && !std::isnan(a.at(i));
                char* args[3] = {x.base, a.base, out.base};
                npy_intp steps[3] = {x.step_bytes, a.step_bytes, out.step_bytes};
                call_loop([&] { qarvel::ufunc::BinaryAboveMinusOne<double>(args, &n, steps,
                                                                           reinterpret_cast<void*>(&PowRelTextbook)); },
                          invalid, ++round % 2 == 0);
                for (npy_intp i = 0; i < n; ++i) {
                    if (!same(out.at(i), want(i))) fail("binary result", i);
                    ++calls;
                }
            }
        }
    }
}

template <typename T> void run_loops() {
    using qarvel::ufunc::AnyReal;
    using qarvel::ufunc::UnitInterval;
    const std::vector<T> xs = inputs<T>();
    run_unary_loop<T, AnyReal<T>>(&qarvel::MillsRatio<T>, xs);
    run_unary_loop<T, AnyReal<T>>(&qarvel::MillsRatioDeriv1<T>, xs);
    run_unary_loop<T, AnyReal<T>>(&qarvel::MillsRatioDeriv3<T>, xs);
    run_unary_loop<T, UnitInterval<T>>(&qarvel::MillsRatioRel_below1<T>, xs);
    run_dd_loop<T>(&qarvel::MillsRatioDiff<T>, xs);
    run_dd_loop<T>(&qarvel::MillsRatioDiff_CF<T>, xs);
}

}  // namespace

int main() {
    run_mills<float>();
    run_mills<double>();
    run_symdiff<float>();
    run_symdiff<double>();
    run_loops<float>();
    run_loops<double>();
    run_binary_loop(inputs<double>());
    std::printf("calls: %llu\n", calls);
    return 0;
}
