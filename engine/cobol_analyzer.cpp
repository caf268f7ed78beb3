// CobolAnalyzer: the COBOL-rules analysis object, and its exception class.
#include <cstring>

#include "cobol_internal.h"

namespace {

void CopyText(char* target, std::size_t capacity, const char* text) {
    if (text == nullptr) text = "";
    std::size_t length = std::strlen(text);
    if (length > capacity - 1) length = capacity - 1;
    std::memcpy(target, text, length);
    target[length] = '\0';
}

}  // namespace

CCobolException::CCobolException(const char* message, const char* copybookFile, int copybookLine,
                                 const char* entryText, int line, const char* sourceFileName)
    : CException(message, line, sourceFileName), copybookLine(copybookLine) {
    exceptionName = "CCobolException";
    CopyText(this->copybookFile, sizeof this->copybookFile, copybookFile);
    CopyText(this->entryText, sizeof this->entryText, entryText);
}

CCobolException::CCobolException(const CCobolException& other) : CException(other), copybookLine(other.copybookLine) {
    std::memcpy(copybookFile, other.copybookFile, sizeof copybookFile);
    std::memcpy(entryText, other.entryText, sizeof entryText);
}

CCobolException::~CCobolException() {}

const char* CCobolException::GetCopybookFile() { return copybookFile; }

int CCobolException::GetCopybookLine() { return copybookLine; }

const char* CCobolException::GetEntryText() { return entryText; }

CobolAnalyzer::CobolAnalyzer(const char* fileName, const CobolOptions& options)
    : CopyAnalyzer(fileName), options(options), work(nullptr) {}

CobolAnalyzer::~CobolAnalyzer() { delete work; }

void CobolAnalyzer::SetOptions(const CobolOptions& newOptions) { options = newOptions; }

const CobolOptions& CobolAnalyzer::Options() const { return options; }

const std::vector<CobolWarning>& CobolAnalyzer::Warnings() const { return warnings; }

const char* CobolAnalyzer::DependingOn(const CopyItem* item) const {
    if (work == nullptr) return "";
    auto found = work->depending.find(item);
    return found != work->depending.end() ? found->second.c_str() : "";
}

const std::vector<std::string>& CobolAnalyzer::SourceFiles() const {
    static const std::vector<std::string> none;
    return work != nullptr ? work->files : none;
}

int CobolAnalyzer::OccursMinimum(const CopyItem* item) const {
    if (work == nullptr) return 0;
    auto found = work->occursMinimum.find(item);
    return found != work->occursMinimum.end() ? found->second : 0;
}

const std::vector<CobolConditionValue>& CobolAnalyzer::ConditionValues(const CopyItem* item) const {
    static const std::vector<CobolConditionValue> kNone;
    if (work == nullptr) return kNone;
    auto found = work->conditions.find(item);
    return found != work->conditions.end() ? *found->second : kNone;
}

CobolRenamesRange CobolAnalyzer::RenamesRange(const CopyItem* item) const {
    if (work == nullptr) return CobolRenamesRange();
    auto found = work->renames.find(item);
    return found != work->renames.end() ? found->second : CobolRenamesRange();
}

void CobolAnalyzer::LoadSource() {
    warnings.clear();
    CobolLoadTokens(*work, fileName, options, warnings);
}

void CobolAnalyzer::JoinEntries() { CobolSplitEntries(*work, warnings); }

void CobolAnalyzer::FreeItems() {
    CopyAnalyzer::FreeItems();
    if (work != nullptr) {
        work->depending.clear();
        work->occursMinimum.clear();
        work->conditions.clear();
        work->conditionLists.clear();
        work->renames.clear();
    }
}

CopyItem* CobolAnalyzer::Analyze() {
    // Each analysis starts from nothing of the one before. Its list is rebuilt in program
    // order from the items parsed now, so items left from an earlier analysis are
    // released here rather than lost.
    if (head != nullptr) FreeItems();
    delete work;
    work = nullptr;
    work = new CobolWork();
    warnings.clear();
    CopyItem* result = CopyAnalyzer::Analyze();
    // The words and entries are needed no more; the DEPENDING ON names stay.
    work->entries.clear();
    work->tokens.clear();
    work->tokens.shrink_to_fit();
    work->remarks.clear();
    work->texts.clear();
    work->owned.clear();
    work->entries.shrink_to_fit();
    work->infos.clear();
    work->records.clear();
    return result;
}
