/* _daz.c - the Python package's bridge to libdaz.
 *
 * Thin on purpose: each function takes buffers and plain values, calls the
 * library with the GIL released, and hands back tuples and buffers. The
 * records, the reading of paths and file objects and the error classes live
 * in the Python modules beside it. A failure raises the exception that
 * daz._errors.from_code makes for the library's code.
 */
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <daz/daz.h>

#include <errno.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <sys/stat.h>
#if defined(__linux__)
#include <sys/mman.h>
#endif

/* ---- errors -------------------------------------------------------------- */

static PyObject* error_factory; /* daz._errors.from_code, looked up once */

/* Raises daz._errors.from_code(code, None, system_error): system_error is
 * errno as a failed file call left it (0: none). */
static PyObject* raise_system_code(int code, int system_error) {
    if (code == DAZ_ERR_MEMORY) {
        return PyErr_NoMemory();
    }
    if (error_factory == NULL) {
        PyObject* module = PyImport_ImportModule("daz._errors");
        if (module == NULL) {
            return NULL;
        }
        error_factory = PyObject_GetAttrString(module, "from_code");
        Py_DECREF(module);
        if (error_factory == NULL) {
            return NULL;
        }
    }
    PyObject* error = system_error != 0
                          ? PyObject_CallFunction(error_factory, "iOi", code, Py_None, system_error)
                          : PyObject_CallFunction(error_factory, "i", code);
    if (error != NULL) {
        PyErr_SetObject((PyObject*)Py_TYPE(error), error);
        Py_DECREF(error);
    }
    return NULL;
}

static PyObject* raise_code(int code) {
    return raise_system_code(code, 0);
}

static int add_error(PyObject* table, const char* name, int number, const char* text) {
    PyObject* entry = Py_BuildValue("(is)", number, text);
    if (entry == NULL) {
        return -1;
    }
    const int added = PyDict_SetItemString(table, name, entry);
    Py_DECREF(entry);
    return added;
}

/* ---- big buffers ---------------------------------------------------------
 * An image's indices are written once, whole, right after the allocation.
 * So no zero fill (no calloc), and on Linux large blocks are aligned to and
 * advised for huge pages: first touches of fresh 4 KiB pages cost more than
 * the decoding itself (docs/python.md). For the same reason the last two
 * large blocks freed are kept for the next ones, as a malloc keeps small
 * ones; their pages go back to the kernel whenever it needs them
 * (MADV_FREE), and stay mapped otherwise. Only called with the GIL held. */

enum { HUGE_PAGE = 1 << 21, KEPT_BLOCKS = 2 };
#define KEPT_MOST ((size_t)256 << 20)

struct kept_block {
    void* data;
    size_t capacity;
};
static struct kept_block kept[KEPT_BLOCKS];

static size_t huge_rounded(size_t size) {
    return (size + HUGE_PAGE - 1) & ~(size_t)(HUGE_PAGE - 1);
}

/* A block of at least size bytes, unfilled; *capacity gets its size. */
static void* big_alloc(size_t size, size_t* capacity) {
    if (size == 0) {
        size = 1;
    }
    *capacity = size;
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    if (size >= HUGE_PAGE) {
        /* The smallest kept block that fits, if it is not twice too big. */
        int best = -1;
        for (int i = 0; i < KEPT_BLOCKS; ++i) {
            if (kept[i].data != NULL && kept[i].capacity >= size && kept[i].capacity / 2 < size &&
                (best < 0 || kept[i].capacity < kept[best].capacity)) {
                best = i;
            }
        }
        if (best >= 0) {
            void* block = kept[best].data;
            *capacity = kept[best].capacity;
            kept[best].data = NULL;
            return block;
        }
        void* block = NULL;
        *capacity = huge_rounded(size);
        if (posix_memalign(&block, HUGE_PAGE, *capacity) != 0) {
            return NULL;
        }
        (void)madvise(block, *capacity, MADV_HUGEPAGE);
        return block;
    }
#endif
    return malloc(size);
}

static void big_free(void* block, size_t capacity) {
#if defined(__linux__) && defined(MADV_FREE)
    if (block != NULL && capacity >= HUGE_PAGE && capacity <= KEPT_MOST) {
        for (int i = 0; i < KEPT_BLOCKS; ++i) {
            if (kept[i].data == NULL) {
                (void)madvise(block, capacity, MADV_FREE);
                kept[i].data = block;
                kept[i].capacity = capacity;
                return;
            }
        }
    }
#else
    (void)capacity;
#endif
    free(block);
}

/* A block of bytes with a 1-D or 2-D (rows, width) buffer interface:
 * an image's indices, or room a file is read into. */
typedef struct {
    PyObject_HEAD uint8_t* data;
    size_t capacity;
    Py_ssize_t shape[2];
    Py_ssize_t strides[2];
    int ndim;
} Block;

static void block_dealloc(Block* self) {
    big_free(self->data, self->capacity);
    Py_TYPE(self)->tp_free((PyObject*)self);
}

static int block_getbuffer(Block* self, Py_buffer* view, int flags) {
    const Py_ssize_t size = self->ndim == 2 ? self->shape[0] * self->shape[1] : self->shape[0];
    if (PyBuffer_FillInfo(view, (PyObject*)self, self->data, size, 0, flags) != 0) {
        return -1;
    }
    if ((flags & PyBUF_ND) == PyBUF_ND) {
        view->ndim = self->ndim;
        view->shape = self->shape;
        if ((flags & PyBUF_STRIDES) == PyBUF_STRIDES) {
            view->strides = self->strides;
        }
    }
    return 0;
}

static PyBufferProcs block_as_buffer = {(getbufferproc)block_getbuffer, NULL};

static PyObject* block_get_shape(Block* self, void* closure) {
    (void)closure;
    if (self->ndim == 2) {
        return Py_BuildValue("(nn)", self->shape[0], self->shape[1]);
    }
    return Py_BuildValue("(n)", self->shape[0]);
}

static PyObject* block_rebuilder; /* _daz._block, looked up at import */

/* Pickling and copying: the bytes, the shape, and _daz._block to rebuild
 * a block from them. */
