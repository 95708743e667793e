/* The codepage_guess module's C part: the library's decision on any object
   with the buffer protocol, without a copy, and a stream type over the
   library's stream. The Python part (__init__.py) adds the named tuple of an
   explanation. */
#define PY_SSIZE_T_CLEAN
#include <Python.h>
#include <pythread.h>

#include <errno.h>
#include <fcntl.h>
#include <stdint.h>
#include <sys/stat.h>

#ifdef MS_WINDOWS
#include <io.h>
#define READ_FILE _read
#define CLOSE_FILE _close
#else
#include <unistd.h>
#define READ_FILE read
#define CLOSE_FILE close
#endif

#include "codepage_guess.h"

/* Above this many bytes the decision runs with the GIL released: below it,
   releasing and taking it back costs more than deciding. */
#define RELEASE_GIL_ABOVE 65536

static int
get_bytes(PyObject *object, Py_buffer *view)
{
    if (PyUnicode_Check(object)) {
        PyErr_SetString(PyExc_TypeError, "data: expected bytes-like object, not str");
        return -1;
    }
    /* PyBUF_SIMPLE: C-contiguous bytes, or a TypeError naming the argument. */
    if (PyObject_GetBuffer(object, view, PyBUF_SIMPLE) < 0) {
        if (PyErr_ExceptionMatches(PyExc_BufferError)) {
            PyErr_Clear();
            PyErr_Format(PyExc_TypeError, "data: expected a contiguous bytes-like object, not %.200s",
                         Py_TYPE(object)->tp_name);
        }
        return -1;
    }
    return 0;
}

static int
decide(const void *data, size_t size, cpg_rule *rule)
{
    int code_page;
    if (size > RELEASE_GIL_ABOVE) {
        Py_BEGIN_ALLOW_THREADS
        code_page = cpg_guess_rule(data, size, rule);
        Py_END_ALLOW_THREADS
    }
    else {
        code_page = cpg_guess_rule(data, size, rule);
    }
    return code_page;
}

PyDoc_STRVAR(guess__doc__,
"guess($module, data, /)\n"
"--\n"
"\n"
"Return 65001 (UTF-8), 932 (Shift_JIS) or 0 (undecided) for the first\n"
"1,048,576 bytes of data, as the codepage-guess command decides.\n"
"\n"
"data is any object with the buffer protocol (bytes, bytearray, memoryview,\n"
"mmap, a NumPy array of bytes); it is not copied.");

static PyObject *
guess(PyObject *module, PyObject *data)
{
    Py_buffer view;
    int code_page;
    (void)module;
    if (get_bytes(data, &view) < 0) {
        return NULL;
    }
    code_page = decide(view.buf, (size_t)view.len, NULL);
    PyBuffer_Release(&view);
    return PyLong_FromLong(code_page);
}

static const char *
rule_name(uint32_t rule)
{
    switch (rule) {
    case CPG_RULE_ONLY_ERROR_FREE:
        return "only_error_free";
    case CPG_RULE_BEST_SCORE:
        return "best_score";
    default:
        return "undecided";
    }
}

PyDoc_STRVAR(explain_tuple__doc__,
"explain_tuple($module, data, /)\n"
"--\n"
"\n"
"The explanation as a plain tuple: code page, rule, bytes examined, then\n"
"errors and score of the UTF-8 and of the Shift_JIS reading.");

static PyObject *
explain_tuple(PyObject *module, PyObject *data)
{
    Py_buffer view;
    cpg_explanation e;
    cpg_status status;
    (void)module;
    if (get_bytes(data, &view) < 0) {
        return NULL;
    }
    e.size = sizeof e;
    Py_BEGIN_ALLOW_THREADS
    status = cpg_explain(view.buf, (size_t)view.len, &e);
    Py_END_ALLOW_THREADS
    PyBuffer_Release(&view);
    if (status != CPG_OK) {
        return PyErr_NoMemory();
    }
    return Py_BuildValue("(isIIdId)", (int)e.code_page, rule_name(e.rule), (unsigned)e.examined,
                         (unsigned)e.candidates[0].errors, e.candidates[0].score,
                         (unsigned)e.candidates[1].errors, e.candidates[1].score);
}

PyDoc_STRVAR(guess_file__doc__,
"guess_file($module, path, /)\n"
"--\n"
"\n"
"Return guess() on the first 1,048,576 bytes of the file at path (str, bytes\n"
"or os.PathLike). An empty file gives 0. Raises the usual OSError subclasses\n"
"(FileNotFoundError, PermissionError, IsADirectoryError) with the path.");

