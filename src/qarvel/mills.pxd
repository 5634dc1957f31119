# C-level declarations of the Mills-ratio entry points, for cimport by other
# extension modules:
#
#     from qarvel.mills cimport _R, _R1
#
# The entry points are plain C functions of doubles; they never raise and may
# be called without the interpreter lock.  Compile the kernel source
# _kernels/mills.cpp (under qarvel.get_include()) into the importing module,
# with -ffp-contract=off, to get results identical to qarvel.mills.

cdef extern from "_kernels/mills.hpp" nogil:
    # R(x) = N(-x)/n(x), any x
    double _R "qarvel_MillsRatio"(double x) noexcept
    # -R'(x) = 1 - x R(x), any x
    double _R1 "qarvel_MillsRatioDeriv1"(double x) noexcept
    # -R'''(x), any x
    double _R3 "qarvel_MillsRatioDeriv3"(double x) noexcept
    # depth-n continued-fraction approximant: d = 0 gives R (xu = x),
    # d = 1 gives -R' and d = 3 gives -R''' (xu = x*x + 3); n even, 2 to 12
    double _R013_CF "qarvel_MillsRatio_CF"(double xu, int n, int d) noexcept
    # (sqrt(pi/2) - R(x))/x, for 0 <= x <= 1 only (not checked)
    double _Rrel_below1 "qarvel_MillsRatioRel_below1"(double x) noexcept
