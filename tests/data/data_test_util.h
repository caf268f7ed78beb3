// Helpers of the data codec tests: a copybook analysed from entries, and decode and
// encode runs over byte strings through scratch streams.
#ifndef DATA_TEST_UTIL_H
#define DATA_TEST_UTIL_H

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "cobcpy.h"
#include "cobolrules.h"
#include "data_run.h"

using quillbox::DataOptions;
using quillbox::FloatFormat;
using quillbox::OnError;
using quillbox::ParseSignZones;
using quillbox::RecordFormat;
using quillbox::TableFormat;
#include "test_util.h"

namespace datatest {

struct RunResult {
    int status = -1;
    std::string out;
    std::string err;
};

// The bytes of a stream from its start.
inline std::string ReadAll(std::FILE* file) {
    std::string text;
    std::rewind(file);
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, n);
    return text;
}

// A copybook of the given entries (one per line behind seven blank columns), analysed.
class Layout {
public:
    // `cobol`: analysed by the COBOL rules (CobolAnalyzer) instead of the seed analysis.
    explicit Layout(const std::vector<std::string>& entries, bool cobol = false)
        : analyzer_(cobol ? new CobolAnalyzer("") : new CopyAnalyzer("")) {
        static int counter = 0;
        path_ = qbtest::ProcessUniqueName("datatmp_", std::to_string(++counter) + ".cpy");
        std::string text;
        for (const std::string& entry : entries) text += "       " + entry + "\n";
        qbtest::WriteFileBytes(path_, text);
        analyzer_->SetFileName(path_.c_str());
        try {
            analyzer_->Analyze();
        } catch (...) {
            // A refused copybook throws out of the constructor: no destructor removes it.
            std::remove(path_.c_str());
            throw;
        }
    }
    ~Layout() { std::remove(path_.c_str()); }
    CopyItem* Head() { return analyzer_->GetHead(); }
    CopyAnalyzer& Analyzer() { return *analyzer_; }
    int Length() { return static_cast<int>(analyzer_->GetRecordLength()); }
    const std::string& Path() const { return path_; }

    RunResult Decode(const std::string& data, const DataOptions& options, const RunDisplay& display = RunDisplay()) {
        return Run(true, data, options, display);
    }
    RunResult Encode(const std::string& table, const DataOptions& options, const RunDisplay& display = RunDisplay()) {
        return Run(false, table, options, display);
    }

private:
    RunResult Run(bool decode, const std::string& input, const DataOptions& options, const RunDisplay& display) {
        RunResult result;
        std::FILE* in = std::tmpfile();
        std::FILE* out = std::tmpfile();
        std::FILE* err = std::tmpfile();
        std::fwrite(input.data(), 1, input.size(), in);
        std::rewind(in);
        // The layout's DEPENDING ON tables, as the command line gives them.
        DataOptions given = options;
        if (given.variableOccurs.empty()) given.variableOccurs = quillbox::VariableOccursOf(*analyzer_);
        result.status = decode ? DecodeData(Head(), Length(), given, in, out, err, display)
                               : EncodeData(Head(), Length(), given, in, out, err, display);
        result.out = ReadAll(out);
        result.err = ReadAll(err);
        std::fclose(in);
        std::fclose(out);
        std::fclose(err);
        return result;
    }
    std::unique_ptr<CopyAnalyzer> analyzer_;
    std::string path_;
};

inline std::string Bytes(std::initializer_list<int> values) {
    std::string bytes;
    for (int v : values) bytes.push_back(static_cast<char>(v));
    return bytes;
}

}  // namespace datatest

#endif
