// copyplaces: the default analysis of CopyAnalyzer (cobcpy.h), step for step and byte
// for byte, that also keeps where each entry starts in the copybook file. A caller can
// then name the line of a refusal, tell whether the COBOL rules (cobolrules.h) read the
// entry refused, and point out clauses the default analysis passes over although they
// change a COBOL layout.
#ifndef COBCPY_COPYPLACES_H
#define COBCPY_COPYPLACES_H

#include <cstddef>
#include <utility>
#include <vector>

#include "cobcpy.h"

// A line kept by LoadSource: where it starts in the loaded text (JoinEntries moves no
// byte, so also in the joined text) and its line number in the file, from 1.
struct SourceLineStart {
    std::size_t offset;
    int line;
};

// A clause the default analysis passes over although it changes the layout COBOL gives
// the record.
struct CopySourceNote {
    enum Kind { SignSeparate, Sync };
    Kind kind;
    int line;  // the line of the copybook file where its entry starts, from 1
};

class PlacedCopyAnalyzer : public CopyAnalyzer {
public:
    explicit PlacedCopyAnalyzer(const char* fileName);

    // After an Analyze that raised: the line of the copybook file (from 1) where the entry
    // starts that the analysis stopped at, for a refusal of the entry itself or of the
    // layout it makes (an array that passes the item limit, a record too long); 0 when
    // no entry is concerned (the file could not be read, it holds no entry).
    int FailedLine() const { return failedLine; }
    // Whether that entry holds what only the COBOL rules read: a level 66, 77 or 88, a
    // clause such as VALUE, SIGN ... SEPARATE, SYNC, OCCURS ... DEPENDING ON, a COPY
    // statement, a PICTURE the default analysis does not take.
    bool FailedEntryReadByCobolRules() const { return failedEntryReadByCobolRules; }
    // After an Analyze that succeeded: SIGN ... SEPARATE and SYNC clauses, in source order.
    const std::vector<CopySourceNote>& Notes() const { return notes; }

    CopyItem* Analyze() override;
    void      LoadSource() override;
    void      ParseEntries() override;
    char*     ParseLevel(CopyItem* item, char* position) override;
    void      ExpandArrays(CopyItem* first) override;
    void      ComputeByteLengths(CopyItem* first) override;
    int       ComputeGroupLengths(CopyItem* item) override;
    CopyItem* ComputePositions(CopyItem* item, int position) override;

private:
    enum class Pass { Parse, Arrays, ByteLengths, Lengths };
    int LineAt(const char* position) const;
    void PlaceLayoutFailure(bool itemLimit);
    void NoteClauses();

    std::vector<SourceLineStart> lineStarts;
    std::vector<std::pair<const CopyItem*, int>> itemLines;  // each item as written, with its line
    std::vector<CopySourceNote> notes;
    const char* entryStart = nullptr;
    Pass pass = Pass::Parse;
    int failedLine = 0;
    bool failedEntryReadByCobolRules = false;
};

#endif