static PyObject* block_reduce(Block* self, PyObject* unused) {
    (void)unused;
    const Py_ssize_t rows = self->ndim == 2 ? self->shape[0] : 1;
    const Py_ssize_t width = self->ndim == 2 ? self->shape[1] : self->shape[0];
    return Py_BuildValue("(O(y#nni))", block_rebuilder, (const char*)self->data, rows * width, rows,
                         width, self->ndim);
}

static PyMethodDef block_methods[] = {
    {"__reduce__", (PyCFunction)block_reduce, METH_NOARGS, "For pickle and copy."},
    {NULL, NULL, 0, NULL}};

static PyGetSetDef block_getset[] = {
    {"shape", (getter)block_get_shape, NULL, "(rows, width), or (size,) for plain bytes", NULL},
    {NULL, NULL, NULL, NULL, NULL}};

static PyTypeObject BlockType = {
    PyVarObject_HEAD_INIT(NULL, 0).tp_name = "daz.Indices",
    .tp_basicsize = sizeof(Block),
    .tp_dealloc = (destructor)block_dealloc,
    .tp_as_buffer = &block_as_buffer,
    .tp_flags = Py_TPFLAGS_DEFAULT,
    .tp_doc = "Bytes held for the package: an image's indices, one byte a pixel, top row "
              "first, as a (rows, width) buffer of unsigned bytes.",
    .tp_getset = block_getset,
    .tp_methods = block_methods,
};

/* A new block of rows x width bytes (ndim 2) or width bytes (ndim 1),
 * left unfilled. */
static Block* block_new(Py_ssize_t rows, Py_ssize_t width, int ndim) {
    Block* block = PyObject_New(Block, &BlockType);
    if (block == NULL) {
        return NULL;
    }
    block->data = big_alloc((size_t)rows * (size_t)width, &block->capacity);
    if (block->data == NULL) {
        PyObject_Free(block);
        PyErr_NoMemory();
        return NULL;
    }
    block->ndim = ndim;
    block->shape[0] = ndim == 2 ? rows : width;
    block->shape[1] = ndim == 2 ? width : 1;
    block->strides[0] = ndim == 2 ? width : 1;
    block->strides[1] = 1;
    return block;
}

/* ---- records ------------------------------------------------------------- */

/* (width, height, rows, bits, colors, key, row_size, pixel_offset,
 *  trailing, palette as red-green-blue bytes, fourth bytes). */
static PyObject* info_tuple(const daz_info* info) {
    char rgb[3 * DAZ_MAX_PALETTE];
    char fourth[DAZ_MAX_PALETTE];
    const int colors = info->colors > 0 && info->colors <= DAZ_MAX_PALETTE ? info->colors : 0;
    for (int i = 0; i < colors; ++i) {
        memcpy(rgb + 3 * i, info->palette + 4 * i, 3);
        fourth[i] = (char)info->palette[4 * i + 3];
    }
    return Py_BuildValue("(IiIiiHIKKy#y#)", info->width, info->height, info->rows, info->bits,
                         info->colors, info->key, info->row_size,
                         (unsigned long long)info->pixel_offset, (unsigned long long)info->trailing,
                         rgb, (Py_ssize_t)(3 * colors), fourth, (Py_ssize_t)colors);
}

/* The format's own bounds: for reading a header, which allocates nothing
 * for the image, before the caller's limits are checked against the rows
 * actually there. */
static void wide_limits(daz_limits* limits) {
    daz_default_limits(limits);
    limits->max_pixels = (uint64_t)DAZ_MAX_WIDTH * DAZ_MAX_ROWS;
    limits->max_bytes = UINT64_MAX;
}

/* daz.Limits as the package hands it over: (max_width, max_height,
 * max_pixels, max_bytes). */
static int to_limits(PyObject* tuple, daz_limits* limits) {
    unsigned long long pixels = 0;
    unsigned long long bytes = 0;
    if (!PyArg_ParseTuple(tuple, "IIKK", &limits->max_width, &limits->max_height, &pixels,
                          &bytes)) {
        return 0;
    }
    limits->max_pixels = pixels;
    limits->max_bytes = bytes;
    return 1;
}

/* Whether the indices of info's width x rows are within limits, as the
 * library answers it. */
static int check_limits(const daz_limits* limits, const daz_info* info, uint32_t rows) {
    daz_info held = *info;
    held.rows = rows;
    size_t size = 0;
    return daz_decoded_size(&held, limits, &size, NULL);
}

/* ---- calls --------------------------------------------------------------- */

static PyObject* py_version(PyObject* self, PyObject* args) {
    (void)self;
    (void)args;
    return PyUnicode_FromString(daz_version_string());
}

static PyObject* py_strerror(PyObject* self, PyObject* args) {
    (void)self;
    int code = 0;
    if (!PyArg_ParseTuple(args, "i", &code)) {
        return NULL;
    }
    return PyUnicode_FromString(daz_strerror(code));
}

static PyObject* py_inspect(PyObject* self, PyObject* args) {
    (void)self;
    Py_buffer data;
    if (!PyArg_ParseTuple(args, "y*", &data)) {
        return NULL;
    }
    daz_info info;
    const int status = daz_inspect(data.buf, (size_t)data.len, &info);
    PyBuffer_Release(&data);
    return status == DAZ_OK ? info_tuple(&info) : raise_code(status);
}

/* A Python binary stream as a read callback, keeping what it gave: the
 * header and palette, at most DAZ_HEADER_SIZE + DAZ_PALETTE_BYTES bytes. */
struct stream_reader {
    PyObject* stream;
    uint8_t head[DAZ_HEADER_SIZE + DAZ_PALETTE_BYTES];
    size_t got;
    int failed; /* stream.read raised: the exception is set */
};

static int read_stream(void* user, void* buffer, size_t size, size_t* got) {
    struct stream_reader* reader = user;
    *got = 0;
    if (size > sizeof reader->head - reader->got) {
        return 1;
    }
    PyObject* part = PyObject_CallMethod(reader->stream, "read", "n", (Py_ssize_t)size);
    if (part == NULL) {
        reader->failed = 1;
        return 1;
    }
    Py_buffer view;
    if (part != Py_None && PyObject_GetBuffer(part, &view, PyBUF_SIMPLE) == 0) {
        *got = (size_t)view.len < size ? (size_t)view.len : size;
        memcpy(buffer, view.buf, *got);
        memcpy(reader->head + reader->got, view.buf, *got);
        reader->got += *got;
        PyBuffer_Release(&view);
    }
    Py_DECREF(part);
    if (PyErr_Occurred()) {
        reader->failed = 1;
        return 1;
    }
    return 0;
}

