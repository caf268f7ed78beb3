// quillbox._core.write: rows of Python values encoded into records, written beside the
// target under a name of their own and put into place when whole (filereplace.h).
#include <cerrno>
#include <cmath>
#include <string>
#include <vector>

#include "common.h"
#include "filereplace.h"
#include "layout.h"
#include "valuecodec.h"

namespace quillbox {
namespace python {

namespace {

// Text for the codec of a Python value: str as it is, int and Decimal as plain decimal
// text, float as its shortest text (decimal items get it without an exponent).
class PyRows : public RowSource {
public:
    PyRows(py::iterator rows, const Field* fields, size_t count) : rows_(std::move(rows)), fields_(fields), count_(count) {
        decimal_ = py::module_::import("decimal").attr("Decimal");
        format_ = py::module_::import("builtins").attr("format");
    }
    bool Begin(const LayoutPlan&, std::string&) override { return true; }
    bool Next(const LayoutPlan&, std::vector<Cell>& cells, std::string& rowError, std::string& error) override {
        if (rows_ == py::iterator::sentinel()) return false;
        py::object row = py::reinterpret_borrow<py::object>(*rows_);
        ++rows_;
        py::sequence values = row.cast<py::sequence>();
        if (values.size() != count_) {
            rowError = "the row has " + std::to_string(values.size()) + " values, the layout " + std::to_string(count_) + " columns";
            return true;
        }
        (void)error;
        for (size_t i = 0; i < count_; ++i) {
            py::object value = values[i];
            Cell& cell = cells[i];
            if (Missing(value)) {
                cell.kind = Cell::kNull;
                cell.text.clear();
                continue;
            }
            cell.kind = IsNumber(fields_[i]) || fields_[i].kind == Field::kFloat || fields_[i].kind == Field::kDouble
                            ? Cell::kNumber
                            : Cell::kText;
            cell.text = Text(value, fields_[i]);
        }
        return true;
    }

private:
    static bool Missing(const py::object& value) {
        if (value.is_none()) return true;
        if (PyFloat_Check(value.ptr())) return std::isnan(PyFloat_AsDouble(value.ptr()));
        // pandas' NA and NaT.
        std::string type = py::str(py::type::of(value).attr("__name__"));
        return type == "NAType" || type == "NaTType";
    }
    std::string Text(const py::object& value, const Field& field) {
        if (PyUnicode_Check(value.ptr())) return value.cast<std::string>();
        if (PyBool_Check(value.ptr())) return value.ptr() == Py_True ? "1" : "0";
        if (PyFloat_Check(value.ptr())) {
            std::string text = py::repr(value);
            if (IsNumber(field) && text.find_first_of("eE") != std::string::npos) {
                text = py::str(format_(decimal_(text), "f"));
            }
            return text;
        }
        if (PyIndex_Check(value.ptr())) return py::str(py::reinterpret_steal<py::object>(PyNumber_Index(value.ptr())));
        if (py::isinstance(value, decimal_)) return py::str(format_(value, "f"));
        if (py::hasattr(value, "dtype")) return Text(value.attr("item")(), field);   // a numpy scalar
        return py::str(value);
    }

    py::iterator rows_;
    const Field* fields_;
    size_t count_;
    py::object decimal_, format_;
};

[[noreturn]] void RaiseOsError(int error, const std::string& path) {
    errno = error;
    PyErr_SetFromErrnoWithFilename(PyExc_OSError, path.c_str());
    throw py::error_already_set();
}

// Raises what stopped `output` from opening or completing as OSError naming `path`.
[[noreturn]] void RaiseReplaceError(const FileReplacement& output, const std::string& path) {
    switch (output.Why()) {
    case FileReplacement::kSystem: RaiseOsError(output.Error(), path);
    case FileReplacement::kFolderName: RaiseOsError(EISDIR, path);
    case FileReplacement::kNoRoom: RaiseOsError(ENOSPC, path);
    default: break;
    }
    PyErr_SetString(PyExc_OSError, (path + ": " + output.Reason()).c_str());
    throw py::error_already_set();
}

// quillbox.write: the rows (sequences in the layout's column order) encoded into `path`,
// written beside it (FileReplacement: a name of its own, the old file's mode and owner
// kept) and put in place when whole. Returns the records written.
long long Write(const PyLayout& layout, const py::iterable& rows, const std::string& path, const py::dict& given) {
    DataOptions options = MakeOptions(given, &layout.Get());
    DataSetup setup;
    std::string error;
    if (!setup.Prepare(layout.Get().Head(), layout.RecordLength(), options, error)) {
        throw DataFailure{Error(error), path};
    }
    FileReplacement output;
    if (!output.Open(path)) RaiseReplaceError(output, path);
    const std::vector<Field>& fields = setup.Plan().fields;
    PyRows source(py::iter(rows), fields.data(), fields.size());
    FaultKeeper keeper;
    RunResult result;
    {
        RecordWriter writer(output.File(), options.records, options.blockSize, options.crlf);
        result = EncodeRows(setup, source, writer, keeper);
    }
    // Without Commit the temporary file goes and the old file stays.
    if (keeper.fatal_ || (result.stopped && keeper.last_)) {
        DataFailure failure = keeper.fatal_ ? *keeper.fatal_ : *keeper.last_;
        failure.path = path;
        throw failure;
    }
    if (!output.Commit()) RaiseReplaceError(output, path);
    return result.written;
}

}  // namespace

void BindWrite(py::module_& m) {
    m.def("write", &Write, py::arg("layout"), py::arg("rows"), py::arg("path"), py::arg("options"));
}

}  // namespace python
}  // namespace quillbox
