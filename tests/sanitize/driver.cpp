// Runs every kernel, float and double, over hostile inputs: signed zeros,
// subnormals, infinities, NaN, the largest values, every switch point with
// its neighbours, random sweeps of each regime and random bit patterns, and
// the integer parameters at their extremes.  Built with AddressSanitizer and
// UndefinedBehaviorSanitizer (float-cast-overflow included), aborting on the
// first report; prints the number of calls made when every call returned.
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <vector>

#include "_kernels/mills.hpp"
#include "_kernels/symdiff.hpp"

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

}  // namespace

int main() {
    run_mills<float>();
    run_mills<double>();
    run_symdiff<float>();
    run_symdiff<double>();
    std::printf("calls: %llu\n", calls);
    return 0;
}