/* read_head(stream) -> (info, bytes read): a daz image's header and palette
 * read from a binary stream by the library's streaming decoder, no byte
 * more, within the format's own bounds; rows is |height|. A failure of
 * stream.read is raised as it is. */
static PyObject* py_read_head(PyObject* self, PyObject* stream) {
    (void)self;
    struct stream_reader reader;
    reader.stream = stream;
    reader.got = 0;
    reader.failed = 0;
    daz_limits limits;
    wide_limits(&limits);
    daz_decoder* decoder = NULL;
    daz_info info;
    const int status = daz_decoder_create(read_stream, &reader, &limits, &decoder, &info);
    daz_decoder_destroy(decoder);
    if (reader.failed) {
        return NULL;
    }
    if (status != DAZ_OK) {
        return raise_code(status);
    }
    return Py_BuildValue("(Ny#)", info_tuple(&info), (const char*)reader.head,
                         (Py_ssize_t)reader.got);
}

static uint32_t stored_rows(const daz_info* info) {
    return info->height < 0 ? (uint32_t)(-(int64_t)info->height) : (uint32_t)info->height;
}

/* decode(data, limits, whole) -> (info, indices). whole: the indices hold
 * |height| rows even when the data is cut short, the missing ones index 0,
 * each present row where it belongs in the image. */
static PyObject* py_decode(PyObject* self, PyObject* args) {
    (void)self;
    Py_buffer data;
    PyObject* limits_tuple = NULL;
    int whole = 0;
    if (!PyArg_ParseTuple(args, "y*O!p", &data, &PyTuple_Type, &limits_tuple, &whole)) {
        return NULL;
    }
    daz_limits limits;
    if (!to_limits(limits_tuple, &limits)) {
        PyBuffer_Release(&data);
        return NULL;
    }
    daz_info info;
    int status = daz_inspect(data.buf, (size_t)data.len, &info);
    const uint32_t rows = status == DAZ_OK && whole ? stored_rows(&info) : info.rows;
    if (status == DAZ_OK) {
        status = check_limits(&limits, &info, rows);
    }
    Block* indices = NULL;
    if (status == DAZ_OK) {
        indices = block_new((Py_ssize_t)rows, (Py_ssize_t)info.width, 2);
        if (indices == NULL) {
            PyBuffer_Release(&data);
            return NULL;
        }
        const size_t missing = (size_t)(rows - info.rows) * info.width;
        /* Bottom-up rows cut short lose the top ones. */
        const size_t skip = info.height > 0 ? missing : 0;
        Py_BEGIN_ALLOW_THREADS;
        status = daz_decode(data.buf, (size_t)data.len, &limits, &info, NULL, indices->data + skip,
                            (size_t)info.rows * info.width);
        if (status == DAZ_OK && missing > 0) {
            memset(info.height > 0 ? indices->data : indices->data + (size_t)info.rows * info.width,
                   0, missing);
        }
        Py_END_ALLOW_THREADS;
    }
    PyBuffer_Release(&data);
    if (status != DAZ_OK) {
        Py_XDECREF(indices);
        return raise_code(status);
    }
    PyObject* record = info_tuple(&info);
    if (record == NULL) {
        Py_DECREF(indices);
        return NULL;
    }
    return Py_BuildValue("(NN)", record, (PyObject*)indices);
}

/* ---- daz files: open, read and decode in one call ------------------------
 * A regular file's header and palette are read by the library's streaming
 * decoder; the file's size then tells the whole rows there, the limits are
 * checked against those, and the rows are decoded straight into the image's
 * memory: no copy of the file is held. Anything else (a FIFO, a device)
 * is left to the caller, which reads it as a stream. */

struct file_reader {
    FILE* stream;
    int system_error; /* errno of a failed read */
};

static int read_file(void* user, void* buffer, size_t size, size_t* got) {
    struct file_reader* reader = user;
    for (;;) {
        *got = fread(buffer, 1, size, reader->stream);
        if (*got > 0 || !ferror(reader->stream)) {
            return 0;
        }
        if (errno != EINTR) {
            reader->system_error = errno;
            return 1;
        }
        clearerr(reader->stream);
    }
}

enum { FILE_BUFFER = 1 << 20 };

struct daz_file {
    struct file_reader reader;
    char* buffer; /* the stream's */
    daz_decoder* decoder;
    daz_info info; /* rows: the whole rows the file holds; trailing as daz_inspect */
    int system_error;
};

/* Opens path and reads its header. DAZ_OK, a failure, or 1 for a path that
 * names no regular file or folder (nothing opened). With the GIL released. */
static int daz_file_open(const char* path, struct daz_file* file) {
    memset(file, 0, sizeof *file);
    struct stat status;
    if (stat(path, &status) != 0) {
        file->system_error = errno;
        return DAZ_ERR_OPEN;
    }
    if (S_ISDIR(status.st_mode)) {
        file->system_error = EISDIR;
        return DAZ_ERR_OPEN;
    }
    if (!S_ISREG(status.st_mode)) {
        return 1;
    }
    file->reader.stream = fopen(path, "rb");
    if (file->reader.stream == NULL) {
        file->system_error = errno;
        return DAZ_ERR_OPEN;
    }
    /* Rows are taken one by one: read the file in large pieces. */
    file->buffer = malloc(FILE_BUFFER);
    if (file->buffer == NULL) {
        return DAZ_ERR_MEMORY;
    }
    setvbuf(file->reader.stream, file->buffer, _IOFBF, FILE_BUFFER);
    if (fstat(fileno(file->reader.stream), &status) != 0) {
        file->system_error = errno;
        return DAZ_ERR_READ;
    }
    daz_limits bounds;
    wide_limits(&bounds);
    int result = daz_decoder_create(read_file, &file->reader, &bounds, &file->decoder, &file->info);
    if (result == DAZ_ERR_CALLBACK) {
        file->system_error = file->reader.system_error;
        return DAZ_ERR_READ;
    }
    if (result != DAZ_OK) {
        return result;
    }
    /* The whole rows the file holds, as daz_inspect counts them. */
    daz_info* info = &file->info;
    const uint64_t size = (uint64_t)status.st_size;
    result = daz_rows_present(info, size, &info->rows);
    if (result != DAZ_OK) {
        return result;
    }
    info->trailing = size - info->pixel_offset - (uint64_t)info->rows * info->row_size;
    return DAZ_OK;
}

