// Loading and filtering of the copybook source, joining, and the scanning primitives.
// PLACEHOLDER: every body below still has to be built.
#include "engine_internal.h"

void CopyAnalyzer::LoadSource() {
    RAISE(CException, "not built yet");
}

void CopyAnalyzer::JoinEntries() {
    RAISE(CException, "not built yet");
}

char* CopyAnalyzer::SkipBlanks(char* position) {
    RAISE(CException, "not built yet");
}

char* CopyAnalyzer::SkipWord(char* position) {
    RAISE(CException, "not built yet");
}

char* CopyAnalyzer::CutWord(char* position, char* buffer, int capacity) {
    RAISE(CException, "not built yet");
}

char* CopyAnalyzer::NextLine(char* position) {
    RAISE(CException, "not built yet");
}
