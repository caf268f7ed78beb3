// quillbox._core.read, Chunks and TypeChunks: the records of a data file stepped by the
// codec's record cursor into column buffers with the interpreter lock released, a whole
// file at once or a chunk at a time, of one record layout or of several record types.
// The cursor applies the bad-data policy and keeps the run's report, which each of
// them hands to Python (report()).
#include <pybind11/numpy.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "columns.h"
#include "cursor.h"
#include "input.h"
#include "layout.h"
#include "rectypes.h"

namespace quillbox {
namespace python {

namespace {

// A run's report as Python sees it (DataFrame.attrs["quillbox"]).
py::dict ReportOf(const RunReport& report) {
    py::dict counts;
    for (const auto& code : report.byCode) counts[FaultCodeName(code.first)] = code.second;
    py::list faults;
    for (const ReportedFault& fault : report.first) {
        py::dict f;
        f["record"] = fault.record > 0 ? py::object(py::int_(fault.record)) : py::object(py::none());
        f["item"] = fault.item.empty() ? py::object(py::none()) : py::object(py::str(fault.item));
        f["offset"] = fault.offset >= 0 ? py::object(py::int_(fault.offset)) : py::object(py::none());
        f["code"] = FaultCodeName(fault.code);
        f["reason"] = fault.reason;
        f["fatal"] = fault.kind == RunFault::kFatal;
        faults.append(f);
    }
    py::dict d;
    d["read"] = report.read;
    d["written"] = report.written;
    d["bad"] = report.bad;
    d["skipped"] = report.skipped;
    d["blanks"] = report.blanks;
    d["padded"] = report.padded;
    d["faults"] = report.faults;
    d["by_code"] = counts;
    d["first_faults"] = faults;
    return d;
}

// A type's rows into its column buffers, each row's type noted in the order of the file.
class TypeSink : public RowSink {
public:
    TypeSink(ColumnSink& columns, std::vector<uint16_t>& order, uint16_t type)
        : columns_(columns), order_(order), type_(type) {}
    bool Begin(const LayoutPlan& plan) override { return columns_.Begin(plan); }
    bool Finish() override { return columns_.Finish(); }
    std::string Failure() const override { return columns_.Failure(); }
    bool Row(const LayoutPlan& plan, const RowCells& cells) override {
        if (!columns_.Row(plan, cells)) return false;
        order_.push_back(type_);
        return true;
    }
    bool DirectRow(ValueCodec& values, const unsigned char* record, bool& failed) override {
        if (!columns_.DirectRow(values, record, failed)) return false;
        order_.push_back(type_);
        return true;
    }

private:
    ColumnSink& columns_;
    std::vector<uint16_t>& order_;
    uint16_t type_;
};

// The record cursor over a data input from byte `start` (a record's start; in rdw-block
// a block's), the first record numbered `first`, skip and count applied over the whole
// run, stepped a chunk at a time into the column sinks of one layout or of each record
// type.
class CursorRun {
public:
    CursorRun(const PyLayout& layout, const py::object& data, const py::dict& given, uint64_t start,
              long long first, bool typed)
        : layout_(layout), options_(MakeOptions(given, &layout.Get())), input_(data, start) {
        std::string error;
        if (typed) {
            if (options_.recordTypes.empty() && options_.recordTypeDefault.empty()) {
                throw py::value_error("record types need record_type rules or record_type_default");
            }
            // The types and their columns, checked before any data is read.
            types_.reset(new RecordTypes());
            if (!types_->Prepare(layout.Get().Head(), options_, error)) {
                RaiseFailure(DataFailure{Error(error), std::string()}, input_);
            }
        } else if (!setup_.Prepare(layout.Get().Head(), layout.RecordLength(), options_, error)) {
            RaiseFailure(DataFailure{Error(error), std::string()}, input_);
        }
        const int length = typed ? types_->MaxLength() : layout.RecordLength();
        reader_.reset(new RecordReader(input_.File(), options_.records, static_cast<size_t>(length)));
        records_.reset(new FileRecords(*reader_, options_.skip, options_.count, first));
    }

    // Makes the cursor over `sinks` (one a type; null for a type no rule chooses).
    void Start(std::vector<RowSink*> sinks) {
        if (types_) {
            cursor_.reset(new RecordCursor(*types_, *records_, std::move(sinks), keeper_));
        } else {
            cursor_.reset(new RecordCursor(setup_, *records_, std::move(sinks), keeper_));
        }
    }

