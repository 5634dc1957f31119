# Raw element access to the float64 arrays of the binding modules, through the
# buffer protocol: the request a typed memoryview double[::1] (or const
# double[::1]) makes, and its checks, without building a memoryview object
# per call, which costs about as much as the whole rest of a call on a scalar.
#
#     cdef Py_buffer view
#     acquire_doubles(arr, &view, WRITABLE)
#     try:
#         ... (<double*>view.buf)[i] ...
#     finally:
#         PyBuffer_Release(&view)

from cpython.buffer cimport (PyBUF_C_CONTIGUOUS, PyBUF_FORMAT, PyBUF_WRITABLE,
                             PyBuffer_Release, PyObject_GetBuffer)

cdef enum:
    # C-contiguous, with format information, and with or without write access
    WRITABLE = PyBUF_C_CONTIGUOUS | PyBUF_FORMAT | PyBUF_WRITABLE
    READONLY = PyBUF_C_CONTIGUOUS | PyBUF_FORMAT


cdef inline bint _is_native_double(const char* fmt) noexcept:
    # "d", optionally with a native byte-order prefix
    if fmt == NULL:
        return False
    if fmt[0] == b'@' or fmt[0] == b'=' or fmt[0] == b'<':
        fmt += 1
    return fmt[0] == b'd' and fmt[1] == 0


cdef inline int acquire_doubles(object obj, Py_buffer* view, int flags) except -1:
    # One dimension of doubles, 8 bytes each, or ValueError.  A read-only
    # array asked for write access raises NumPy's own ValueError here.
    PyObject_GetBuffer(obj, view, flags)
    if view.ndim != 1 or view.itemsize != sizeof(double) or not _is_native_double(view.format):
        PyBuffer_Release(view)
        raise ValueError("expected a one-dimensional buffer of doubles")
    return 0