static void daz_file_close(struct daz_file* file) {
    daz_decoder_destroy(file->decoder);
    if (file->reader.stream != NULL) {
        fclose(file->reader.stream);
    }
    free(file->buffer);
}

/* inspect_file(path) -> info tuple, or None for no regular file. */
static PyObject* py_inspect_file(PyObject* self, PyObject* args) {
    (void)self;
    const char* path = NULL;
    if (!PyArg_ParseTuple(args, "y", &path)) {
        return NULL;
    }
    struct daz_file file;
    int status = DAZ_OK;
    Py_BEGIN_ALLOW_THREADS;
    status = daz_file_open(path, &file);
    daz_file_close(&file);
    Py_END_ALLOW_THREADS;
    if (status == 1) {
        Py_RETURN_NONE;
    }
    return status == DAZ_OK ? info_tuple(&file.info) : raise_system_code(status, file.system_error);
}

/* decode_file(path, limits, whole) -> (info, indices) as decode gives them,
 * or None for no regular file. */
static PyObject* py_decode_file(PyObject* self, PyObject* args) {
    (void)self;
    const char* path = NULL;
    PyObject* limits_tuple = NULL;
    int whole = 0;
    if (!PyArg_ParseTuple(args, "yO!p", &path, &PyTuple_Type, &limits_tuple, &whole)) {
        return NULL;
    }
    daz_limits limits;
    if (!to_limits(limits_tuple, &limits)) {
        return NULL;
    }
    struct daz_file file;
    int status = DAZ_OK;
    Py_BEGIN_ALLOW_THREADS;
    status = daz_file_open(path, &file);
    Py_END_ALLOW_THREADS;
    const daz_info* info = &file.info;
    const uint32_t height = stored_rows(info);
    const uint32_t rows = whole ? height : info->rows;
    if (status == DAZ_OK) {
        status = check_limits(&limits, info, rows);
    }
    Block* indices = NULL;
    if (status == DAZ_OK) {
        indices = block_new((Py_ssize_t)rows, (Py_ssize_t)info->width, 2);
        if (indices == NULL) {
            daz_file_close(&file);
            return NULL;
        }
        Py_BEGIN_ALLOW_THREADS;
        /* Rows come in stored order: bottom-up ones last row first. Cut
         * short, those lose the top rows, top-down ones the bottom rows. */
        const int bottom_up = info->height > 0;
        const uint32_t missing = height - info->rows;
        const uint32_t first = bottom_up && whole ? height - 1 : info->rows - 1;
        for (uint32_t k = 0; k < info->rows && status == DAZ_OK; ++k) {
            const uint32_t row = bottom_up ? first - k : k;
            status = daz_decoder_read_row(file.decoder, indices->data + (size_t)row * info->width,
                                          info->width, NULL);
        }
        if (status == DAZ_OK && whole && missing > 0) {
            memset(indices->data + (bottom_up ? 0 : (size_t)info->rows * info->width), 0,
                   (size_t)missing * info->width);
        }
        Py_END_ALLOW_THREADS;
        if (status == DAZ_ERR_CALLBACK) {
            status = DAZ_ERR_READ;
            file.system_error = file.reader.system_error;
        }
    }
    daz_file_close(&file);
    if (status == 1) {
        Py_RETURN_NONE;
    }
    if (status != DAZ_OK) {
        Py_XDECREF(indices);
        return raise_system_code(status, file.system_error);
    }
    PyObject* record = info_tuple(info);
    if (record == NULL) {
        Py_DECREF(indices);
        return NULL;
    }
    return Py_BuildValue("(NN)", record, (PyObject*)indices);
}

/* default_limits() -> (max_width, max_height, max_pixels, max_bytes). */
static PyObject* py_default_limits(PyObject* self, PyObject* args) {
    (void)self;
    (void)args;
    daz_limits limits;
    daz_default_limits(&limits);
    return Py_BuildValue("(IIKK)", limits.max_width, limits.max_height,
                         (unsigned long long)limits.max_pixels,
                         (unsigned long long)limits.max_bytes);
}

/* _block(data, rows, width, ndim): a block holding a copy of data, rows x
 * width bytes; what a pickled block is rebuilt with. */
static PyObject* py_block(PyObject* self, PyObject* args) {
    (void)self;
    Py_buffer data;
    Py_ssize_t rows = 0;
    Py_ssize_t width = 0;
    int ndim = 0;
    if (!PyArg_ParseTuple(args, "y*nni", &data, &rows, &width, &ndim)) {
        return NULL;
    }
    if ((ndim != 1 && ndim != 2) || rows < 0 || width < 0 || (ndim == 1 && rows != 1) ||
        (width > 0 && rows > data.len / width) || rows * width != data.len) {
        PyBuffer_Release(&data);
        PyErr_SetString(PyExc_ValueError, "data of another size than the shape");
        return NULL;
    }
    Block* block = block_new(rows, width, ndim);
    if (block != NULL) {
        memcpy(block->data, data.buf, (size_t)data.len);
    }
    PyBuffer_Release(&data);
    return (PyObject*)block;
}

/* empty(size): an unfilled writable block to read a file into. */
static PyObject* py_empty(PyObject* self, PyObject* args) {
    (void)self;
    Py_ssize_t size = 0;
    if (!PyArg_ParseTuple(args, "n", &size)) {
        return NULL;
    }
    if (size < 0) {
        PyErr_SetString(PyExc_ValueError, "negative size");
        return NULL;
    }
    return (PyObject*)block_new(1, size, 1);
}

/* encode(indices, stride, width, height, bits, palette, entries, kept, key)
 * -> (daz bytes, undefined). height signed, as daz_encode takes it; bits -1:
 * daz_bits_for's, from the entries and the highest index; palette: entries
 * x 4 bytes. */