    // Steps until `records` records are read or `rows` rows given (-1: no limit) or the
    // run ends, without the interpreter lock; then raises what ended the run, if
    // anything did: a signal handler's exception (set in the interpreter by the sink
    // that heard it), the fault that stopped it, a fatal fault. The records read.
    long long Step(long long records, long long rows, const std::vector<ColumnSink*>& columns) {
        const RunReport& report = cursor_->Report();
        const long long before = report.read, given = report.written;
        {
            py::gil_scoped_release unlocked;
            // In runs of records, so that signals are heard also where records give no
            // rows (bad data left out, types not taken): the sinks hear them per row.
            while (!cursor_->Done()) {
                long long slice = kSlice;
                if (records >= 0) slice = std::min(slice, records - (report.read - before));
                if (slice <= 0 || (rows >= 0 && report.written - given >= rows)) break;
                cursor_->Run(slice, rows >= 0 ? rows - (report.written - given) : -1);
                if (interrupts_.StopNow()) break;
            }
            if (cursor_->Done()) cursor_->Finish();
        }
        if (interrupts_.Stopped()) throw py::error_already_set();
        for (const ColumnSink* sink : columns) {
            if (sink->Interrupted()) throw py::error_already_set();
        }
        if (keeper_.fatal_) RaiseFailure(*keeper_.fatal_, input_);
        if (cursor_->Report().stopped && keeper_.last_) RaiseFailure(*keeper_.last_, input_);
        return cursor_->Report().read - before;
    }

    bool Done() const { return cursor_->Done(); }
    py::dict Report() const { return ReportOf(cursor_->Report()); }
    DataSetup& Setup() { return setup_; }
    RecordTypes& Types() { return *types_; }
    const DataInput& Input() const { return input_; }
    const DataOptions& Options() const { return options_; }
    const PyLayout& Layout() const { return layout_; }

private:
    const PyLayout& layout_;
    DataOptions options_;
    DataInput input_;
    DataSetup setup_;
    std::unique_ptr<RecordTypes> types_;
    std::unique_ptr<RecordReader> reader_;
    std::unique_ptr<FileRecords> records_;
    static constexpr long long kSlice = 4096;
    FaultKeeper keeper_;
    std::unique_ptr<RecordCursor> cursor_;
    Interrupts interrupts_;
};

// The records of a data file of one layout chunk by chunk (read, iter_records, a Dask
// partition).
class Chunks {
public:
    // `columns`: the positions of the columns to give (None: all).
    Chunks(const PyLayout& layout, const py::object& data, const std::string& decimals, const py::dict& given,
           uint64_t start, long long first, const py::object& columns)
        : run_(layout, data, given, start, first, false) {
        sink_.reset(new ColumnSink(run_.Setup(), ParseDecimals(decimals)));
        if (!columns.is_none()) {
            wanted_.assign(sink_->Columns().size(), false);
            for (const py::handle& column : columns) {
                const long long at = column.cast<long long>();
                if (at < 0 || at >= static_cast<long long>(wanted_.size())) {
                    throw py::value_error("columns: no column " + std::to_string(at));
                }
                wanted_[static_cast<size_t>(at)] = true;
            }
            sink_->Keep(wanted_);
        }
        run_.Start({sink_.get()});
    }

    // The next `rows` rows at most; None at the end.
    py::object Next(long long rows) {
        if (rows <= 0) throw py::value_error("rows must be positive");
        if (run_.Done()) return py::none();
        sink_->Clear();
        sink_->Reserve(std::min(RowsAtMost(run_.Input(), run_.Layout().RecordLength(), run_.Options().count),
                                static_cast<size_t>(rows)));
        run_.Step(-1, rows, {sink_.get()});
        if (sink_->Rows() == 0 && run_.Done()) return py::none();
        return ToPython(*sink_, wanted_);
    }

    // Every row (the columns, also of no rows).
    py::list All() {
        sink_->Reserve(RowsAtMost(run_.Input(), run_.Layout().RecordLength(), run_.Options().count));
        run_.Step(-1, -1, {sink_.get()});
        return ToPython(*sink_, wanted_);
    }

    py::dict ReportDict() const { return run_.Report(); }

private:
    CursorRun run_;
    std::unique_ptr<ColumnSink> sink_;
    std::vector<bool> wanted_;
};

// quillbox.read: every record of the data into columns, with the run's report.
py::tuple Read(const PyLayout& layout, const py::object& data, const std::string& decimals, const py::dict& given,
               const py::object& columns) {
    Chunks chunks(layout, data, decimals, given, 0, 1, columns);
    py::list got = chunks.All();
    return py::make_tuple(got, chunks.ReportDict());
}

// The records of a file of several record types (record_type rules), a run of them at
// a time. Each call decodes the next `rows` records at most (bad ones included).
class TypeChunks {
public:
    // `columns`: {type name: positions of the columns to give} (None, or a type not
    // named: all of its columns).
    TypeChunks(const PyLayout& layout, const py::object& data, const std::string& decimals, const py::dict& given,
               uint64_t start, long long first, const py::object& columns)
        : run_(layout, data, given, start, first, true) {
        RecordTypes& types = run_.Types();
        const Decimals mode = ParseDecimals(decimals);
        std::vector<RowSink*> targets;
        py::dict chosen = columns.is_none() ? py::dict() : columns.cast<py::dict>();
        for (size_t t = 0; t < types.Count(); ++t) {
            columns_.emplace_back(new ColumnSink(types.Setup(t), mode));
            sinks_.emplace_back(new TypeSink(*columns_.back(), order_, static_cast<uint16_t>(t)));
            targets.push_back(types.Chosen(t) ? sinks_.back().get() : nullptr);
            watched_.push_back(columns_.back().get());
            wanted_.emplace_back();
            const py::str name(types.Name(t));
            if (!chosen.contains(name) || chosen[name].is_none()) continue;
            std::vector<bool>& wanted = wanted_.back();
            wanted.assign(columns_.back()->Columns().size(), false);
            for (const py::handle& column : chosen[name]) {
                const long long at = column.cast<long long>();
                if (at < 0 || at >= static_cast<long long>(wanted.size())) {
                    throw py::value_error("columns: " + types.Name(t) + " has no column " + std::to_string(at));
                }
                wanted[static_cast<size_t>(at)] = true;
            }
            // A type of which no column is wanted: its records are decoded and checked.
            if (wanted.empty()) continue;
            columns_.back()->Keep(wanted);
        }
        run_.Start(targets);
    }

