# C-level declarations of the relative-function kernels, for cimport by other
# extension modules:
#
#     from qarvel.relmeans cimport _logrel, _powrel
#
# The kernels are not linker symbols: Cython publishes them in the module's
# capsule table __pyx_capi__ under the signatures "double (double)" and
# "double (double, double)", and the cimport fetches them from there when the
# importing module loads (which imports qarvel.relmeans, NumPy included).
# They never raise and may be called without the interpreter lock.

# log(1 + x)/x, with the value 1 at x = 0
cdef double _logrel(double x) noexcept nogil
# ((1 + x)^a - 1)/(a x), with the value 1 at x = 0 and log(1 + x)/x at a = 0
cdef double _powrel(double x, double a) noexcept nogil
