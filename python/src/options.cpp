// The keyword arguments of read, iter_records, write and the Dask reader as the codec's
// data options, one line an option; None leaves the default. Every refusal names the
// argument: a value of the wrong type is a TypeError, one out of range a ValueError.
#include <climits>
#include <string>

#include "common.h"
#include "rectypes.h"
#include "variableoccurs.h"

namespace quillbox {
namespace python {

namespace {

std::string TypeName(const py::handle& value) { return py::str(py::type::of(value).attr("__name__")); }

// A text argument: str only (a number or bytes where a name is expected is a mistake).
std::string Text(const py::handle& value, const char* option) {
    if (!py::isinstance<py::str>(value)) {
        throw py::type_error(std::string(option) + " takes a str, not " + TypeName(value));
    }
    return value.cast<std::string>();
}

template <typename T>
void Named(bool (*parse)(const std::string&, T&), const py::handle& value, T& target, const char* option) {
    std::string text = Text(value, option);
    if (!parse(text, target)) throw py::value_error(std::string("unknown ") + option + " value: " + text);
}

// A whole number from `least` to LLONG_MAX: an int (or anything with __index__, numpy's
// integers among them), never a bool or a float.
long long Whole(const py::handle& value, const char* option, long long least) {
    if (PyBool_Check(value.ptr()) || !PyIndex_Check(value.ptr())) {
        throw py::type_error(std::string(option) + " takes an int, not " + TypeName(value));
    }
    py::object index = py::reinterpret_steal<py::object>(PyNumber_Index(value.ptr()));
    if (!index) throw py::error_already_set();
    int overflow = 0;
    long long number = PyLong_AsLongLongAndOverflow(index.ptr(), &overflow);
    if (number == -1 && PyErr_Occurred()) throw py::error_already_set();
    if (overflow != 0 || number < least) {
        throw py::value_error(std::string(option) + " takes a number from " + std::to_string(least) + " to " +
                              std::to_string(LLONG_MAX) + ", not " + std::string(py::str(value)));
    }
    return number;
}

// A flag: True or False (numpy's bool_ too), never a text such as "yes".
bool Flag(const py::handle& value, const char* option) {
    if (PyBool_Check(value.ptr())) return value.ptr() == Py_True;
    if (TypeName(value) == "bool_") return value.cast<bool>();
    throw py::type_error(std::string(option) + " takes True or False, not " + TypeName(value) + " " +
                         std::string(py::repr(value)));
}

// record_type: rules "FIELD=VALUE:RECORD" as the command line takes them.
void AddRecordTypeRules(const py::handle& rules, DataOptions& options) {
    if (py::isinstance<py::str>(rules) || !py::hasattr(rules, "__iter__")) {
        throw py::type_error("record_type takes a list of FIELD=VALUE:RECORD rules");
    }
    for (auto given : rules) {
        std::string text = Text(given, "record_type");
        RecordTypeRule rule;
        if (!ParseRecordTypeRule(text, rule)) {
            throw py::value_error("record_type rules are FIELD=VALUE:RECORD, such as REC-TYPE=H:HDR-REC: " + text);
        }
        options.recordTypes.push_back(rule);
    }
}

}  // namespace

DataOptions MakeOptions(const py::dict& given, const Layout* layout) {
    DataOptions options;
    for (auto entry : given) {
        std::string key = py::str(entry.first);
        py::handle value = entry.second;
        if (value.is_none()) continue;
        if (key == "encoding") options.encoding = Text(value, "encoding");
        else if (key == "records") Named(ParseRecordFormat, value, options.records, "records");
        else if (key == "float_format") Named(ParseFloatFormat, value, options.floats, "float_format");
        else if (key == "on_error") Named(ParseOnError, value, options.onError, "on_error");
        else if (key == "native_order") Named(ParseNativeOrder, value, options.nativeOrder, "native_order");
        else if (key == "blank_numeric") Named(ParseBlankNumeric, value, options.blankNumeric, "blank_numeric");
        else if (key == "odo") Named(ParseOdoRecords, value, options.odo, "odo");
        else if (key == "sign_zones") {
            std::string text;
            if (py::isinstance<py::tuple>(value) || py::isinstance<py::list>(value)) {
                py::sequence pair = py::reinterpret_borrow<py::sequence>(value);
                if (pair.size() != 2) throw py::value_error("sign_zones takes a pair (POS, NEG)");
                text = std::string(py::str(pair[0])) + "," + std::string(py::str(pair[1]));
            } else {
                text = Text(value, "sign_zones");
            }
            if (!ParseSignZones(text, options.positiveZone, options.negativeZone)) {
                throw py::value_error("sign_zones takes POS,NEG, each from 0 to 255: " + text);
            }
            options.signZonesGiven = true;
        } else if (key == "redefines") {
            std::string text = Text(value, "redefines");
            if (text != "first" && text != "all") throw py::value_error("redefines takes first or all: " + text);
            options.redefinesAll = text == "all";
        } else if (key == "skip") options.skip = Whole(value, "skip", 0);
        else if (key == "count") options.count = Whole(value, "count", -1);
        else if (key == "trim") options.trim = Flag(value, "trim");
        else if (key == "serial_no") options.serialNo = Flag(value, "serial_no");
        else if (key == "crlf") options.crlf = Flag(value, "crlf");
        else if (key == "block_size") options.blockSize = static_cast<size_t>(Whole(value, "block_size", 0));
        else if (key == "record_type") AddRecordTypeRules(value, options);
        else if (key == "record_type_default") options.recordTypeDefault = Text(value, "record_type_default");
        else if (key == "no_filler") options.noFiller = Flag(value, "no_filler");
        else if (key == "names") {
            std::string text = Text(value, "names");
            if (text != "cobol" && text != "sql") throw py::value_error("names takes cobol or sql: " + text);
            options.naming = text == "sql" ? ColumnNaming::kSql : ColumnNaming::kCobol;
        }
        else throw py::type_error("unknown data option: " + key);
    }
    if (layout != nullptr) options.variableOccurs = VariableOccursOf(layout->Analyzer());
    return options;
}

Decimals ParseDecimals(const std::string& text) {
    if (text == "decimal") return Decimals::kDecimal;
    if (text == "float") return Decimals::kFloat;
    if (text == "int") return Decimals::kInt;
    throw py::value_error("decimals takes decimal, float or int: " + text);
}

DataFailure FromFault(const RunFault& fault) {
    DataFailure failure{Error(fault.reason, fault.record, fault.field != nullptr ? fault.field->column : std::string(),
                              fault.field != nullptr ? fault.offset : -1), std::string()};
    failure.code = fault.code;
    return failure;
}

}  // namespace python
}  // namespace quillbox