static PyObject* py_encode(PyObject* self, PyObject* args) {
    (void)self;
    Py_buffer indices;
    Py_buffer palette;
    Py_ssize_t stride = 0;
    unsigned int width = 0;
    int height = 0;
    int bits = 0;
    int entries = 0;
    int kept_colors = 0;
    unsigned int key = 0;
    if (!PyArg_ParseTuple(args, "y*nIiiy*iiI", &indices, &stride, &width, &height, &bits, &palette,
                          &entries, &kept_colors, &key)) {
        return NULL;
    }
    const Py_ssize_t rows = height < 0 ? -(Py_ssize_t)height : height;
    int status = DAZ_OK;
    /* The last row needs only width bytes. */
    if (key > 0xFFFF || stride < (Py_ssize_t)width || rows == 0 || width == 0 ||
        indices.len < (Py_ssize_t)width || (indices.len - (Py_ssize_t)width) / stride < rows - 1 ||
        palette.len < 4 * (Py_ssize_t)entries) {
        status = DAZ_ERR_ARGUMENT;
    }
    if (status == DAZ_OK && bits == -1) {
        /* Only a palette that fits in 4 bits needs the highest index. */
        int highest = -1;
        Py_BEGIN_ALLOW_THREADS;
        const unsigned char* pixels = indices.buf;
        for (Py_ssize_t y = 0; y < rows && entries <= 16 && highest < 16; ++y) {
            const unsigned char* row = pixels + y * stride;
            for (unsigned int x = 0; x < width; ++x) {
                highest = row[x] > highest ? row[x] : highest;
            }
        }
        Py_END_ALLOW_THREADS;
        status = daz_bits_for(entries, highest, &bits);
    }
    size_t size = 0;
    if (status == DAZ_OK) {
        status = daz_encoded_size(width, height, bits, entries, kept_colors, &size);
    }
    PyObject* out = NULL;
    if (status == DAZ_OK) {
        out = PyBytes_FromStringAndSize(NULL, (Py_ssize_t)size);
        if (out == NULL) {
            PyBuffer_Release(&indices);
            PyBuffer_Release(&palette);
            return NULL;
        }
    }
    size_t written = 0;
    uint64_t undefined = 0;
    if (status == DAZ_OK) {
        Py_BEGIN_ALLOW_THREADS;
        status = daz_encode(indices.buf, (size_t)stride, width, height, bits, palette.buf, entries,
                            kept_colors, (uint16_t)key, PyBytes_AS_STRING(out), size, &written,
                            &undefined);
        Py_END_ALLOW_THREADS;
    }
    PyBuffer_Release(&indices);
    PyBuffer_Release(&palette);
    if (status != DAZ_OK) {
        Py_XDECREF(out);
        return raise_code(status);
    }
    return Py_BuildValue("(NK)", out, (unsigned long long)undefined);
}

/* guess_format(data) -> the daz_format of data's first bytes. */
static PyObject* py_guess_format(PyObject* self, PyObject* args) {
    (void)self;
    Py_buffer data;
    if (!PyArg_ParseTuple(args, "y*", &data)) {
        return NULL;
    }
    const daz_format format = daz_guess_format(data.buf, (size_t)data.len);
    PyBuffer_Release(&data);
    return PyLong_FromLong((long)format);
}

/* format_name(format) -> "BMP", "PNG", "daz", ... or "unknown". */
static PyObject* py_format_name(PyObject* self, PyObject* args) {
    (void)self;
    int format = 0;
    if (!PyArg_ParseTuple(args, "i", &format)) {
        return NULL;
    }
    return PyUnicode_FromString(daz_format_name(format));
}

/* formats() -> [(format, name, extensions, mime type, flags), ...]: every
 * format this build knows, daz included, from daz_format_at. */
static PyObject* py_formats(PyObject* self, PyObject* unused) {
    (void)self;
    (void)unused;
    PyObject* list = PyList_New(0);
    if (list == NULL) {
        return NULL;
    }
    daz_format_info info;
    for (int index = 0; daz_format_at(index, &info) == DAZ_OK; ++index) {
        PyObject* entry =
            Py_BuildValue("(isssI)", info.format, info.name, info.extensions ? info.extensions : "",
                          info.mime_type ? info.mime_type : "", info.flags);
        if (entry == NULL || PyList_Append(list, entry) != 0) {
            Py_XDECREF(entry);
            Py_DECREF(list);
            return NULL;
        }
        Py_DECREF(entry);
    }
    return list;
}

/* convert(data, limits, colors, key) -> (daz bytes, undefined): an image
 * of any format the library converts, in memory. */
static PyObject* py_convert(PyObject* self, PyObject* args) {
    (void)self;
    Py_buffer data;
    PyObject* limits_tuple = NULL;
    int colors = 0;
    unsigned int key = 0;
    if (!PyArg_ParseTuple(args, "y*O!iI", &data, &PyTuple_Type, &limits_tuple, &colors, &key)) {
        return NULL;
    }
    daz_limits limits;
    if (!to_limits(limits_tuple, &limits)) {
        PyBuffer_Release(&data);
        return NULL;
    }
    size_t size = 0;
    int status = key > 0xFFFF ? DAZ_ERR_ARGUMENT : DAZ_OK;
    if (status == DAZ_OK) {
        /* The size asked first: never more than the limits allow. */
        Py_BEGIN_ALLOW_THREADS;
        status = daz_convert(data.buf, (size_t)data.len, &limits, colors, (uint16_t)key, NULL, 0,
                             &size, NULL);
        Py_END_ALLOW_THREADS;
    }
    PyObject* out = NULL;
    uint64_t undefined = 0;
    if (status == DAZ_OK) {
        out = PyBytes_FromStringAndSize(NULL, (Py_ssize_t)size);
        if (out == NULL) {
            PyBuffer_Release(&data);
            return NULL;
        }
        size_t written = 0;
        Py_BEGIN_ALLOW_THREADS;
        status = daz_convert(data.buf, (size_t)data.len, &limits, colors, (uint16_t)key,
                             PyBytes_AS_STRING(out), size, &written, &undefined);
        Py_END_ALLOW_THREADS;
    }
    PyBuffer_Release(&data);
    if (status != DAZ_OK) {
        Py_XDECREF(out);
        return raise_code(status);
    }
    return Py_BuildValue("(NK)", out, (unsigned long long)undefined);
}

/* convert_file(source, destination, limits, colors, key) -> undefined;
 * paths as bytes (os.fsencode). */
