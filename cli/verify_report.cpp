// The tally of a run and its JSON report.
#include "verify_report.h"

#include <cctype>

#include <nlohmann/json.hpp>

#include "layoutplan.h"
#include "records.h"

using namespace quillbox;

RunTally::RunTally(const DataOptions& options, std::FILE* rejects) : start_(std::chrono::steady_clock::now()) {
    if (rejects != nullptr) rejects_.reset(new RecordWriter(rejects, options.records, options.blockSize, options.crlf));
}

std::string RunTally::ReasonKind(const std::string& reason) {
    std::string kind;
    for (size_t i = 0; i < reason.size(); ++i) {
        char c = reason[i];
        if (c == '"') {
            // A quoted value: its text goes.
            size_t end = reason.find('"', i + 1);
            kind += "\"...\"";
            if (end == std::string::npos) break;
            i = end;
        } else if (c == '0' && i + 1 < reason.size() && (reason[i + 1] == 'x' || reason[i + 1] == 'X')) {
            kind += "0x..";
            i += 2;
            while (i < reason.size() && std::isxdigit(static_cast<unsigned char>(reason[i]))) ++i;
            --i;
        } else if (std::isdigit(static_cast<unsigned char>(c))) {
            kind += 'N';
            while (i + 1 < reason.size() && std::isdigit(static_cast<unsigned char>(reason[i + 1]))) ++i;
        } else {
            kind.push_back(c);
        }
    }
    return kind;
}

void RunTally::Fault(const RunFault& fault) {
    if (fault.kind == RunFault::kFatal || fault.kind == RunFault::kView) return;
    ++faults_;
    std::string item = fault.field != nullptr ? fault.field->column : std::string("(record)");
    ++byItem_[item];
    // Faults of one kind count together (a packed nibble of any value); a fault of no
    // known kind by its reason, its numbers and values left out.
    ++byReason_[fault.code != FaultCode::kOther ? std::string(FaultCodeName(fault.code)) : ReasonKind(fault.reason)];
    if (first_.size() < kFirstShown) {
        first_.push_back(Place{fault.record, item, fault.field != nullptr ? fault.offset : -1, fault.reason, fault.code});
    }
}

void RunTally::Rejected(long long, const unsigned char* data, size_t length) {
    if (rejects_ && !rejectsFailed_ && !rejects_->Write(data, length)) rejectsFailed_ = true;
}

bool RunTally::FinishRejects() {
    if (!rejects_) return true;
    if (!rejects_->Finish()) rejectsFailed_ = true;
    return !rejectsFailed_;
}

long long RunTally::RejectsWritten() const { return rejects_ ? rejects_->RecordsWritten() : 0; }

std::string RunTally::Report(const RunResult& result, const std::string& copybook, const std::string& data,
                             uint64_t bytes) const {
    using nlohmann::ordered_json;
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    ordered_json report;
    report["version"] = 1;
    report["copybook"] = copybook;
    report["data"] = data;
    report["complete"] = !result.failed && !result.stopped;
    report["records"] = {{"read", result.read}, {"good", result.read - result.bad}, {"bad", result.bad}};
    report["faults"] = faults_;
    ordered_json items = ordered_json::object();
    for (const auto& entry : byItem_) items[entry.first] = entry.second;
    report["badByItem"] = items;
    ordered_json reasons = ordered_json::object();
    for (const auto& entry : byReason_) reasons[entry.first] = entry.second;
    report["badByReason"] = reasons;
    ordered_json first = ordered_json::array();
    for (const Place& place : first_) {
        ordered_json one = {{"record", place.record}, {"item", place.item}};
        if (place.offset >= 0) one["offset"] = place.offset;
        one["code"] = FaultCodeName(place.code);
        one["reason"] = place.reason;
        first.push_back(one);
    }
    report["firstBad"] = first;
    if (rejects_) report["rejectsWritten"] = RejectsWritten();
    report["bytes"] = bytes;
    report["seconds"] = seconds;
    return report.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}
