// CopyRecord: reads and writes the records of a data file laid out by a copybook.
//
// The record object analyses its copybook with an analysis object of its own, opens
// the data file in one of seven modes, keeps one record in a buffer, finds items by
// serial number, by dotted qualified name ("REC.GROUP.2.ITEM", occurrence numbers
// as segments) or by a COBOL qualified name ("ITEM OF GROUP (2)") and converts item values between the buffer and program values:
// display, signed display (sign in the last byte's zone), packed decimal, binary
// (most significant byte first), COMP-5 (least significant byte first), national
// (two bytes per character) and bit forms.
//
// Every value operation exists in three forms: on an item, on a serial number and on
// a qualified name. The keyed forms raise CException when the lookup finds nothing.
//
// Value operations work on the record buffer, which exists while a data file is
// open (Open to Close). An item must lie inside the record. The buffer never moves
// while the file is open: SetCopybook keeps it, so an item of a longer layout that
// lies beyond it is refused ("項目がレコードの範囲外です。") until the next Open.
//
// A stream opened for reading and writing (modes 2, 4, 6) may switch between
// ReadRecord and WriteRecord directly; any other repositioning is the caller's,
// through DataFile().
#ifndef COBCPY_COPYRECORD_H
#define COBCPY_COPYRECORD_H

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "cobcpy.h"

struct CopyRecordNameCache;
struct CobolOptions;
class CobolAnalyzer;

class CopyRecord {
public:
    // Analyses the copybook at once when its name is not empty; an analysis failure
    // leaves the constructor by its exception.
    CopyRecord(const char* dataFileName, const char* copybookFileName);
    // The same over the COBOL-rules analysis (CobolAnalyzer, cobolrules.h) with
    // `options`: real copybooks as written, with SIGN ... SEPARATE items (their sign
    // character '+' or '-' before or after the digits), SIGN LEADING items (the sign in
    // the first digit's zone) and POINTER and INDEX items (binary of their length, least
    // significant byte first as GnuCOBOL stores them, unsigned). Analyzer() then gives the CobolAnalyzer.
    CopyRecord(const char* dataFileName, const char* copybookFileName, const CobolOptions& options);
    CopyRecord(const CopyRecord&) = delete;
    CopyRecord& operator=(const CopyRecord&) = delete;
    virtual ~CopyRecord();
    virtual CopyAnalyzer* Analyzer();
    virtual void        SetNationalSpace(const char* twoByteCharacter);
    virtual void        SetPositiveZone(unsigned short zone);
    virtual void        SetNegativeZone(unsigned short zone);
    virtual bool        SetDataFileName(const char* name);
    virtual const char* DataFileName();
    virtual int         GetDataFileName(char* buffer, int size);
    virtual bool        SetCopybook(const char* name);
    virtual const char* CopybookFileName();
    virtual int         GetCopybookFileName(char* buffer, int size);
    virtual CopyItem*   GetHead();
    virtual CopyItem*   FindItemBySerial(int serialNo);
    virtual CopyItem*   FindItemByName(const char* key);
    // The item a qualified name names as COBOL programs write it ("D OF B (2)",
    // "D IN B(2) OF R", "R.B(2).D"; qualifiedname.h), or null; the second form tells
    // why it gives null. Unlike FindItemByName's path, a qualification that is unique
    // need not name every group, and an ambiguous name finds nothing.
    CopyItem*           FindItemByQualifiedName(const char* key);
    CopyItem*           FindItemByQualifiedName(const char* key, std::string& reason);

