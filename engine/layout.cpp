// The record layout passes: arrays, item tree, usages, lengths, numbers and positions.
// PLACEHOLDER: every body below still has to be built.
#include "engine_internal.h"

void CopyAnalyzer::ExpandArrays(CopyItem* first) {
    RAISE(CException, "not built yet");
}

CopyItem* CopyAnalyzer::LinkSiblings(CopyItem* item) {
    RAISE(CException, "not built yet");
}

CopyItem* CopyAnalyzer::LinkGroups(CopyItem* item) {
    RAISE(CException, "not built yet");
}

void CopyAnalyzer::ComputeByteLengths(CopyItem* first) {
    RAISE(CException, "not built yet");
}

CopyItem* CopyAnalyzer::ComputeDimensions(CopyItem* item, int depth) {
    RAISE(CException, "not built yet");
}

CopyItem* CopyAnalyzer::NumberElements(CopyItem* item) {
    RAISE(CException, "not built yet");
}

void CopyAnalyzer::NumberAllElements() {
    RAISE(CException, "not built yet");
}

void CopyAnalyzer::NumberItems() {
    RAISE(CException, "not built yet");
}

int CopyAnalyzer::ComputeGroupLengths(CopyItem* item) {
    RAISE(CException, "not built yet");
}

void CopyAnalyzer::ComputeRecordLength() {
    RAISE(CException, "not built yet");
}

CopyItem* CopyAnalyzer::ComputePositions(CopyItem* item, int position) {
    RAISE(CException, "not built yet");
}