static PyObject* py_convert_file(PyObject* self, PyObject* args) {
    (void)self;
    const char* source = NULL;
    const char* destination = NULL;
    PyObject* limits_tuple = NULL;
    int colors = 0;
    unsigned int key = 0;
    if (!PyArg_ParseTuple(args, "yyO!iI", &source, &destination, &PyTuple_Type, &limits_tuple,
                          &colors, &key)) {
        return NULL;
    }
    daz_limits limits;
    if (!to_limits(limits_tuple, &limits)) {
        return NULL;
    }
    if (key > 0xFFFF) {
        return raise_code(DAZ_ERR_ARGUMENT);
    }
    uint64_t undefined = 0;
    int status = DAZ_OK;
    int system_error = 0;
    Py_BEGIN_ALLOW_THREADS;
    errno = 0;
    status = daz_convert_file(source, destination, &limits, colors, (uint16_t)key, &undefined);
    system_error = errno;
    Py_END_ALLOW_THREADS;
    if (status != DAZ_OK) {
        return raise_system_code(status, system_error);
    }
    return PyLong_FromUnsignedLongLong((unsigned long long)undefined);
}

/* write_file(destination, data): the library's safe output. */
static PyObject* py_write_file(PyObject* self, PyObject* args) {
    (void)self;
    const char* destination = NULL;
    Py_buffer data;
    if (!PyArg_ParseTuple(args, "yy*", &destination, &data)) {
        return NULL;
    }
    int status = DAZ_OK;
    int system_error = 0;
    Py_BEGIN_ALLOW_THREADS;
    errno = 0;
    status = daz_write_file(destination, data.buf, (size_t)data.len);
    system_error = errno;
    Py_END_ALLOW_THREADS;
    PyBuffer_Release(&data);
    if (status != DAZ_OK) {
        return raise_system_code(status, system_error);
    }
    Py_RETURN_NONE;
}

/* ---- colour reduction and palette mapping -------------------------------- */

/* The options as the package hands them over: (colors, dither,
 * transparent index or -1, (red, green, blue)). */
static int to_quantize_options(PyObject* tuple, daz_quantize_options* options) {
    daz_default_quantize_options(options);
    unsigned char red = 0;
    unsigned char green = 0;
    unsigned char blue = 0;
    if (!PyArg_ParseTuple(tuple, "iii(bbb)", &options->colors, &options->dither,
                          &options->transparent_index, &red, &green, &blue)) {
        return 0;
    }
    options->background[0] = red;
    options->background[1] = green;
    options->background[2] = blue;
    return 1;
}

/* A palette argument: None (reduce), or entries x 4 bytes to map onto. */
static int to_palette(PyObject* object, Py_buffer* palette, int* entries) {
    *entries = 0;
    if (object == Py_None) {
        return 1;
    }
    if (PyObject_GetBuffer(object, palette, PyBUF_SIMPLE) != 0) {
        return 0;
    }
    *entries = (int)(palette->len / 4);
    if (palette->len % 4 != 0 || *entries < 1 || *entries > DAZ_MAX_PALETTE) {
        PyBuffer_Release(palette);
        raise_code(DAZ_ERR_ARGUMENT);
        return 0;
    }
    return 1;
}

/* The limits, options and palette of a reducing call; 0 with the Python
 * error set. A palette taken here is let go by release_palette. */
static int to_reduce_arguments(PyObject* limits_tuple, PyObject* options_tuple,
                               PyObject* palette_object, daz_limits* limits,
                               daz_quantize_options* options, Py_buffer* palette, int* entries) {
    return to_limits(limits_tuple, limits) && to_quantize_options(options_tuple, options) &&
           to_palette(palette_object, palette, entries);
}

/* Lets go of the palette to_palette took for palette_object, if any. */
static void release_palette(PyObject* palette_object, Py_buffer* palette) {
    if (palette_object != Py_None) {
        PyBuffer_Release(palette);
    }
}

/* The palette a call filled, entries x 4 bytes, as bytes. */
static PyObject* palette_bytes(const uint8_t* palette, int entries) {
    return PyBytes_FromStringAndSize((const char*)palette, (Py_ssize_t)(4 * entries));
}

/* quantize(pixels, stride, width, height, channels, limits, options,
 * palette) -> (palette, indices): pixels of 3 (red, green, blue) or 4
 * bytes, rows stride bytes apart, reduced (palette None) or mapped onto
 * palette (entries x 4 bytes); palette as entries x 4 bytes, indices a
 * (height, width) block. */
static PyObject* py_quantize(PyObject* self, PyObject* args) {
    (void)self;
    Py_buffer pixels;
    Py_ssize_t stride = 0;
    unsigned int width = 0;
    unsigned int height = 0;
    int channels = 0;
    PyObject* limits_tuple = NULL;
    PyObject* options_tuple = NULL;
    PyObject* palette_object = NULL;
    if (!PyArg_ParseTuple(args, "y*nIIiO!O!O", &pixels, &stride, &width, &height, &channels,
                          &PyTuple_Type, &limits_tuple, &PyTuple_Type, &options_tuple,
                          &palette_object)) {
        return NULL;
    }
    daz_limits limits;
    daz_quantize_options options;
    Py_buffer palette;
    int entries = 0;
    if (!to_reduce_arguments(limits_tuple, options_tuple, palette_object, &limits, &options,
                             &palette, &entries)) {
        PyBuffer_Release(&pixels);
        return NULL;
    }
    int status = DAZ_OK;
    const size_t row_bytes = (size_t)width * (size_t)(channels > 0 ? channels : 0);
    if ((channels != 3 && channels != 4) || width == 0 || height == 0 ||
        stride < (Py_ssize_t)row_bytes || pixels.len < (Py_ssize_t)row_bytes ||
        (size_t)(pixels.len - (Py_ssize_t)row_bytes) / (size_t)stride < height - 1) {
        status = DAZ_ERR_ARGUMENT;
    }
    if (status == DAZ_OK) {
        /* The indices within the limits, before anything is held. */
        const uint64_t count = (uint64_t)width * height;
        if (width > limits.max_width || height > limits.max_height || count > limits.max_pixels ||
            count > limits.max_bytes || count > PY_SSIZE_T_MAX) {
            status = DAZ_ERR_LIMITS;
        }
    }
    Block* indices = NULL;
    if (status == DAZ_OK) {
        indices = block_new((Py_ssize_t)height, (Py_ssize_t)width, 2);
        if (indices == NULL) {
            PyBuffer_Release(&pixels);
            release_palette(palette_object, &palette);
            return NULL;
        }
    }
    uint8_t table[DAZ_PALETTE_BYTES];
    int made = entries;
    if (status == DAZ_OK) {
        Py_BEGIN_ALLOW_THREADS;
        const uint8_t* rgba = pixels.buf;
        size_t rgba_stride = (size_t)stride;
        uint8_t* spread = NULL;
        if (channels == 3) {
            /* Red, green and blue: each pixel opaque. */
            spread = malloc(4 * (size_t)width * height);
            if (spread == NULL) {
                status = DAZ_ERR_MEMORY;
            } else {
                for (uint32_t y = 0; y < height; ++y) {
                    const uint8_t* in = rgba + (size_t)y * (size_t)stride;
                    uint8_t* out = spread + 4 * (size_t)width * y;
                    for (uint32_t x = 0; x < width; ++x) {
                        memcpy(out + 4 * x, in + 3 * x, 3);
                        out[4 * x + 3] = 255;
                    }
                }
                rgba = spread;
                rgba_stride = 4 * (size_t)width;
            }
        }
        const size_t count = (size_t)width * height;
        if (status == DAZ_OK && palette_object == Py_None) {
            status = daz_quantize(rgba, rgba_stride, width, height, &limits, &options, table, &made,
                                  indices->data, count);
        } else if (status == DAZ_OK) {
            memcpy(table, palette.buf, 4 * (size_t)entries);
            status = daz_remap(rgba, rgba_stride, width, height, &limits, &options, table, entries,
                               indices->data, count);
        }
        free(spread);
        Py_END_ALLOW_THREADS;
    }
    PyBuffer_Release(&pixels);
    release_palette(palette_object, &palette);
    if (status != DAZ_OK) {
        Py_XDECREF(indices);
        return raise_code(status);
    }
    return Py_BuildValue("(NN)", palette_bytes(table, made), (PyObject*)indices);
}

