// The floor of the benchmarks: a kernel applied in a bare C++ loop to the
// same data the Python functions get, compiled from the same kernel sources
// with the same flags.  Prints the best time over the repeats, in ns per
// element.
//
//     floor KERNEL REPEAT X.bin [Y.bin [INT]]
//
// X.bin (and Y.bin, for the two-argument kernels) hold raw native doubles.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "_kernels/mills.hpp"
#include "_kernels/symdiff.hpp"

namespace {

std::vector<double> read_doubles(const char* path) {
    std::vector<double> v;
    FILE* f = std::fopen(path, "rb");
    if (!f) { std::perror(path); std::exit(2); }
    double buf[4096];
    size_t n;
    while ((n = std::fread(buf, sizeof(double), 4096, f)) > 0) v.insert(v.end(), buf, buf + n);
    std::fclose(f);
    return v;
}

// The relative means live in a Cython module; their formulas, as there.
double logrel(double x) { return x == 0 ? 1.0 : std::log1p(x) / x; }
double powrel(double x, double a) {
    if (x == 0) return 1.0;
    if (a == 0) return std::log1p(x) / x;
    double L = std::log1p(x);
    double E = std::expm1(L * a);
    return E / (x * a);
}

template <typename Loop> double best_ns(int repeat, size_t n, Loop loop) {
    double best = 1e300;
    loop();  // warm up
    for (int r = 0; r < repeat; ++r) {
        auto t0 = std::chrono::steady_clock::now();
        loop();
        auto t1 = std::chrono::steady_clock::now();
        best = std::min(best, std::chrono::duration<double>(t1 - t0).count());
    }
    return best / static_cast<double>(n) * 1e9;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) { std::fprintf(stderr, "usage: floor KERNEL REPEAT X.bin [Y.bin [INT]]\n"); return 2; }
    const std::string k = argv[1];
    const int repeat = std::atoi(argv[2]);
    const std::vector<double> x = read_doubles(argv[3]);
    const std::vector<double> y = argc > 4 ? read_doubles(argv[4]) : std::vector<double>();
    const int p = argc > 5 ? std::atoi(argv[5]) : 0;
    const size_t n = x.size();
    std::vector<double> out(n);
    double* o = out.data();
    const double* a = x.data();
    const double* b = y.data();
    double ns;
    if (k == "millsratio") ns = best_ns(repeat, n, [&] { for (size_t i = 0; i < n; ++i) o[i] = qarvel_MillsRatio(a[i]); });
    else if (k == "millsratio_d1") ns = best_ns(repeat, n, [&] { for (size_t i = 0; i < n; ++i) o[i] = qarvel_MillsRatioDeriv1(a[i]); });
    else if (k == "millsratio_d3") ns = best_ns(repeat, n, [&] { for (size_t i = 0; i < n; ++i) o[i] = qarvel_MillsRatioDeriv3(a[i]); });
    else if (k == "millsratio_rel_below1") ns = best_ns(repeat, n, [&] { for (size_t i = 0; i < n; ++i) o[i] = qarvel_MillsRatioRel_below1(a[i]); });
    else if (k == "millsratio_dd") ns = best_ns(repeat, n, [&] { for (size_t i = 0; i < n; ++i) o[i] = qarvel_MillsRatioDiff(a[i], b[i], p); });
    else if (k == "millsratio_dd_cf") ns = best_ns(repeat, n, [&] { for (size_t i = 0; i < n; ++i) o[i] = qarvel_MillsRatioDiff_CF(a[i], b[i], p); });
    else if (k == "logrel") ns = best_ns(repeat, n, [&] { for (size_t i = 0; i < n; ++i) o[i] = logrel(a[i]); });
    else if (k == "powrel") ns = best_ns(repeat, n, [&] { for (size_t i = 0; i < n; ++i) o[i] = powrel(a[i], b[i]); });
    else { std::fprintf(stderr, "unknown kernel %s\n", k.c_str()); return 2; }
    volatile double sink = out[n / 2];
    (void)sink;
    std::printf("%.4f\n", ns);
    return 0;
}
