// cobolrules: the COBOL-rules analysis of a copybook, beside the seed analysis of
// CopyAnalyzer (cobcpy.h).
//
// CobolAnalyzer accepts copybooks as real programs write them (fixed or free format,
// continuation lines, COPY ... REPLACING, levels 01-49, 66, 77 and 88, every clause of
// a data description entry in any order, every usage and PICTURE symbol) and lays
// them out as GnuCOBOL 3.1.2 does under `cobc -std=ibm -fbinary-size=2-4-8`, with two
// IBM rules where that compiler differs: COMP-5 of 1 to 4 digits takes 2 bytes, and
// pointers take 4 bytes unless CobolOptions::pointerSize says 8.
//
// The result is the same kind of CopyItem list as CopyAnalyzer's, so every writer of
// the list works on it unchanged. What is new is carried in the flag bits that the
// seed analysis leaves 0 (ITEM_CONDITION, ITEM_RENAMES, SIGN_SEPARATE, ITEM_SYNC, ...,
// declared in cobcpy.h) and in the item texts:
// - level 88: `picture` holds the VALUE literals as written (cut to 63 bytes),
//   `byteLength` 0, `position` that of its conditional variable; it follows its
//   variable in the list.
// - level 66: `picture` holds "RENAMES a THRU b" (or "RENAMES a"), `position` and
//   `byteLength` those of the renamed range; it counts in no group or record length.
// - level 77: an elementary record of its own.
// Each 01 and 77 record starts at position 1; items of a copybook written without an
// 01 (a fragment meant for inclusion under one) are laid out one after another as the
// contents of one record. The record length is that of the longest record.
//
// Every refusal is a CCobolException: the message, and separately the copybook file,
// its line and the text of the entry concerned (inside a COPY member: the member's
// file and line). Things accepted with a guess are collected as warnings.
#ifndef COBCPY_COBOLRULES_H
#define COBCPY_COBOLRULES_H

#include <string>
#include <utility>
#include <vector>

#include "cobcpy.h"

// Settings of one COBOL-rules analysis.
struct CobolOptions {
    // Folders searched for COPY members after the folder of the including file, in order.
    std::vector<std::string> includeDirs;
    // The folder searched first for the COPY members of the copybook itself, in place of
    // the folder its file is in (for a copybook read from standard input into a
    // temporary file, say, "." for the working folder); empty: the copybook file's own
    // folder. Members search their own folders.
    std::string copybookFolder;
    // Free-format source from the first line on (a `>>SOURCE FORMAT FREE` directive in
    // the text switches to it as well).
    bool freeFormat = false;
    // Text replacements applied to every word of the source and of its COPY members
    // before parsing, in order: first = text searched (e.g. ":TAG:"), second = its
    // replacement. A `:TAG:` placeholder without a replacement stays in the names.
    std::vector<std::pair<std::string, std::string>> replacements;
    // Bytes of a POINTER, PROCEDURE-POINTER or FUNCTION-POINTER item: 4 or 8.
    int pointerSize = 4;
    // Words of the copybook and the COPY members it brings in, in all, counted as they
    // come out of COPY and REPLACING (members copied again and again, and REPLACING that
    // puts several words for one, multiply); the COPY statement or the word going
    // beyond it is refused.
    std::size_t maxCopiedWords = 16 * 1024 * 1024;
};

// One value of a condition name (level 88), as written: a literal ('A', 10, ALL 'X',
// ZERO), a range when `thru` is not empty, or the value WHEN SET TO FALSE gives.
struct CobolConditionValue {
    std::string value;
    std::string thru;
    bool whenFalse = false;
};

// The items a level 66 item renames: the first and, with THRU, the last (null without).
struct CobolRenamesRange {
    const CopyItem* from = nullptr;
    const CopyItem* thru = nullptr;
};

// Something accepted with a guess, reported beside the result.
struct CobolWarning {
    std::string fileName;  // copybook file (the member's own file inside a COPY member)
    int line = 0;          // its line, from 1
    std::string message;   // Shift_JIS text
};

// A refusal of the COBOL-rules analysis. GetMessageText is the message alone;
// GetCopybookFile and GetCopybookLine tell where (an empty file name and line 0 when
// no place of the source is concerned), GetEntryText the entry's text (may be empty).
// GetLine and GetSourceFileName keep their CException meaning (the raising statement).
class CCobolException : public CException {
public:
    CCobolException(const char* message, const char* copybookFile, int copybookLine,
                    const char* entryText, int line, const char* sourceFileName);
    CCobolException(const CCobolException& other);
    ~CCobolException() override;
    virtual const char* GetCopybookFile();
    virtual int         GetCopybookLine();
    virtual const char* GetEntryText();
protected:
    char copybookFile[261];
    int copybookLine;
    char entryText[257];
};

struct CobolWork;

class CobolAnalyzer : public CopyAnalyzer {
public:
    explicit CobolAnalyzer(const char* fileName, const CobolOptions& options = CobolOptions());
    ~CobolAnalyzer() override;

    // The settings used by the next Analyze.
    virtual void                SetOptions(const CobolOptions& options);
    virtual const CobolOptions& Options() const;
    // Warnings of the last Analyze, in source order.
    virtual const std::vector<CobolWarning>& Warnings() const;
    // Name of the DEPENDING ON object of an item with ITEM_VARIABLE (any occurrence);
    // the empty text for every other item. Valid as long as the list is.
    virtual const char* DependingOn(const CopyItem* item) const;
    // The least count (OCCURS m TO n: m) of an item with ITEM_VARIABLE (any occurrence);
    // its most is the number of its occurrences. 0 for every other item.
    virtual int OccursMinimum(const CopyItem* item) const;
    // Every value of a condition name (an item with ITEM_CONDITION, any occurrence), in
    // order and uncut (the item's `picture` keeps their text cut to its size); empty for
    // every other item. Valid as long as the list is.
    virtual const std::vector<CobolConditionValue>& ConditionValues(const CopyItem* item) const;
    // The items a RENAMES item (ITEM_RENAMES) renames, as the analysis found them (the
    // item's `picture` keeps the clause's text cut to its size); both null for every
    // other item. Valid as long as the list is.
    virtual CobolRenamesRange RenamesRange(const CopyItem* item) const;
    // The files the last Analyze read: the copybook first, then each COPY member as it
    // was found (a member copied again is listed again). Empty before an analysis.
    const std::vector<std::string>& SourceFiles() const;

    // The steps of the analysis, in the order Analyze calls them.
    void      LoadSource() override;        // reads the file and its COPY members into words
    void      JoinEntries() override;       // splits the words into entries at their periods
    void      ParseEntries() override;      // one item per data description entry
    void      ExpandArrays(CopyItem* first) override;  // tree, layout and occurrences
    CopyItem* LinkSiblings(CopyItem* item) override;
    CopyItem* LinkGroups(CopyItem* item) override;
    void      ComputeByteLengths(CopyItem* first) override;
    CopyItem* ComputeDimensions(CopyItem* item, int depth) override;
    void      NumberAllElements() override;
    int       ComputeGroupLengths(CopyItem* item) override;
    void      ComputeRecordLength() override;
    CopyItem* ComputePositions(CopyItem* item, int position) override;
    void      FreeItems() override;
    CopyItem* Analyze() override;           // frees the list of an earlier analysis first

protected:
    CobolOptions options;
    std::vector<CobolWarning> warnings;
    CobolWork* work;
};

#endif