static PyObject *
guess_file(PyObject *module, PyObject *path)
{
    PyObject *name = NULL, *result = NULL;
    unsigned char *buffer = NULL;
    size_t filled = 0;
    int descriptor = -1, failure = 0, code_page;
    struct stat status;
    (void)module;

#ifdef MS_WINDOWS
    wchar_t *wide;
    if (!PyUnicode_FSDecoder(path, &name)) {
        return NULL;
    }
    wide = PyUnicode_AsWideCharString(name, NULL);
    if (wide == NULL) {
        goto exit;
    }
    Py_BEGIN_ALLOW_THREADS
    descriptor = _wopen(wide, _O_RDONLY | _O_BINARY);
    Py_END_ALLOW_THREADS
    PyMem_Free(wide);
#else
    if (!PyUnicode_FSConverter(path, &name)) {
        return NULL;
    }
    Py_BEGIN_ALLOW_THREADS
    /* Without waiting for a writer, should the path be a FIFO. */
    descriptor = open(PyBytes_AS_STRING(name), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    Py_END_ALLOW_THREADS
#endif
    if (descriptor < 0) {
        PyErr_SetFromErrnoWithFilenameObject(PyExc_OSError, path);
        goto exit;
    }
    if (fstat(descriptor, &status) != 0) {
        PyErr_SetFromErrnoWithFilenameObject(PyExc_OSError, path);
        goto exit;
    }
    if (S_ISDIR(status.st_mode)) {
        errno = EISDIR;
        PyErr_SetFromErrnoWithFilenameObject(PyExc_OSError, path);
        goto exit;
    }
    buffer = PyMem_RawMalloc(CPG_INPUT_LIMIT);
    if (buffer == NULL) {
        PyErr_NoMemory();
        goto exit;
    }
    Py_BEGIN_ALLOW_THREADS
    while (filled < CPG_INPUT_LIMIT) {
        const long got = (long)READ_FILE(descriptor, buffer + filled,
                                         (unsigned)(CPG_INPUT_LIMIT - filled));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            failure = errno;
            break;
        }
        if (got == 0) {
            break;
        }
        filled += (size_t)got;
    }
    code_page = failure ? 0 : cpg_guess(buffer, filled);
    Py_END_ALLOW_THREADS
    if (failure) {
        errno = failure;
        PyErr_SetFromErrnoWithFilenameObject(PyExc_OSError, path);
        goto exit;
    }
    result = PyLong_FromLong(code_page);

exit:
    if (descriptor >= 0) {
        CLOSE_FILE(descriptor);
    }
    PyMem_RawFree(buffer);
    Py_XDECREF(name);
    return result;
}

/* Stream: bytes fed in pieces, decided as one. */

typedef struct {
    PyObject_HEAD
    cpg_stream *stream;
    PyThread_type_lock lock; /* one thread at a time in the C stream */
} StreamObject;

static PyObject *
Stream_new(PyTypeObject *type, PyObject *args, PyObject *kwargs)
{
    StreamObject *self;
    if (PyTuple_GET_SIZE(args) != 0 || (kwargs != NULL && PyDict_GET_SIZE(kwargs) != 0)) {
        PyErr_SetString(PyExc_TypeError, "Stream() takes no arguments");
        return NULL;
    }
    self = (StreamObject *)type->tp_alloc(type, 0);
    if (self == NULL) {
        return NULL;
    }
    self->stream = cpg_stream_new();
    self->lock = PyThread_allocate_lock();
    if (self->stream == NULL || self->lock == NULL) {
        Py_DECREF(self);
        return PyErr_NoMemory();
    }
    return (PyObject *)self;
}

static void
Stream_dealloc(StreamObject *self)
{
    cpg_stream_free(self->stream);
    if (self->lock != NULL) {
        PyThread_free_lock(self->lock);
    }
    Py_TYPE(self)->tp_free((PyObject *)self);
}

static int
Stream_usable(StreamObject *self)
{
    if (self->stream == NULL) {
        PyErr_SetString(PyExc_ValueError, "the stream is closed");
        return 0;
    }
    return 1;
}

static void
Stream_lock(StreamObject *self)
{
    if (!PyThread_acquire_lock(self->lock, NOWAIT_LOCK)) {
        Py_BEGIN_ALLOW_THREADS
        PyThread_acquire_lock(self->lock, WAIT_LOCK);
        Py_END_ALLOW_THREADS
    }
}

PyDoc_STRVAR(Stream_feed__doc__,
"feed($self, data, /)\n"
"--\n"
"\n"
"Add the bytes of data (any bytes-like object) after those fed before. Bytes\n"
"past the first 1,048,576 are ignored. Returns the stream.");

