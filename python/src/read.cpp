// quillbox._core.read, Chunks and TypeChunks: the records of a data file decoded into
// column buffers with the interpreter lock released, a whole file at once or a chunk at
// a time, of one record layout or of several record types.
#include <pybind11/numpy.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "columns.h"
#include "input.h"
#include "layout.h"
#include "rectypes.h"
#include "variableoccurs.h"

namespace quillbox {
namespace python {

namespace {

// Raises what ended a run, if anything did: a signal handler's exception (set in the
// interpreter by the sink that heard it), the fault that ended it, a sink's failure.
void Raise(const RunResult& result, const FaultKeeper& keeper, const ColumnSink& sink, const DataInput& input) {
    if (sink.Interrupted()) throw py::error_already_set();
    if (keeper.fatal_) RaiseFailure(*keeper.fatal_, input);
    if (result.stopped && keeper.last_) RaiseFailure(*keeper.last_, input);
    if (result.failed) RaiseFailure(DataFailure{Error(sink.Failure()), std::string()}, input);
}

// quillbox.read: every record of the data into columns.
py::list Read(const PyLayout& layout, const py::object& data, const std::string& decimals, const py::dict& given) {
    DataOptions options = MakeOptions(given, &layout.Get());
    Decimals mode = ParseDecimals(decimals);
    DataInput input(data, 0);
    DataSetup setup;
    std::string error;
    if (!setup.Prepare(layout.Get().Head(), layout.RecordLength(), options, error)) {
        RaiseFailure(DataFailure{Error(error), std::string()}, input);
    }
    ColumnSink sink(setup, mode);
    sink.Reserve(RowsAtMost(input, layout.RecordLength(), options.count));
    FaultKeeper keeper;
    RunResult result;
    {
        py::gil_scoped_release unlocked;
        RecordReader reader(input.File(), options.records, static_cast<size_t>(layout.RecordLength()));
        result = DecodeRecords(setup, reader, sink, keeper);
    }
    Raise(result, keeper, sink, input);
    return ToPython(sink);
}

// The records of a data file chunk by chunk (iter_records, a Dask partition): from
// byte `start` (a record's start; in rdw-block a block's), the first record numbered
// `first`, `count` records at most.
class Chunks {
public:
    Chunks(const PyLayout& layout, const py::object& data, const std::string& decimals, const py::dict& given,
           uint64_t start, long long first)
        : layout_(layout), options_(MakeOptions(given, &layout.Get())), input_(data, start), number_(first - 1) {
        std::string error;
        if (!setup_.Prepare(layout.Get().Head(), layout.RecordLength(), options_, error)) {
            RaiseFailure(DataFailure{Error(error), std::string()}, input_);
        }
        sink_.reset(new ColumnSink(setup_, ParseDecimals(decimals)));
        reader_.reset(new RecordReader(input_.File(), options_.records, static_cast<size_t>(layout.RecordLength())));
        PrepareReader(setup_, *reader_);
        decoder_.reset(new RowDecoder(setup_));
    }

