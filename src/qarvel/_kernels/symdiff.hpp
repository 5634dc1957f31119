// Symmetric divided differences of the Mills ratio R(x) = N(-x)/n(x) for a
// midpoint x and a half-step dx:
//
//   MillsRatioDiff     (R(x - dx) - R(x + dx))/(2 dx), free of the
//                      cancellation of the plain difference, or the sum
//                      (R(dx - x) + R(x + dx))/(2 dx) for a negative selector;
//   MillsRatioDiff_CF  the divided difference of the depth-n continued-
//                      fraction approximant R_n between x - dx and x + dx.
//
// Templates over the working type T (float or double), instantiated for both
// in symdiff.cpp, each operation rounded to T on its own in the order
// written (the translation units are compiled with -ffp-contract=off).  They
// call the Mills kernels of mills.hpp, which are compiled into the same
// shared library.  The double instantiations are reachable from C through
// the qarvel_* entry points declared at the end of this header.
#ifndef QARVEL_KERNELS_SYMDIFF_HPP
#define QARVEL_KERNELS_SYMDIFF_HPP

#include "mills.hpp"

namespace qarvel {

// (R_n(a) - R_n(b))/(b - a) with a = x - dx, b = x + dx, for any depth
// n_terms >= 0; every n_terms below 2 other than 0 is taken as depth 1.
template <typename T> QARVEL_EXPORT T MillsRatioDiff_CF(T x, T dx, int n_terms);

// theta >= 0: (R(x - dx) - R(x + dx))/(2 dx), the divided difference, even
//             in dx (a negative dx gives the result for |dx|);
// theta < 0:  (R(dx - x) + R(x + dx))/(2 dx), the reflected sum.
template <typename T> QARVEL_EXPORT T MillsRatioDiff(T x, T dx, int theta);

}  // namespace qarvel

extern "C" {
QARVEL_EXPORT double qarvel_MillsRatioDiff(double x, double dx, int theta);
QARVEL_EXPORT double qarvel_MillsRatioDiff_CF(double x, double dx, int n_terms);
}

#endif  // QARVEL_KERNELS_SYMDIFF_HPP
