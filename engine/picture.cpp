// Picture and usage analysis: category, digits and scale of a PICTURE, and the end-of-entry checks.
// PLACEHOLDER: every body below still has to be built.
#include "engine_internal.h"

char* CopyAnalyzer::EndEntry(CopyItem* item, char* position) {
    RAISE(CException, "not built yet");
}

int CopyAnalyzer::AnalyzeSignedPicture(const char* picture) {
    RAISE(CException, "not built yet");
}

int CopyAnalyzer::AnalyzeNumericPicture(const char* picture) {
    RAISE(CException, "not built yet");
}

int CopyAnalyzer::AnalyzeNationalPicture(const char* picture) {
    RAISE(CException, "not built yet");
}

int CopyAnalyzer::AnalyzeAlphanumericPicture(const char* picture) {
    RAISE(CException, "not built yet");
}

int CopyAnalyzer::AnalyzeBooleanPicture(const char* picture) {
    RAISE(CException, "not built yet");
}
