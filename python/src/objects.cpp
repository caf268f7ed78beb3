// The Python objects of a chunk's column buffers: numbers handed to numpy as they are,
// texts and decimals made into str, int and Decimal objects.
#include <pybind11/numpy.h>

#include "columns.h"
#include "decimal.h"

namespace quillbox {
namespace python {

py::list ToPython(ColumnSink& sink, const std::vector<bool>& wanted) {
    DecimalMaker& decimals = Decimals();
    ArenaScope arenas;
    py::list result;
    const size_t rows = sink.Rows();
    for (size_t i = 0; i < sink.Columns().size(); ++i) {
        // A column nobody asked for costs no objects (a projection of Dask's).
        if (!wanted.empty() && (i >= wanted.size() || !wanted[i])) continue;
        Column& c = sink.Columns()[i];
        py::object mask = py::none();
        if (c.anyNull && c.output == kInt64) {
            py::array_t<bool> m(static_cast<py::ssize_t>(rows));
            bool* out = m.mutable_data();
            for (size_t r = 0; r < rows; ++r) out[r] = c.nulls[r] != 0;
            mask = m;
        }
        if (c.output == kInt64 || c.output == kFloat64) {
            py::array values;
            if (c.output == kInt64) {
                auto* held = new Buffer<int64_t>(std::move(c.ints));
                py::capsule owner(held, [](void* p) { delete static_cast<Buffer<int64_t>*>(p); });
                values = py::array_t<int64_t>(static_cast<py::ssize_t>(held->size()), held->data(), owner);
            } else {
                auto* held = new Buffer<double>(std::move(c.floats));
                py::capsule owner(held, [](void* p) { delete static_cast<Buffer<double>*>(p); });
                values = py::array_t<double>(static_cast<py::ssize_t>(held->size()), held->data(), owner);
            }
            result.append(py::make_tuple(c.field->column, c.output == kInt64 ? "int64" : "float64", values, mask));
            continue;
        }
        std::vector<py::ssize_t> shape{static_cast<py::ssize_t>(rows)};
        py::array values(py::dtype("O"), shape);
        PyObject** out = static_cast<PyObject**>(values.mutable_data());
        uint64_t begin = 0;
        for (size_t r = 0; r < rows; ++r) {
            // Ctrl-C is heard while millions of objects are made.
            if ((r & 0xFFFF) == 0xFFFF && PyErr_CheckSignals() != 0) throw py::error_already_set();
            PyObject* object;
            if (c.anyNull && c.nulls[r]) {
                object = Py_None;
                Py_INCREF(object);
            } else if (!c.textual) {
                // A Decimal of the digits kept.
                int64_t digits = c.ints[r];
                object = decimals.Make(digits < 0, digits < 0 ? 0 - static_cast<uint64_t>(digits) : static_cast<uint64_t>(digits),
                                        c.intScale);
            } else {
                const char* text = c.texts.Data() + begin;
                object = PyUnicode_DecodeUTF8(text, static_cast<Py_ssize_t>(c.ends[r] - begin), "strict");
                if (object != nullptr && c.output != kString) {
                    PyObject* number = c.output == kDecimal ? decimals.FromText(object)
                                                            : PyLong_FromUnicodeObject(object, 10);
                    Py_DECREF(object);
                    object = number;
                }
            }
            if (c.textual) begin = c.ends[r];
            if (object == nullptr) throw py::error_already_set();
            PyObject* old = out[r];
            out[r] = object;
            Py_XDECREF(old);
        }
        result.append(py::make_tuple(c.field->column, "object", values, mask));
    }
    return result;
}

}  // namespace python
}  // namespace quillbox