    // The next `rows` rows at most; None at the end.
    py::object Next(long long rows) {
        if (done_) return py::none();
        sink_->Clear();
        if (rows <= 0) throw py::value_error("rows must be positive");
        sink_->Reserve(std::min(RowsAtMost(input_, layout_.RecordLength(), options_.count), static_cast<size_t>(rows)));
        RunResult result;
        {
            py::gil_scoped_release unlocked;
            Fill(rows, result);
        }
        Raise(result, keeper_, *sink_, input_);
        if (sink_->Rows() == 0 && done_) return py::none();
        return ToPython(*sink_);
    }

private:
    // The loop of DecodeRecords, resumable: skip and count applied over the whole run.
    void Fill(long long rows, RunResult& result) {
        std::string reason;
        if (!started_) {
            started_ = true;
            if (!reader_->Skip(options_.skip, reason)) {
                if (!reason.empty()) keeper_.Fault(Fatal(reason, 0));
                done_ = true;
                return;
            }
            number_ += options_.skip;
        }
        while (static_cast<long long>(sink_->Rows()) < rows) {
            if (options_.count >= 0 && taken_ >= options_.count) {
                done_ = true;
                return;
            }
            const unsigned char* data;
            size_t length;
            RecordReader::Status status = reader_->Next(data, length, reason);
            if (status == RecordReader::kEnd) {
                if (reader_->ReadFailed()) keeper_.Fault(Fatal("read error", 0));
                done_ = true;
                return;
            }
            ++number_;
            ++taken_;
            if (status == RecordReader::kFatal) {
                keeper_.Fault(Fatal(reason, number_));
                done_ = true;
                return;
            }
            if (status == RecordReader::kWrongLength) {
                RunFault fault;
                fault.kind = RunFault::kRecord;
                fault.record = number_;
                fault.reason = reason;
                keeper_.Fault(fault);
                if (options_.onError == OnError::kStop) {
                    result.stopped = done_ = true;
                    return;
                }
                continue;
            }
            bool directFailed = false;
            if (setup_.Variable() == nullptr && sink_->DirectRow(data, directFailed)) continue;
            RowDecoder::Outcome outcome = decoder_->DecodeRecord(number_, data, length, cells_, keeper_);
            if (outcome == RowDecoder::kStop) {
                result.stopped = done_ = true;
                return;
            }
            if (outcome == RowDecoder::kSkip) continue;
            if (!sink_->Row(setup_.Plan(), cells_)) {
                result.failed = done_ = true;
                return;
            }
        }
    }
    static RunFault Fatal(const std::string& reason, long long record) {
        RunFault fault;
        fault.kind = RunFault::kFatal;
        fault.record = record;
        fault.reason = reason;
        return fault;
    }

    const PyLayout& layout_;
    DataOptions options_;
    DataInput input_;
    DataSetup setup_;
    std::unique_ptr<ColumnSink> sink_;
    std::unique_ptr<RecordReader> reader_;
    std::unique_ptr<RowDecoder> decoder_;
    RowCells cells_;
    FaultKeeper keeper_;
    long long number_, taken_ = 0;
    bool started_ = false, done_ = false;
};

// ---- Record types

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
    bool DirectRow(const unsigned char* record, bool& failed) override {
        if (!columns_.DirectRow(record, failed)) return false;
        order_.push_back(type_);
        return true;
    }

private:
    ColumnSink& columns_;
    std::vector<uint16_t>& order_;
    uint16_t type_;
};

// The faults of a run that began at record `shift` + 1, numbered as in the whole file.
class ShiftedFaults : public RunObserver {
public:
    ShiftedFaults(FaultKeeper& keeper, long long shift) : keeper_(keeper), shift_(shift) {}
    void Fault(const RunFault& fault) override {
        RunFault shifted = fault;
        if (shifted.record > 0) shifted.record += shift_;
        keeper_.Fault(shifted);
    }

private:
    FaultKeeper& keeper_;
    long long shift_;
};

// The records of a file of several record types (record_type rules), a run of them at
// a time: from byte `start` (a record's start; in rdw-block a block's), the first
// record numbered `first`. Each call decodes the next `rows` records at most (bad ones
// included) through the codec's record-type decode.
class TypeChunks {
public:
    TypeChunks(const PyLayout& layout, const py::object& data, const std::string& decimals, const py::dict& given,
               uint64_t start, long long first)
        : layout_(layout), given_(given), mode_(ParseDecimals(decimals)), input_(data, start), number_(first - 1) {
        DataOptions options = MakeOptions(given, &layout.Get());
        if (options.recordTypes.empty() && options.recordTypeDefault.empty()) {
            throw py::value_error("record types need record_type rules or record_type_default");
        }
        skip_ = options.skip;
        left_ = options.count;
        records_ = options.records;
        // The types and their columns, checked before any data is read.
        std::string error;
        if (!types_.Prepare(layout.Get().Head(), options, error)) {
            RaiseFailure(DataFailure{Error(error), std::string()}, input_);
        }
        reader_.reset(new RecordReader(input_.File(), records_, static_cast<size_t>(types_.MaxLength())));
    }

    int MaxLength() const { return types_.MaxLength(); }

    // The names of the types a rule or the default chooses, in the copybook's order.
    py::list Names() {
        py::list names;
        for (size_t t = 0; t < types_.Count(); ++t) {
            if (types_.Chosen(t)) names.append(types_.Name(t));
        }
        return names;
    }