    int MaxLength() { return run_.Types().MaxLength(); }

    // The names of the types a rule or the default chooses, in the copybook's order.
    py::list Names() {
        py::list names;
        RecordTypes& types = run_.Types();
        for (size_t t = 0; t < types.Count(); ++t) {
            if (types.Chosen(t)) names.append(types.Name(t));
        }
        return names;
    }

    // For each chosen type: (name, [whether a record may lack the column]), the columns
    // of OCCURS DEPENDING ON tables whose integers may be null.
    py::list Optional() {
        py::list out;
        RecordTypes& types = run_.Types();
        for (size_t t = 0; t < types.Count(); ++t) {
            if (!types.Chosen(t)) continue;
            py::list flags;
            for (bool optional : run_.Layout().Optional(types.Setup(t).Plan())) flags.append(optional);
            out.append(py::make_tuple(types.Name(t), flags));
        }
        return out;
    }

    // The next `rows` records at most: ([(name, type index, columns)], the type index of
    // each row in the order of the file); None at the end. The first call gives every
    // type's columns, rows or not (the tables' dtypes).
    py::object Next(long long rows) {
        if (rows <= 0) throw py::value_error("rows must be positive");
        if (run_.Done() && started_) return py::none();
        for (auto& sink : columns_) sink->Clear();
        order_.clear();
        const long long read = run_.Step(rows, -1, watched_);
        if (read == 0 && started_) return py::none();
        started_ = true;
        RecordTypes& types = run_.Types();
        py::list tables;
        for (size_t t = 0; t < types.Count(); ++t) {
            if (types.Chosen(t)) tables.append(py::make_tuple(types.Name(t), t, ToPython(*columns_[t], wanted_[t])));
        }
        py::array_t<uint16_t> order(static_cast<py::ssize_t>(order_.size()));
        std::copy(order_.begin(), order_.end(), order.mutable_data());
        return py::make_tuple(tables, order);
    }

    py::dict ReportDict() const { return run_.Report(); }

private:
    CursorRun run_;
    std::vector<std::unique_ptr<ColumnSink>> columns_;
    std::vector<std::unique_ptr<TypeSink>> sinks_;
    std::vector<ColumnSink*> watched_;
    std::vector<uint16_t> order_;
    std::vector<std::vector<bool>> wanted_;   // each type's columns to give (empty: all)
    bool started_ = false;
};

}  // namespace

void BindRead(py::module_& m) {
    m.def("read", &Read, py::arg("layout"), py::arg("data"), py::arg("decimals"), py::arg("options"),
          py::arg("columns") = py::none());
    py::class_<Chunks>(m, "Chunks")
        .def(py::init<const PyLayout&, const py::object&, const std::string&, const py::dict&, uint64_t, long long,
                      const py::object&>(),
             py::arg("layout"), py::arg("data"), py::arg("decimals"), py::arg("options"), py::arg("start"),
             py::arg("first"), py::arg("columns") = py::none(), py::keep_alive<1, 2>())
        .def("next", &Chunks::Next, py::arg("rows"))
        .def("report", &Chunks::ReportDict);
    py::class_<TypeChunks>(m, "TypeChunks")
        .def(py::init<const PyLayout&, const py::object&, const std::string&, const py::dict&, uint64_t, long long,
                      const py::object&>(),
             py::arg("layout"), py::arg("data"), py::arg("decimals"), py::arg("options"), py::arg("start"),
             py::arg("first"), py::arg("columns") = py::none(), py::keep_alive<1, 2>())
        .def("names", &TypeChunks::Names)
        .def("optional", &TypeChunks::Optional)
        .def_property_readonly("max_length", [](TypeChunks& chunks) { return chunks.MaxLength(); })
        .def("next", &TypeChunks::Next, py::arg("rows"))
        .def("report", &TypeChunks::ReportDict);
}

}  // namespace python
}  // namespace quillbox