/* load_palette(data, limits) -> entries x 4 bytes: the palette of a daz,
 * BMP or PNG file, or the colours of an image of at most 256. */
static PyObject* py_load_palette(PyObject* self, PyObject* args) {
    (void)self;
    Py_buffer data;
    PyObject* limits_tuple = NULL;
    if (!PyArg_ParseTuple(args, "y*O!", &data, &PyTuple_Type, &limits_tuple)) {
        return NULL;
    }
    daz_limits limits;
    if (!to_limits(limits_tuple, &limits)) {
        PyBuffer_Release(&data);
        return NULL;
    }
    uint8_t palette[DAZ_PALETTE_BYTES];
    int entries = 0;
    int status = DAZ_OK;
    Py_BEGIN_ALLOW_THREADS;
    status = daz_load_palette(data.buf, (size_t)data.len, &limits, palette, &entries);
    Py_END_ALLOW_THREADS;
    PyBuffer_Release(&data);
    return status == DAZ_OK ? palette_bytes(palette, entries) : raise_code(status);
}

/* reduce(data, limits, options, palette, key) -> daz bytes: an image of
 * any format the library reads, reduced or mapped (daz_reduce). */
static PyObject* py_reduce(PyObject* self, PyObject* args) {
    (void)self;
    Py_buffer data;
    PyObject* limits_tuple = NULL;
    PyObject* options_tuple = NULL;
    PyObject* palette_object = NULL;
    unsigned int key = 0;
    if (!PyArg_ParseTuple(args, "y*O!O!OI", &data, &PyTuple_Type, &limits_tuple, &PyTuple_Type,
                          &options_tuple, &palette_object, &key)) {
        return NULL;
    }
    daz_limits limits;
    daz_quantize_options options;
    Py_buffer palette;
    int entries = 0;
    if (!to_reduce_arguments(limits_tuple, options_tuple, palette_object, &limits, &options,
                             &palette, &entries)) {
        PyBuffer_Release(&data);
        return NULL;
    }
    const uint8_t* table = palette_object != Py_None ? palette.buf : NULL;
    int status = key > 0xFFFF ? DAZ_ERR_ARGUMENT : DAZ_OK;
    size_t size = 0;
    if (status == DAZ_OK) {
        Py_BEGIN_ALLOW_THREADS;
        status = daz_reduce(data.buf, (size_t)data.len, &limits, &options, table, entries,
                            (uint16_t)key, NULL, 0, &size);
        Py_END_ALLOW_THREADS;
    }
    PyObject* out = NULL;
    if (status == DAZ_OK) {
        out = PyBytes_FromStringAndSize(NULL, (Py_ssize_t)size);
        if (out == NULL) {
            status = DAZ_ERR_MEMORY;
        }
    }
    if (status == DAZ_OK) {
        size_t written = 0;
        Py_BEGIN_ALLOW_THREADS;
        status = daz_reduce(data.buf, (size_t)data.len, &limits, &options, table, entries,
                            (uint16_t)key, PyBytes_AS_STRING(out), size, &written);
        Py_END_ALLOW_THREADS;
        /* The query read the header alone and gave the most; the file is
         * smaller when the image has fewer colours. */
        if (status == DAZ_OK && written < size && _PyBytes_Resize(&out, (Py_ssize_t)written) != 0) {
            PyBuffer_Release(&data);
            release_palette(palette_object, &palette);
            return NULL;
        }
    }
    PyBuffer_Release(&data);
    release_palette(palette_object, &palette);
    if (status != DAZ_OK) {
        Py_XDECREF(out);
        return raise_code(status);
    }
    return out;
}

/* reduce_file(source, destination, limits, options, palette, key):
 * daz_reduce_file; paths as bytes (os.fsencode). */
