// quillbox._core: the data codec for Python. A layout analysed from a copybook, the
// records of a data file decoded into column buffers (numbers into int64 and float64
// arrays, text and exact decimals kept as UTF-8 text) with the interpreter lock
// released, and rows encoded back into records. Every value rule is the codec's: this
// module only moves the codec's cells into arrays and Python objects.
//
// Everything the module builds once is built here, at import, with the interpreter lock
// held by the importing thread alone: built later, by the first of several threads to
// read, it would be built holding the lock that the others wait for, under a guard
// they wait for while holding the lock.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <cstdint>

#include "common.h"
#include "decimal.h"
#include "memory.h"

namespace quillbox {
namespace python {

void BindLayout(py::module_& m);
void BindRead(py::module_& m);
void BindRanges(py::module_& m);
void BindWrite(py::module_& m);

ErrorTypes& Errors() {
    static ErrorTypes* types = new ErrorTypes();   // made at import; lives as long as the process
    return *types;
}

namespace {

// The interpreter that imported the module first is the only one it serves: its
// objects, the exception types and pybind11's own state belong to that interpreter.
bool InMainInterpreter() { return PyInterpreterState_Get() == PyInterpreterState_Main(); }

constexpr const char* kSubinterpreter =
    "quillbox cannot be imported in a subinterpreter: its module serves the main interpreter only "
    "(import it there, or in a process of its own)";

// _core._main_interpreter(): whether the caller runs in the main interpreter. A plain C
// function, so that the package can ask it even in a subinterpreter that was given a
// copy of the module made in the main one (Python copies a module of this kind without
// running its initialisation again).
PyObject* MainInterpreter(PyObject*, PyObject*) { return PyBool_FromLong(InMainInterpreter() ? 1 : 0); }
PyMethodDef kMainInterpreterDef = {"_main_interpreter", MainInterpreter, METH_NOARGS,
                                   "Whether this is the main interpreter (the only one quillbox serves)."};

void MakeErrors(py::module_& m) {
    ErrorTypes& types = Errors();
    py::object base = py::module_::import("builtins").attr("Exception");
    types.error = py::reinterpret_steal<py::object>(PyErr_NewException("quillbox.Error", base.ptr(), nullptr));
    types.layout = py::reinterpret_steal<py::object>(PyErr_NewException("quillbox.LayoutError", types.error.ptr(), nullptr));
    types.data = py::reinterpret_steal<py::object>(PyErr_NewException("quillbox.DataError", types.error.ptr(), nullptr));
    py::object userWarning = py::module_::import("builtins").attr("UserWarning");
    types.warning = py::reinterpret_steal<py::object>(PyErr_NewException("quillbox.DataWarning", userWarning.ptr(), nullptr));
    m.attr("Error") = types.error;
    m.attr("LayoutError") = types.layout;
    m.attr("DataError") = types.data;
    m.attr("DataWarning") = types.warning;
    py::register_exception_translator([](std::exception_ptr thrown) {
        ErrorTypes& types = Errors();
        try {
            if (thrown) std::rethrow_exception(thrown);
        } catch (const LayoutFailure& failure) {
            PyErr_SetString(types.layout.ptr(), failure.message.c_str());
        } catch (const DataFailure& failure) {
            const Error& e = failure.error;
            std::string message = failure.path.empty() ? std::string(e.what()) : failure.path + ": " + e.what();
            py::object error = types.data(message);
            error.attr("path") = failure.path.empty() ? py::object(py::none()) : py::object(py::str(failure.path));
            error.attr("record") = e.Record() > 0 ? py::object(py::int_(e.Record())) : py::object(py::none());
            error.attr("item") = e.Item().empty() ? py::object(py::none()) : py::object(py::str(e.Item()));
            error.attr("offset") = e.Offset() >= 0 ? py::object(py::int_(e.Offset())) : py::object(py::none());
            error.attr("reason") = e.Reason();
            error.attr("code") = FaultCodeName(failure.code);
            PyErr_SetObject(types.data.ptr(), error.ptr());
        } catch (const Error& e) {
            PyErr_SetString(types.data.ptr(), e.what());
        }
    });
}

// pybind11's numpy functions, looked up once (a function-local static of pybind11's).
void LoadNumpy() {
    py::module_::import("numpy");
    py::dtype("O");
    py::array_t<int64_t>(0);
    py::array_t<double>(0);
    py::array_t<bool>(0);
    py::array_t<uint16_t>(0);
}

void Init(py::module_& m) {
    m.doc() = "The Quillbox data codec: copybook layouts and data files";
    m.attr("_main_interpreter") = py::reinterpret_steal<py::object>(PyCFunction_New(&kMainInterpreterDef, nullptr));
    MakeErrors(m);
    LoadNumpy();
    MakeDecimals();
    InstallArenas();
    m.attr("direct_decimals") = Decimals().Direct();
    m.attr("huge_arenas") = ArenasInstalled();
    BindLayout(m);
    BindRead(m);
    BindRanges(m);
    BindWrite(m);
}

py::module_::module_def moduleDef;

}  // namespace

}  // namespace python
}  // namespace quillbox

// The module's initialisation (what PYBIND11_MODULE writes), refusing a subinterpreter
// before anything of pybind11's is touched.
extern "C" PYBIND11_EXPORT PyObject* PyInit__core();
extern "C" PYBIND11_EXPORT PyObject* PyInit__core() {
    if (!quillbox::python::InMainInterpreter()) {
        PyErr_SetString(PyExc_ImportError, quillbox::python::kSubinterpreter);
        return nullptr;
    }
    PYBIND11_CHECK_PYTHON_VERSION
    PYBIND11_ENSURE_INTERNALS_READY
    auto m = py::module_::create_extension_module("_core", nullptr, &quillbox::python::moduleDef);
    try {
        quillbox::python::Init(m);
        return m.ptr();
    }
    PYBIND11_CATCH_INIT_EXCEPTIONS
}
