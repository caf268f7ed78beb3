// The analysis object: construction, the item list primitives and the public analysis entry.
// PLACEHOLDER: every body below still has to be built.
#include "engine_internal.h"

CopyAnalyzer::CopyAnalyzer(const char* name) : recordLength(0), itemCount(0), fileName{}, sourceText(nullptr), head(nullptr), sourceFile(nullptr), stage(0) {
    (void)name;
}

CopyAnalyzer::~CopyAnalyzer() {}

CopyItem* CopyAnalyzer::InitItem(CopyItem* item) {
    RAISE(CException, "not built yet");
}

CopyItem* CopyAnalyzer::NewItem() {
    RAISE(CException, "not built yet");
}

void CopyAnalyzer::AppendItem(CopyItem* item) {
    RAISE(CException, "not built yet");
}

void CopyAnalyzer::InsertItemAfter(CopyItem* after, CopyItem* item) {
    RAISE(CException, "not built yet");
}

bool CopyAnalyzer::SetFileName(const char* name) {
    RAISE(CException, "not built yet");
}

const char* CopyAnalyzer::FileName() { return fileName; }

int CopyAnalyzer::GetFileName(char* buffer, int size) {
    RAISE(CException, "not built yet");
}

CopyItem* CopyAnalyzer::GetHead() { return head; }

void CopyAnalyzer::FreeItems() {
    RAISE(CException, "not built yet");
}

CopyItem* CopyAnalyzer::Analyze() {
    RAISE(CException, "not built yet");
}

unsigned CopyAnalyzer::GetRecordLength() { return recordLength; }

unsigned CopyAnalyzer::GetItemCount() { return itemCount; }

int CompareNoCase(const char* a, const char* b) {
    RAISE(CException, "not built yet");
}
