// quillbox._core.Layout.
#include "layout.h"

#include <pybind11/stl.h>

#include <algorithm>
#include <cstdio>

#include "cobolrules.h"
#include "quillbox.h"
#include "rectypes.h"
#include "sqltable.h"
#include "textcodec.h"
#include "variableoccurs.h"

namespace quillbox {
namespace python {

// Analyses the copybook at `path`.
PyLayout::PyLayout(const std::string& path, bool cobol, const std::vector<std::string>& include,
                   const std::vector<std::pair<std::string, std::string>>& replace, int pointerSize, bool freeFormat) {
    options_.cobol = cobol;
    options_.includeDirs = include;
    options_.replacements = replace;
    options_.pointerSize = pointerSize;
    options_.freeFormat = freeFormat;
    if (pointerSize != 4 && pointerSize != 8) throw py::value_error("pointer_size is 4 or 8");
    try {
        layout_.reset(new Layout(path, options_));
    } catch (const Error& failure) {
        throw LayoutFailure{failure.what()};
    }
}

py::list PyLayout::Items() const {
    py::list items;
    for (CopyItem* item = layout_->Head(); item != nullptr; item = item->next) {
        py::dict d;
        const unsigned f = item->flags;
        d["serial_no"] = item->serialNo;
        d["level"] = item->level;
        d["name"] = ShiftJisToUtf8(ItemText(item->name).Get());
        d["picture"] = ShiftJisToUtf8(ItemText(item->picture).Get());
        const ItemFlagName* category = ItemCategory(f);
        d["category"] = category != nullptr ? py::object(py::str(category->name)) : py::object(py::none());
        const ItemFlagName* names[USAGE_NAME_COUNT];
        int count = UsageNamesOf(f, names);
        py::list usages;
        for (int i = 0; i < count; ++i) usages.append(names[i]->name);
        d["usage"] = usages;
        d["signed"] = (f & ITEM_SIGNED) != 0;
        d["digits"] = item->digits;
        d["scale"] = item->scale;
        d["offset"] = item->position - 1;
        d["length"] = item->byteLength;
        d["occurs"] = item->occursCount;
        d["element_no"] = item->elementNo;
        d["dimension"] = item->dimension;
        d["redefines"] = item->redefines != nullptr ? py::object(py::str(ShiftJisToUtf8(ItemText(item->redefines->name).Get())))
                                                    : py::object(py::none());
        d["remark"] = ShiftJisToUtf8(ItemText(item->remark).Get());
        items.append(d);
    }
    return items;
}

// The table columns of the codec's plan under `options` (redefines, serial_no,
// no_filler, names).
py::list PyLayout::Columns(const py::dict& given) const {
    DataOptions options = MakeOptions(given);
    LayoutPlan plan;
    std::string error;
    ColumnChoice choice;
    choice.noFiller = options.noFiller;
    choice.naming = options.naming;
    if (!BuildLayoutPlan(layout_->Head(), layout_->RecordLength(), options.redefinesAll, options.serialNo, choice,
                         plan, error)) {
        throw LayoutFailure{error};
    }
    static const char* const kinds[] = {"display", "packed", "binary", "comp-5", "float", "double",
                                        "text", "national", "bits", "boolean"};
    std::vector<bool> optional = Optional(plan);
    py::list columns;
    for (size_t i = 0; i < plan.fields.size(); ++i) {
        const Field& field = plan.fields[i];
        py::dict d;
        d["optional"] = static_cast<bool>(optional[i]);
        d["name"] = field.column;
        d["kind"] = kinds[field.kind];
        d["offset"] = field.offset;
        d["length"] = field.length;
        d["digits"] = field.digits;
        d["scale"] = field.scale;
        d["signed"] = field.isSigned;
        columns.append(d);
    }
    return columns;
}

std::vector<bool> PyLayout::Optional(const LayoutPlan& plan) const {
    // The occurrences of DEPENDING ON tables that a record may lack (past the minimum).
    std::vector<const CopyItem*> optional;
    for (const VariableOccurs& table : VariableOccursOf(layout_->Analyzer())) {
        if (table.item->elementNo > table.minimum) optional.push_back(table.item);
    }
    std::vector<bool> absent(plan.fields.size(), false);
    for (size_t i = 0; i < plan.fields.size(); ++i) {
        for (const CopyItem* item = plan.fields[i].item; item != nullptr && !absent[i]; item = item->parent) {
            absent[i] = std::find(optional.begin(), optional.end(), item) != optional.end();
        }
    }
    return absent;
}

// The CREATE TABLE text: in the generic dialect the desktop program's export (UTF-8
// here), in a database's dialect (sqlite, postgresql, db2) the codec's statement for
// the data table decode writes. `noFiller` leaves FILLER items out; `names` "sql"
// writes SQL-safe names.
std::string PyLayout::Ddl(const std::string& table, bool serialNo, bool quoteNames, const std::string& dialectName,
                          bool noFiller, const std::string& names) const {
    SqlDialect dialect;
    if (!ParseSqlDialect(dialectName, dialect)) {
        throw py::value_error("dialect takes generic, sqlite, postgresql or db2: " + dialectName);
    }
    if (names != "cobol" && names != "sql") throw py::value_error("names takes cobol or sql: " + names);
    const ColumnNaming naming = names == "sql" ? ColumnNaming::kSql : ColumnNaming::kCobol;
    if (dialect != SqlDialect::kGeneric) {
        std::string error;
        ColumnChoice choice;
        choice.noFiller = noFiller;
        choice.naming = naming;
        auto create = [&](CopyItem* head, int length, const std::string& name) {
            LayoutPlan plan;
            if (!CheckTableName(name, dialect, error)) throw py::value_error(error);
            if (!BuildLayoutPlan(head, length, false, serialNo, choice, plan, error)) throw LayoutFailure{error};
            return CreateTableSql(plan, name, dialect, quoteNames);
        };
        // Under the COBOL rules 01 records laid over the same bytes are record types:
        // a table each, named TABLE_RECORD (as quillbox-cli ddl names them).
        std::vector<CopyItem*> records = RecordsOf(layout_->Head());
        if (!options_.cobol || records.size() < 2 || records[1]->position != 1) {
            return create(layout_->Head(), layout_->RecordLength(), table);
        }
        std::string sql;
        for (CopyItem* record : records) {
            WithRecordAlone(record, [&] {
                sql += (sql.empty() ? "" : "\n") +
                       create(record, static_cast<int>(record->byteLength), table + "_" + RecordName(record));
            });
        }
        return sql;
    }
    std::string name;
    if (!Utf8ToShiftJis(table, name) || name.empty() || name.size() >= TABLE_NAME_CAPACITY) {
        throw py::value_error("the table name is empty, too long or has no Shift_JIS form");
    }
    std::FILE* file = std::tmpfile();
    if (file == nullptr) throw py::value_error("cannot create a temporary file");
    bool ok = WriteCreateTable(file, layout_->Head(), name.c_str(), serialNo, quoteNames, noFiller, naming);
    std::string text;
    std::rewind(file);
    char buffer[65536];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, got);
    std::fclose(file);
    if (!ok) throw py::value_error("cannot write the CREATE TABLE text");
    return ShiftJisToUtf8(text);
}

std::vector<std::string> PyLayout::Sources() const {
    std::vector<std::string> files;
    if (const auto* cobol = dynamic_cast<const CobolAnalyzer*>(&layout_->Analyzer())) files = cobol->SourceFiles();
    std::vector<std::string> once;
    for (const std::string& file : files) {
        if (std::find(once.begin(), once.end(), file) == once.end()) once.push_back(file);
    }
    return once;
}

void BindLayout(py::module_& m) {
    py::class_<PyLayout>(m, "Layout")
        .def(py::init<const std::string&, bool, const std::vector<std::string>&,
                      const std::vector<std::pair<std::string, std::string>>&, int, bool>(),
             py::arg("path"), py::arg("cobol"), py::arg("include"), py::arg("replace"), py::arg("pointer_size"),
             py::arg("free_format"))
        .def_property_readonly("record_length", &PyLayout::RecordLength)
        .def("items", &PyLayout::Items)
        .def("columns", &PyLayout::Columns, py::arg("options"))
        .def("ddl", &PyLayout::Ddl, py::arg("table"), py::arg("serial_no"), py::arg("quote_names"), py::arg("dialect"),
             py::arg("no_filler"), py::arg("names"))
        .def("sources", &PyLayout::Sources);
}

}  // namespace python
}  // namespace quillbox
