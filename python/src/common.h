// What every part of the module quillbox._core shares: the failures it raises as
// Python exceptions, the data options of its keyword arguments, and the faults a run
// of the codec meets.
#pragma once

#include <pybind11/pybind11.h>

#include <memory>
#include <string>

#include "datafile.h"
#include "datacodec.h"
#include "faultcode.h"

namespace py = pybind11;

namespace quillbox {
namespace python {

// A copybook the analysis refused.
struct LayoutFailure {
    std::string message;
};

// Bad data or a failed run, with its place; `path` is the data file's (empty for bytes).
struct DataFailure {
    Error error;
    std::string path;
    FaultCode code = FaultCode::kOther;
};

// The exception types of the module (quillbox.Error and its kinds), made at import.
struct ErrorTypes {
    py::object error, layout, data, warning;
};
ErrorTypes& Errors();

DataFailure FromFault(const RunFault& fault);

// Hears the faults of a run: the one that ended it (stop or fatal) and a count of the
// others (records skipped, values left empty).
class FaultKeeper : public RunObserver {
public:
    void Fault(const RunFault& fault) override {
        if (fault.kind == RunFault::kView) return;
        if (fault.kind == RunFault::kFatal) {
            if (!fatal_) fatal_.reset(new DataFailure(FromFault(fault)));
            return;
        }
        last_.reset(new DataFailure(FromFault(fault)));
        ++bad_;
    }
    std::unique_ptr<DataFailure> fatal_, last_;
    long long bad_ = 0;
};

// The data options of the keyword arguments of read, iter_records, write and the Dask
// reader; with `layout`, its OCCURS DEPENDING ON tables too. A wrong type or value is a
// TypeError or ValueError naming the argument.
DataOptions MakeOptions(const py::dict& given, const Layout* layout = nullptr);

// How numbers with decimals come out: decimal.Decimal, float or their digits as int64.
enum class Decimals { kDecimal, kFloat, kInt };
Decimals ParseDecimals(const std::string& text);

inline bool IsNumber(const Field& field) {
    return field.kind == Field::kDisplay || field.kind == Field::kPacked || field.kind == Field::kBinary ||
           field.kind == Field::kComp5;
}

}  // namespace python
}  // namespace quillbox