    // The next `rows` records at most: ([(name, columns)], the type index of each row in
    // the order of the file); None at the end.
    py::object Next(long long rows) {
        if (rows <= 0) throw py::value_error("rows must be positive");
        if (done_ && started_) return py::none();
        DataOptions options = MakeOptions(given_, &layout_.Get());
        options.skip = skip_;
        options.count = left_ >= 0 ? std::min(left_, rows) : rows;
        std::string error;
        // Prepared again for the run's skip and count (the codec's decode takes them from
        // its setups); the types and columns are those of the first preparing.
        if (!types_.Prepare(layout_.Get().Head(), options, error)) {
            RaiseFailure(DataFailure{Error(error), std::string()}, input_);
        }
        std::vector<std::unique_ptr<ColumnSink>> columns;
        std::vector<std::unique_ptr<TypeSink>> sinks;
        std::vector<RowSink*> targets;
        std::vector<uint16_t> order;
        for (size_t t = 0; t < types_.Count(); ++t) {
            columns.emplace_back(new ColumnSink(types_.Setup(t), mode_));
            sinks.emplace_back(new TypeSink(*columns.back(), order, static_cast<uint16_t>(t)));
            targets.push_back(types_.Chosen(t) ? sinks.back().get() : nullptr);
        }
        FaultKeeper keeper;
        ShiftedFaults shifted(keeper, number_);
        RunResult result;
        {
            py::gil_scoped_release unlocked;
            result = DecodeRecordTypes(types_, *reader_, targets, shifted);
        }
        for (const auto& sink : columns) {
            if (sink->Interrupted()) throw py::error_already_set();
        }
        if (keeper.fatal_) RaiseFailure(*keeper.fatal_, input_);
        if (result.stopped && keeper.last_) RaiseFailure(*keeper.last_, input_);
        if (result.failed) RaiseFailure(DataFailure{Error("cannot keep the rows"), std::string()}, input_);
        const long long passed = skip_ + result.read;
        number_ += passed;
        skip_ = 0;
        if (left_ >= 0) left_ -= result.read;
        if (result.read < options.count || left_ == 0) done_ = true;
        // The first call gives every type's columns, rows or not (the tables' dtypes).
        if (result.read == 0 && started_) return py::none();
        started_ = true;
        py::list tables;
        for (size_t t = 0; t < types_.Count(); ++t) {
            if (types_.Chosen(t)) tables.append(py::make_tuple(types_.Name(t), t, ToPython(*columns[t])));
        }
        py::array_t<uint16_t> types(static_cast<py::ssize_t>(order.size()));
        std::copy(order.begin(), order.end(), types.mutable_data());
        return py::make_tuple(tables, types);
    }

private:
    const PyLayout& layout_;
    py::dict given_;
    Decimals mode_;
    DataInput input_;
    RecordTypes types_;
    std::unique_ptr<RecordReader> reader_;
    RecordFormat records_;
    long long number_, skip_ = 0, left_ = -1;
    bool done_ = false, started_ = false;
};

}  // namespace

void BindRead(py::module_& m) {
    m.def("read", &Read, py::arg("layout"), py::arg("data"), py::arg("decimals"), py::arg("options"));
    py::class_<Chunks>(m, "Chunks")
        .def(py::init<const PyLayout&, const py::object&, const std::string&, const py::dict&, uint64_t, long long>(),
             py::arg("layout"), py::arg("data"), py::arg("decimals"), py::arg("options"), py::arg("start"),
             py::arg("first"), py::keep_alive<1, 2>())
        .def("next", &Chunks::Next, py::arg("rows"));
    py::class_<TypeChunks>(m, "TypeChunks")
        .def(py::init<const PyLayout&, const py::object&, const std::string&, const py::dict&, uint64_t, long long>(),
             py::arg("layout"), py::arg("data"), py::arg("decimals"), py::arg("options"), py::arg("start"),
             py::arg("first"), py::keep_alive<1, 2>())
        .def("names", &TypeChunks::Names)
        .def_property_readonly("max_length", [](const TypeChunks& chunks) { return chunks.MaxLength(); })
        .def("next", &TypeChunks::Next, py::arg("rows"));
}

}  // namespace python
}  // namespace quillbox