static PyObject* py_reduce_file(PyObject* self, PyObject* args) {
    (void)self;
    const char* source = NULL;
    const char* destination = NULL;
    PyObject* limits_tuple = NULL;
    PyObject* options_tuple = NULL;
    PyObject* palette_object = NULL;
    unsigned int key = 0;
    if (!PyArg_ParseTuple(args, "yyO!O!OI", &source, &destination, &PyTuple_Type, &limits_tuple,
                          &PyTuple_Type, &options_tuple, &palette_object, &key)) {
        return NULL;
    }
    daz_limits limits;
    daz_quantize_options options;
    Py_buffer palette;
    int entries = 0;
    if (!to_reduce_arguments(limits_tuple, options_tuple, palette_object, &limits, &options,
                             &palette, &entries)) {
        return NULL;
    }
    const uint8_t* table = palette_object != Py_None ? palette.buf : NULL;
    int status = key > 0xFFFF ? DAZ_ERR_ARGUMENT : DAZ_OK;
    int system_error = 0;
    if (status == DAZ_OK) {
        Py_BEGIN_ALLOW_THREADS;
        errno = 0;
        status =
            daz_reduce_file(source, destination, &limits, &options, table, entries, (uint16_t)key);
        system_error = errno;
        Py_END_ALLOW_THREADS;
    }
    release_palette(palette_object, &palette);
    if (status != DAZ_OK) {
        return raise_system_code(status, system_error);
    }
    Py_RETURN_NONE;
}

static PyMethodDef methods[] = {
    {"version", py_version, METH_NOARGS, "The library's version string."},
    {"strerror", py_strerror, METH_VARARGS, "The library's English text for a code."},
    {"inspect", py_inspect, METH_VARARGS, "inspect(data) -> info tuple"},
    {"read_head", py_read_head, METH_O, "read_head(stream) -> (info, bytes read)"},
    {"decode", py_decode, METH_VARARGS, "decode(data, limits, whole) -> (info, indices)"},
    {"inspect_file", py_inspect_file, METH_VARARGS, "inspect_file(path) -> info tuple or None"},
    {"decode_file", py_decode_file, METH_VARARGS,
     "decode_file(path, limits, whole) -> (info, indices) or None"},
    {"default_limits", py_default_limits, METH_NOARGS, "The library's default limits."},
    {"empty", py_empty, METH_VARARGS, "empty(size) -> unfilled writable buffer"},
    {"_block", py_block, METH_VARARGS, "_block(data, rows, width, ndim) -> a copy as a block"},
    {"encode", py_encode, METH_VARARGS, "encode(...) -> (bytes, undefined)"},
    {"guess_format", py_guess_format, METH_VARARGS, "guess_format(data) -> daz_format"},
    {"format_name", py_format_name, METH_VARARGS, "format_name(format) -> short name"},
    {"formats", py_formats, METH_NOARGS,
     "formats() -> [(format, name, extensions, mime type, flags)] of this build"},
    {"convert", py_convert, METH_VARARGS, "convert(data, limits, colors, key)"},
    {"convert_file", py_convert_file, METH_VARARGS,
     "convert_file(source, destination, limits, colors, key)"},
    {"write_file", py_write_file, METH_VARARGS, "write_file(destination, data)"},
    {"quantize", py_quantize, METH_VARARGS,
     "quantize(pixels, stride, width, height, channels, limits, options, palette)"
     " -> (palette, indices)"},
    {"load_palette", py_load_palette, METH_VARARGS, "load_palette(data, limits) -> palette"},
    {"reduce", py_reduce, METH_VARARGS, "reduce(data, limits, options, palette, key) -> bytes"},
    {"reduce_file", py_reduce_file, METH_VARARGS,
     "reduce_file(source, destination, limits, options, palette, key)"},
    {NULL, NULL, 0, NULL}};

static struct PyModuleDef module = {
    PyModuleDef_HEAD_INIT, "daz._daz", NULL, -1, methods, NULL, NULL, NULL, NULL};

/* ERRORS: {name: (number, text)} for every result of daz.h's DAZ_ERROR_TABLE,
 * the names the package's exceptions are chosen by. */
static PyObject* error_table(void) {
    PyObject* table = PyDict_New();
    if (table == NULL) {
        return NULL;
    }
#define DAZ_PY_ERROR_ENTRY(name, number, text)                                                     \
    if (add_error(table, #name, number, text) != 0) {                                              \
        Py_DECREF(table);                                                                          \
        return NULL;                                                                               \
    }
    DAZ_ERROR_TABLE(DAZ_PY_ERROR_ENTRY)
#undef DAZ_PY_ERROR_ENTRY
    return table;
}

PyMODINIT_FUNC PyInit__daz(void) {
    if (PyType_Ready(&BlockType) < 0) {
        return NULL;
    }
    PyObject* m = PyModule_Create(&module);
    if (m == NULL) {
        return NULL;
    }
    block_rebuilder = PyObject_GetAttrString(m, "_block");
    PyObject* errors = error_table();
    if (block_rebuilder == NULL || errors == NULL || PyModule_AddObject(m, "ERRORS", errors) < 0) {
        Py_XDECREF(errors);
        Py_DECREF(m);
        return NULL;
    }
    Py_INCREF(&BlockType);
    if (PyModule_AddObject(m, "Indices", (PyObject*)&BlockType) < 0 ||
        PyModule_AddStringConstant(m, "HEADER_VERSION",
                                   "" Py_STRINGIFY(DAZ_VERSION_MAJOR) "." Py_STRINGIFY(
                                       DAZ_VERSION_MINOR) "." Py_STRINGIFY(DAZ_VERSION_PATCH)) <
            0 ||
        PyModule_AddIntConstant(m, "FORMAT_UNKNOWN", DAZ_FORMAT_UNKNOWN) < 0 ||
        PyModule_AddIntConstant(m, "FORMAT_DAZ", DAZ_FORMAT_DAZ) < 0 ||
        PyModule_AddIntConstant(m, "FORMAT_CONVERTS", DAZ_FORMAT_CONVERTS) < 0 ||
        PyModule_AddIntConstant(m, "FORMAT_LOADS", DAZ_FORMAT_LOADS) < 0 ||
        PyModule_AddIntConstant(m, "FORMAT_EXPORTS", DAZ_FORMAT_EXPORTS) < 0 ||
        PyModule_AddIntConstant(m, "DITHER_NONE", DAZ_DITHER_NONE) < 0 ||
        PyModule_AddIntConstant(m, "DITHER_DIFFUSION", DAZ_DITHER_DIFFUSION) < 0 ||
        PyModule_AddIntConstant(m, "GUESS_BYTES", DAZ_GUESS_BYTES) < 0 ||
        PyModule_AddIntConstant(m, "MAX_ROWS", DAZ_MAX_ROWS) < 0) {
        Py_DECREF(&BlockType);
        Py_DECREF(m);
        return NULL;
    }
    return m;
}
