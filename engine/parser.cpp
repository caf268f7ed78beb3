// The entry parser: a stage machine over the joined entries.
// PLACEHOLDER: every body below still has to be built.
#include "engine_internal.h"

void CopyAnalyzer::ParseEntries() {
    RAISE(CException, "not built yet");
}

bool CopyAnalyzer::ParseUsage(CopyItem* item, const char* word) {
    RAISE(CException, "not built yet");
}

void CopyAnalyzer::BeginEntry(CopyItem*& item) {
    RAISE(CException, "not built yet");
}

char* CopyAnalyzer::ParseLevel(CopyItem* item, char* position) {
    RAISE(CException, "not built yet");
}

char* CopyAnalyzer::ParseName(CopyItem* item, char* position) {
    RAISE(CException, "not built yet");
}

char* CopyAnalyzer::ParseClauses(CopyItem* item, char* position) {
    RAISE(CException, "not built yet");
}

char* CopyAnalyzer::ParseTrailingClauses(CopyItem* item, char* position) {
    RAISE(CException, "not built yet");
}