    virtual char*   GetString(CopyItem* item, char* buffer, int size);
    virtual char*   GetString(int serialNo, char* buffer, int size);
    virtual char*   GetString(const char* key, char* buffer, int size);
    virtual bool    SetString(CopyItem* item, const char* text, int length = 0);
    virtual bool    SetString(int serialNo, const char* text, int length = 0);
    virtual bool    SetString(const char* key, const char* text, int length = 0);
    virtual int8_t  GetInt8(CopyItem* item, bool dropDecimals = false);
    virtual int8_t  GetInt8(int serialNo, bool dropDecimals = false);
    virtual int8_t  GetInt8(const char* key, bool dropDecimals = false);
    virtual int16_t GetInt16(CopyItem* item, bool dropDecimals = false);
    virtual int16_t GetInt16(int serialNo, bool dropDecimals = false);
    virtual int16_t GetInt16(const char* key, bool dropDecimals = false);
    virtual int32_t GetInt32(CopyItem* item, bool dropDecimals = false);
    virtual int32_t GetInt32(int serialNo, bool dropDecimals = false);
    virtual int32_t GetInt32(const char* key, bool dropDecimals = false);
    virtual int64_t GetInt64(CopyItem* item, bool dropDecimals = false);
    virtual int64_t GetInt64(int serialNo, bool dropDecimals = false);
    virtual int64_t GetInt64(const char* key, bool dropDecimals = false);
    virtual bool    SetInt8(CopyItem* item, int8_t value, bool dropDecimals = false);
    virtual bool    SetInt8(int serialNo, int8_t value, bool dropDecimals = false);
    virtual bool    SetInt8(const char* key, int8_t value, bool dropDecimals = false);
    virtual bool    SetInt16(CopyItem* item, int16_t value, bool dropDecimals = false);
    virtual bool    SetInt16(int serialNo, int16_t value, bool dropDecimals = false);
    virtual bool    SetInt16(const char* key, int16_t value, bool dropDecimals = false);
    virtual bool    SetInt32(CopyItem* item, int32_t value, bool dropDecimals = false);
    virtual bool    SetInt32(int serialNo, int32_t value, bool dropDecimals = false);
    virtual bool    SetInt32(const char* key, int32_t value, bool dropDecimals = false);
    virtual bool    SetInt64(CopyItem* item, int64_t value, bool dropDecimals = false);
    virtual bool    SetInt64(int serialNo, int64_t value, bool dropDecimals = false);
    virtual bool    SetInt64(const char* key, int64_t value, bool dropDecimals = false);
    virtual double  GetDouble(CopyItem* item);
    virtual double  GetDouble(int serialNo);
    virtual double  GetDouble(const char* key);
    virtual bool    SetDouble(CopyItem* item, double value);
    virtual bool    SetDouble(int serialNo, double value);
    virtual bool    SetDouble(const char* key, double value);
    virtual char*   GetBytes(CopyItem* item, char* buffer, int size);
    virtual char*   GetBytes(int serialNo, char* buffer, int size);
    virtual char*   GetBytes(const char* key, char* buffer, int size);
    virtual bool    SetBits(CopyItem* item, const char* text, int length);
    virtual bool    SetBits(int serialNo, const char* text, int length);
    virtual bool    SetBits(const char* key, const char* text, int length);

    virtual bool    Open(int mode);
    virtual bool    Close();
    virtual bool    ReadRecord();
    virtual bool    ReadRecordBytes();
    virtual bool    WriteRecord();
    virtual bool    ReadLine();
    virtual char*   RecordBuffer();
    virtual FILE*   DataFile();

protected:
    CopyAnalyzer copybookAnalyzer;       // analyses the copybook; its list describes the record
    FILE* dataFile;                      // the data file while it is open
    char dataFileName[257];              // always terminated
    char* record;                        // recordLength + 10 bytes while a file is open
    const char* nationalSpace;           // filler of national items (2 bytes)
    int32_t recordLength;                // taken from the analyzer after each analysis
    uint16_t positiveZone;               // zone of the last byte of a positive signed display number
    uint16_t negativeZone;               // zone of the last byte of a negative signed display number

private:
    // Bookkeeping of this implementation beside the fields above.
    int32_t recordCapacity;              // bytes allocated for `record`
    int32_t bufferLimit;                 // 0, or the bytes `record` holds when SetCopybook
                                         // gave a longer record while a file is open
    int openMode;                        // mode of the open data file, 0 when closed
    int lastAccess;                      // 1 after a read, 2 after a write, 0 otherwise
    char nationalSpaceBytes[2];          // own copy of the national filler
    CopyRecordNameCache* nameCache;      // qualified names already looked up; emptied by SetCopybook
    std::unique_ptr<CobolAnalyzer> cobolAnalyzer;  // the COBOL-rules analysis, when chosen
    CopyAnalyzer* analysis;              // the analyzer in use: copybookAnalyzer or *cobolAnalyzer

    unsigned char* ItemBytes(CopyItem* item, const char* missingMessage);
    uint64_t DecodeInteger(CopyItem* item, bool signByNegativeZone);
    bool StoreInteger(CopyItem* item, int64_t value, bool dropDecimals);
    bool StoreDigits(CopyItem* item, uint64_t kept, bool negative, bool cut);
    bool RecordFits() const;
    size_t ReadBlock();
    void PrepareAccess(int direction);
    CopyItem* WalkName(const char* key, size_t length);
};

#endif
