/* The codepage_guess module's C part: the library's decision and
   classification on any object with the buffer protocol, without a copy, and
   a stream type over the library's stream. The Python part (__init__.py)
   adds the named tuples.

   Written for the limited API of CPython 3.11 (one abi3 wheel for every
   later version), with a heap type kept in the module's state, so that each
   interpreter that imports the module has its own. */
#include <Python.h>
#include <pythread.h>

#include <errno.h>
#include <fcntl.h>
#include <stdint.h>
#include <string.h>
#include <sys/stat.h>

#ifdef MS_WINDOWS
#include <io.h>
#define READ_FILE _read
#define CLOSE_FILE _close
#define FSTAT _fstat64
typedef struct _stat64 FileStatus;
#else
#include <unistd.h>
#define READ_FILE read
#define CLOSE_FILE close
#define FSTAT fstat
typedef struct stat FileStatus;
#endif

#include "codepage_guess.h"

/* Above this many bytes the library runs with the GIL released: below it,
   releasing and taking it back costs more than deciding. */
#define RELEASE_GIL_ABOVE 65536

typedef struct {
    PyObject *stream_type;
} ModuleState;

static ModuleState *
state_of(PyObject *module)
{
    return (ModuleState *)PyModule_GetState(module);
}

static int
get_bytes(PyObject *object, Py_buffer *view)
{
    if (PyUnicode_Check(object)) {
        PyErr_SetString(PyExc_TypeError, "data: expected a bytes-like object, not str");
        return -1;
    }
    /* PyBUF_SIMPLE: C-contiguous bytes, or a TypeError naming the type. */
    if (PyObject_GetBuffer(object, view, PyBUF_SIMPLE) < 0) {
        if (PyErr_ExceptionMatches(PyExc_BufferError)) {
            PyObject *name = PyType_GetName(Py_TYPE(object));
            PyErr_Clear();
            if (name != NULL) {
                PyErr_Format(PyExc_TypeError,
                             "data: expected a contiguous bytes-like object, not this %U", name);
                Py_DECREF(name);
            }
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

/* The description as a tuple in the order of the Description named tuple:
   kind, bom, ambiguous, code_page (None when undecided), rule, utf8_line and
   sjis_line (None when there is none). */
static PyObject *
description_tuple(const void *data, size_t size, uint32_t flags)
{
    cpg_description d;
    cpg_status status;
    memset(&d, 0, sizeof d);
    d.size = sizeof d;
    d.flags = flags;
    if (size > RELEASE_GIL_ABOVE) {
        Py_BEGIN_ALLOW_THREADS
        status = cpg_describe(data, size, &d);
        Py_END_ALLOW_THREADS
    }
    else {
        status = cpg_describe(data, size, &d);
    }
    if (status != CPG_OK) {
        PyErr_SetString(PyExc_SystemError, "cpg_describe refused its arguments");
        return NULL;
    }
    PyObject *code_page = d.code_page == 0 ? Py_NewRef(Py_None) : PyLong_FromLong(d.code_page);
    PyObject *utf8_line = d.utf8_line == 0 ? Py_NewRef(Py_None)
                                           : PyLong_FromUnsignedLongLong(d.utf8_line);
    PyObject *sjis_line = d.sjis_line == 0 ? Py_NewRef(Py_None)
                                           : PyLong_FromUnsignedLongLong(d.sjis_line);
    PyObject *result = NULL;
    if (code_page != NULL && utf8_line != NULL && sjis_line != NULL) {
        result = Py_BuildValue("(sNNOsOO)", cpg_kind_name((int)d.kind), PyBool_FromLong(d.bom),
                               PyBool_FromLong(d.ambiguous), code_page,
                               /* as the scan's JSON names it */
                               d.kind == CPG_KIND_EMPTY ? "empty" : rule_name(d.rule),
                               utf8_line, sjis_line);
    }
    Py_XDECREF(code_page);
    Py_XDECREF(utf8_line);
    Py_XDECREF(sjis_line);
    return result;
}

static PyObject *
describe_tuple(PyObject *module, PyObject *data)
{
    Py_buffer view;
    PyObject *result;
    (void)module;
    if (get_bytes(data, &view) < 0) {
        return NULL;
    }
    result = description_tuple(view.buf, (size_t)view.len, 0);
    PyBuffer_Release(&view);
    return result;
}

/* Reads the start of the file at path as the command line does: opened and
   read to its end or to `limit` bytes, waiting for a pipe's writer as it
   waits, a directory refused. On success *buffer holds *filled bytes, to be
   freed with PyMem_Free; otherwise an OSError with the path is set. */
static int
read_start(PyObject *path, size_t limit, unsigned char **buffer, size_t *filled)
{
    PyObject *name = NULL;
    int descriptor, failure = 0, result = -1;
    FileStatus status;
    *buffer = NULL;
    *filled = 0;

#ifdef MS_WINDOWS
    wchar_t *wide;
    if (!PyUnicode_FSDecoder(path, &name)) {
        return -1;
    }
    wide = PyUnicode_AsWideCharString(name, NULL);
    Py_DECREF(name);
    if (wide == NULL) {
        return -1;
    }
    Py_BEGIN_ALLOW_THREADS
    descriptor = _wopen(wide, _O_RDONLY | _O_BINARY);
    Py_END_ALLOW_THREADS
    PyMem_Free(wide);
#else
    if (!PyUnicode_FSConverter(path, &name)) {
        return -1;
    }
    /* Blocking, as fopen() opens: a FIFO waits here for its writer, and its
       reads wait for the bytes; the GIL is released meanwhile. */
    const char *bytes = PyBytes_AsString(name);
    if (bytes == NULL) {
        Py_DECREF(name);
        return -1;
    }
    Py_BEGIN_ALLOW_THREADS
    descriptor = open(bytes, O_RDONLY | O_CLOEXEC);
    Py_END_ALLOW_THREADS
    Py_DECREF(name);
#endif
    if (descriptor < 0) {
        PyErr_SetFromErrnoWithFilenameObject(PyExc_OSError, path);
        return -1;
    }
    if (FSTAT(descriptor, &status) != 0) {
        PyErr_SetFromErrnoWithFilenameObject(PyExc_OSError, path);
        goto exit;
    }
    if ((status.st_mode & S_IFMT) == S_IFDIR) {
        errno = EISDIR;
        PyErr_SetFromErrnoWithFilenameObject(PyExc_OSError, path);
        goto exit;
    }
    *buffer = PyMem_Malloc(limit);
    if (*buffer == NULL) {
        PyErr_NoMemory();
        goto exit;
    }
    Py_BEGIN_ALLOW_THREADS
    while (*filled < limit) {
        const long got = (long)READ_FILE(descriptor, *buffer + *filled,
                                         (unsigned)(limit - *filled));
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
        *filled += (size_t)got;
    }
    Py_END_ALLOW_THREADS
    if (failure) {
        errno = failure;
        PyErr_SetFromErrnoWithFilenameObject(PyExc_OSError, path);
        goto exit;
    }
    result = 0;

exit:
    CLOSE_FILE(descriptor);
    if (result < 0) {
        PyMem_Free(*buffer);
        *buffer = NULL;
    }
    return result;
}

PyDoc_STRVAR(guess_file__doc__,
"guess_file($module, path, /)\n"
"--\n"
"\n"
"Return guess() on the first 1,048,576 bytes of the file at path (str, bytes\n"
"or os.PathLike), read as the codepage-guess command reads it: a pipe or a\n"
"FIFO is waited for and read to its end or to the limit. An empty file gives\n"
"0. Raises the usual OSError subclasses (FileNotFoundError, PermissionError,\n"
"IsADirectoryError) with the path.");

static PyObject *
guess_file(PyObject *module, PyObject *path)
{
    unsigned char *buffer;
    size_t filled;
    int code_page;
    (void)module;
    if (read_start(path, CPG_INPUT_LIMIT, &buffer, &filled) < 0) {
        return NULL;
    }
    code_page = decide(buffer, filled, NULL);
    PyMem_Free(buffer);
    return PyLong_FromLong(code_page);
}

static PyObject *
describe_file_tuple(PyObject *module, PyObject *path)
{
    unsigned char *buffer;
    size_t filled;
    PyObject *result;
    (void)module;
    /* One byte past the limit tells a file of exactly the limit from the
       start of a longer one, whose last character may be cut. */
    if (read_start(path, (size_t)CPG_INPUT_LIMIT + 1, &buffer, &filled) < 0) {
        return NULL;
    }
    if (filled > CPG_INPUT_LIMIT) {
        result = description_tuple(buffer, CPG_INPUT_LIMIT, CPG_DESCRIBE_START_ONLY);
    }
    else {
        result = description_tuple(buffer, filled, 0);
    }
    PyMem_Free(buffer);
    return result;
}

/* Stream: bytes fed in pieces, decided as one. */

typedef struct {
    PyObject_HEAD
    cpg_stream *stream;
    size_t fed;              /* bytes kept: at most CPG_INPUT_LIMIT */
    PyThread_type_lock lock; /* one thread at a time in the C stream */
} StreamObject;

static PyObject *
Stream_new(PyTypeObject *type, PyObject *args, PyObject *kwargs)
{
    StreamObject *self;
    allocfunc alloc;
    if (PyTuple_Size(args) != 0 || (kwargs != NULL && PyDict_Size(kwargs) != 0)) {
        PyErr_SetString(PyExc_TypeError, "Stream() takes no arguments");
        return NULL;
    }
    alloc = (allocfunc)PyType_GetSlot(type, Py_tp_alloc);
    self = (StreamObject *)alloc(type, 0);
    if (self == NULL) {
        return NULL;
    }
    self->stream = cpg_stream_new();
    self->fed = 0;
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
    PyTypeObject *type = Py_TYPE(self);
    freefunc free_object = (freefunc)PyType_GetSlot(type, Py_tp_free);
    cpg_stream_free(self->stream);
    if (self->lock != NULL) {
        PyThread_free_lock(self->lock);
    }
    free_object(self);
    Py_DECREF(type);
}

/* Takes the stream's lock, letting other threads run while it waits. */
static void
Stream_lock(StreamObject *self)
{
    if (!PyThread_acquire_lock(self->lock, NOWAIT_LOCK)) {
        Py_BEGIN_ALLOW_THREADS
        PyThread_acquire_lock(self->lock, WAIT_LOCK);
        Py_END_ALLOW_THREADS
    }
}

/* Takes the stream's lock, then checks that the stream is still open: a
   close() may have come in between. Returns 0 with the lock held, or -1
   with ValueError set and the lock released. */
static int
Stream_take(StreamObject *self)
{
    Stream_lock(self);
    if (self->stream == NULL) {
        PyThread_release_lock(self->lock);
        PyErr_SetString(PyExc_ValueError, "the stream is closed");
        return -1;
    }
    return 0;
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
    if (get_bytes(data, &view) < 0) {
        return NULL;
    }
    if (Stream_take(self) < 0) {
        PyBuffer_Release(&view);
        return NULL;
    }
    const size_t room = CPG_INPUT_LIMIT - self->fed;
    const size_t taken = (size_t)view.len < room ? (size_t)view.len : room;
    if (taken > RELEASE_GIL_ABOVE) {
        Py_BEGIN_ALLOW_THREADS
        cpg_stream_feed(self->stream, view.buf, taken);
        Py_END_ALLOW_THREADS
    }
    else {
        cpg_stream_feed(self->stream, view.buf, taken);
    }
    self->fed += taken;
    PyThread_release_lock(self->lock);
    PyBuffer_Release(&view);
    return Py_NewRef(self);
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
    if (Stream_take(self) < 0) {
        return NULL;
    }
    if (self->fed > RELEASE_GIL_ABOVE) {
        Py_BEGIN_ALLOW_THREADS
        code_page = cpg_stream_finish(self->stream);
        Py_END_ALLOW_THREADS
    }
    else {
        code_page = cpg_stream_finish(self->stream);
    }
    PyThread_release_lock(self->lock);
    return PyLong_FromLong(code_page);
}

PyDoc_STRVAR(Stream_close__doc__,
"close($self, /)\n"
"--\n"
"\n"
"Free the stream's buffer now; later calls but close() raise ValueError.");

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
    if (Stream_take(self) < 0) {
        return NULL;
    }
    PyThread_release_lock(self->lock);
    return Py_NewRef(self);
}

static PyObject *
Stream_exit(StreamObject *self, PyObject *args)
{
    (void)args;
    return Stream_close(self, NULL);
}

static PyObject *
Stream_size(StreamObject *self, void *unused)
{
    (void)unused;
    return PyLong_FromSize_t(self->fed);
}

static PyMethodDef Stream_methods[] = {
    {"feed", (PyCFunction)Stream_feed, METH_O, Stream_feed__doc__},
    {"guess", (PyCFunction)Stream_guess, METH_NOARGS, Stream_guess__doc__},
    {"close", (PyCFunction)Stream_close, METH_NOARGS, Stream_close__doc__},
    {"__enter__", (PyCFunction)Stream_enter, METH_NOARGS, NULL},
    {"__exit__", (PyCFunction)Stream_exit, METH_VARARGS, NULL},
    {NULL, NULL, 0, NULL},
};

static PyGetSetDef Stream_getset[] = {
    {"size", (getter)Stream_size, NULL, "Bytes kept so far: at most INPUT_LIMIT.", NULL},
    {NULL, NULL, NULL, NULL, NULL},
};

PyDoc_STRVAR(Stream__doc__,
"Stream()\n"
"--\n"
"\n"
"Bytes that arrive in pieces: feed() them in order, then guess(). The verdict\n"
"equals guess() on the pieces joined, however they were split. A context\n"
"manager: the buffer (1 MiB, reserved at once) is freed on leaving.");

static PyType_Slot Stream_slots[] = {
    {Py_tp_new, Stream_new},
    {Py_tp_dealloc, Stream_dealloc},
    {Py_tp_doc, (void *)Stream__doc__},
    {Py_tp_methods, Stream_methods},
    {Py_tp_getset, Stream_getset},
    {0, NULL},
};

static PyType_Spec Stream_spec = {
    .name = "codepage_guess.Stream",
    .basicsize = sizeof(StreamObject),
    /* Final, as the stubs say: nothing to gain from a subclass. */
    .flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE,
    .slots = Stream_slots,
};

static PyMethodDef module_methods[] = {
    {"guess", (PyCFunction)guess, METH_O, guess__doc__},
    {"guess_file", (PyCFunction)guess_file, METH_O, guess_file__doc__},
    {"_explain_tuple", (PyCFunction)explain_tuple, METH_O, NULL},
    {"_describe_tuple", (PyCFunction)describe_tuple, METH_O, NULL},
    {"_describe_file_tuple", (PyCFunction)describe_file_tuple, METH_O, NULL},
    {NULL, NULL, 0, NULL},
};

static int
module_exec(PyObject *module)
{
    ModuleState *state = state_of(module);
    state->stream_type = PyType_FromModuleAndSpec(module, &Stream_spec, NULL);
    if (state->stream_type == NULL) {
        return -1;
    }
    if (PyModule_AddObjectRef(module, "Stream", state->stream_type) < 0 ||
        PyModule_AddStringConstant(module, "_library_version", cpg_version()) < 0 ||
        PyModule_AddIntConstant(module, "INPUT_LIMIT", CPG_INPUT_LIMIT) < 0) {
        return -1;
    }
    return 0;
}

static int
module_traverse(PyObject *module, visitproc visit, void *arg)
{
    ModuleState *state = state_of(module);
    Py_VISIT(state->stream_type);
    return 0;
}

static int
module_clear(PyObject *module)
{
    ModuleState *state = state_of(module);
    Py_CLEAR(state->stream_type);
    return 0;
}

static void
module_free(void *module)
{
    module_clear((PyObject *)module);
}

static PyModuleDef_Slot module_slots[] = {
    {Py_mod_exec, module_exec},
    {0, NULL},
};

static struct PyModuleDef module_definition = {
    PyModuleDef_HEAD_INIT,
    .m_name = "codepage_guess._native",
    .m_doc = "The codepage-guess library's decision and kinds.",
    .m_size = sizeof(ModuleState),
    .m_methods = module_methods,
    .m_slots = module_slots,
    .m_traverse = module_traverse,
    .m_clear = module_clear,
    .m_free = module_free,
};

PyMODINIT_FUNC
PyInit__native(void)
{
    return PyModuleDef_Init(&module_definition);
}
