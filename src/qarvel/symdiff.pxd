# C-level declarations of the divided-difference entry points, for cimport by
# other extension modules:
#
#     from qarvel.symdiff cimport _R_DD, _R_DD_CF
#
# The entry points are plain C functions of doubles and an int; they never
# raise and may be called without the interpreter lock.  Compile the kernel
# sources _kernels/mills.cpp and _kernels/symdiff.cpp (under
# qarvel.get_include()) into the importing module, with -ffp-contract=off, to
# get results identical to qarvel.symdiff.

cdef extern from "_kernels/symdiff.hpp" nogil:
    # theta >= 0: (R(x - dx) - R(x + dx))/(2 dx);
    # theta < 0:  (R(dx - x) + R(x + dx))/(2 dx)
    double _R_DD "qarvel_MillsRatioDiff"(double x, double dx, int theta) noexcept
    # (R_n(x - dx) - R_n(x + dx))/(2 dx) for the depth-n_terms continued
    # fraction R_n; n_terms = 0 is depth 0, any other n_terms < 2 depth 1
    double _R_DD_CF "qarvel_MillsRatioDiff_CF"(double x, double dx, int n_terms) noexcept