static PyObject *
Stream_feed(StreamObject *self, PyObject *data)
{
    Py_buffer view;
    if (!Stream_usable(self) || get_bytes(data, &view) < 0) {
        return NULL;
    }
    Stream_lock(self);
    cpg_stream_feed(self->stream, view.buf, (size_t)view.len);
    PyThread_release_lock(self->lock);
    PyBuffer_Release(&view);
    Py_INCREF(self);
    return (PyObject *)self;
}

PyDoc_STRVAR(Stream_guess__doc__,
"guess($self, /)\n"
"--\n"
"\n"
"Return the verdict on everything fed so far, as guess() on the pieces\n"
"joined: 65001, 932 or 0. More may be fed afterwards.");

static PyObject *
Stream_guess(StreamObject *self, PyObject *unused)
{
    int code_page;
    (void)unused;
    if (!Stream_usable(self)) {
        return NULL;
    }
    Stream_lock(self);
    Py_BEGIN_ALLOW_THREADS
    code_page = cpg_stream_finish(self->stream);
    Py_END_ALLOW_THREADS
    PyThread_release_lock(self->lock);
    return PyLong_FromLong(code_page);
}

PyDoc_STRVAR(Stream_close__doc__,
"close($self, /)\n"
"--\n"
"\n"
"Free the stream's buffer now; later calls raise ValueError.");

static PyObject *
Stream_close(StreamObject *self, PyObject *unused)
{
    (void)unused;
    Stream_lock(self);
    cpg_stream_free(self->stream);
    self->stream = NULL;
    PyThread_release_lock(self->lock);
    Py_RETURN_NONE;
}

static PyObject *
Stream_enter(StreamObject *self, PyObject *unused)
{
    (void)unused;
    if (!Stream_usable(self)) {
        return NULL;
    }
    Py_INCREF(self);
    return (PyObject *)self;
}

static PyObject *
Stream_exit(StreamObject *self, PyObject *args)
{
    (void)args;
    return Stream_close(self, NULL);
}

static PyMethodDef Stream_methods[] = {
    {"feed", (PyCFunction)Stream_feed, METH_O, Stream_feed__doc__},
    {"guess", (PyCFunction)Stream_guess, METH_NOARGS, Stream_guess__doc__},
    {"close", (PyCFunction)Stream_close, METH_NOARGS, Stream_close__doc__},
    {"__enter__", (PyCFunction)Stream_enter, METH_NOARGS, NULL},
    {"__exit__", (PyCFunction)Stream_exit, METH_VARARGS, NULL},
    {NULL, NULL, 0, NULL},
};

PyDoc_STRVAR(Stream__doc__,
"Stream()\n"
"--\n"
"\n"
"Bytes that arrive in pieces: feed() them in order, then guess(). The verdict\n"
"equals guess() on the pieces joined, however they were split. A context\n"
"manager: the buffer (1 MiB, reserved at once) is freed on leaving.");

static PyTypeObject StreamType = {
    PyVarObject_HEAD_INIT(NULL, 0)
    .tp_name = "codepage_guess.Stream",
    .tp_basicsize = sizeof(StreamObject),
    .tp_dealloc = (destructor)Stream_dealloc,
    .tp_flags = Py_TPFLAGS_DEFAULT,
    .tp_doc = Stream__doc__,
    .tp_methods = Stream_methods,
    .tp_new = Stream_new,
};

static PyMethodDef module_methods[] = {
    {"guess", (PyCFunction)guess, METH_O, guess__doc__},
    {"guess_file", (PyCFunction)guess_file, METH_O, guess_file__doc__},
    {"explain_tuple", (PyCFunction)explain_tuple, METH_O, explain_tuple__doc__},
    {NULL, NULL, 0, NULL},
};

static int
module_exec(PyObject *module)
{
    if (PyType_Ready(&StreamType) < 0) {
        return -1;
    }
    Py_INCREF(&StreamType);
    if (PyModule_AddObject(module, "Stream", (PyObject *)&StreamType) < 0) {
        Py_DECREF(&StreamType);
        return -1;
    }
    if (PyModule_AddStringConstant(module, "library_version", cpg_version()) < 0 ||
        PyModule_AddIntConstant(module, "INPUT_LIMIT", CPG_INPUT_LIMIT) < 0) {
        return -1;
    }
    return 0;
}

static PyModuleDef_Slot module_slots[] = {
    {Py_mod_exec, module_exec},
    {0, NULL},
};

static struct PyModuleDef module_definition = {
    PyModuleDef_HEAD_INIT,
    .m_name = "codepage_guess._native",
    .m_doc = "The codepage-guess library's decision: UTF-8 or Shift_JIS.",
    .m_size = 0,
    .m_methods = module_methods,
    .m_slots = module_slots,
};

PyMODINIT_FUNC
PyInit__native(void)
{
    return PyModuleDef_Init(&module_definition);
}
