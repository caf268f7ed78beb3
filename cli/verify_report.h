// What a run met, kept for a report: bad counts per item and per kind of reason, the
// first bad places, and the bad records' bytes written to a file of rejects in the
// input's record format, to be mended and run again.
#ifndef QUILLBOX_CLI_VERIFY_REPORT_H
#define QUILLBOX_CLI_VERIFY_REPORT_H

#include <chrono>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "datacodec.h"

class RunTally : public quillbox::RunObserver {
public:
    // `rejects`: where the bad records go (null: nowhere), in `options`' record format.
    RunTally(const quillbox::DataOptions& options, std::FILE* rejects);
    void Fault(const quillbox::RunFault& fault) override;
    void Rejected(long long record, const unsigned char* data, size_t length) override;
    // Writes what is buffered of the rejects; false when that file failed.
    bool FinishRejects();
    long long RejectsWritten() const;
    // The report (JSON, UTF-8, one object): `result` of the run over `data` laid out by
    // `copybook`.
    std::string Report(const quillbox::RunResult& result, const std::string& copybook, const std::string& data,
                       uint64_t bytes) const;

    // The kind of a reason: its numbers, bytes and quoted values left out, so that
    // "display byte 0x20 is not a digit" and "... 0x41 ..." count as one.
    static std::string ReasonKind(const std::string& reason);

private:
    static constexpr size_t kFirstShown = 100;
    struct Place {
        long long record;
        std::string item;
        int offset;
        std::string reason;
        quillbox::FaultCode code;
    };
    std::map<std::string, long long> byItem_, byReason_;
    std::vector<Place> first_;
    long long faults_ = 0;
    std::unique_ptr<quillbox::RecordWriter> rejects_;
    bool rejectsFailed_ = false;
    std::chrono::steady_clock::time_point start_;
};

#endif
