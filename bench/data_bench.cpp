// Data file decode and encode speed: a generated file of 200-byte records (display,
// signed display with GnuCOBOL's sign zones 0x3/0x7, packed, binary, COMP-5, national
// and text items; 26 numeric items) decoded by the data codec to CSV and to JSON Lines,
// beside a decoder and CSV writer hand-written for this one layout and a GnuCOBOL
// program writing the same CSV; and the CSV encoded back. Each reports MB/s of data file (CPU time) and the peak resident
// memory, which must not grow with the file.
//
// The data file is 100 MB; QB_DATA_BENCH_MB selects another size for a quick run. It,
// its CSV and the copybook are made in a temporary folder and removed at the end.
#include <benchmark/benchmark.h>

#include <iconv.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "bench_util.h"
#include "cobcpy.h"
#include "data_run.h"
#ifdef QB_HAVE_SQLITE
#include "sqlitesink.h"
#endif

using namespace quillbox;

namespace {

constexpr int kRecordLength = 200;

enum Kind { kDisplay, kSignedDisplay, kPacked, kBinary, kComp5, kText, kNational };

struct Field {
    const char* name;
    const char* picture;
    Kind kind;
    int length;
    int scale;
};

const Field kFields[] = {
    {"ID", "9(8)", kDisplay, 8, 0},
    {"NAME", "X(20)", kText, 20, 0},
    {"KANJI", "N(10)", kNational, 20, 0},
    {"D1", "9(6)", kDisplay, 6, 0}, {"D2", "9(6)", kDisplay, 6, 0}, {"D3", "9(6)", kDisplay, 6, 0},
    {"D4", "9(6)", kDisplay, 6, 0}, {"D5", "9(6)", kDisplay, 6, 0},
    {"S1", "S9(5)V99", kSignedDisplay, 7, 2}, {"S2", "S9(5)V99", kSignedDisplay, 7, 2},
    {"S3", "S9(5)V99", kSignedDisplay, 7, 2}, {"S4", "S9(5)V99", kSignedDisplay, 7, 2},
    {"S5", "S9(5)V99", kSignedDisplay, 7, 2},
    {"P1", "S9(7)V99 COMP-3", kPacked, 5, 2}, {"P2", "S9(7)V99 COMP-3", kPacked, 5, 2},
    {"P3", "S9(7)V99 COMP-3", kPacked, 5, 2}, {"P4", "S9(7)V99 COMP-3", kPacked, 5, 2},
    {"P5", "S9(7)V99 COMP-3", kPacked, 5, 2},
    {"B1", "S9(9) COMP", kBinary, 4, 0}, {"B2", "S9(9) COMP", kBinary, 4, 0}, {"B3", "S9(9) COMP", kBinary, 4, 0},
    {"B4", "S9(9) COMP", kBinary, 4, 0}, {"B5", "S9(9) COMP", kBinary, 4, 0},
    {"C1", "S9(4) COMP-5", kComp5, 2, 0}, {"C2", "S9(4) COMP-5", kComp5, 2, 0}, {"C3", "S9(4) COMP-5", kComp5, 2, 0},
    {"C4", "S9(4) COMP-5", kComp5, 2, 0}, {"C5", "S9(4) COMP-5", kComp5, 2, 0},
    {"NOTE", "X(32)", kText, 32, 0},
};

std::string folder, copybookPath, dataPath, csvPath;
std::string cobolProgramPath;   // the compiled GnuCOBOL program; empty when not made
long long dataBytes = 0;
CopyAnalyzer* analyzer = nullptr;

void Generate(std::FILE* file, long long records) {
    std::mt19937_64 random(20261209);
    std::vector<unsigned char> record(kRecordLength);
    const char* kanji = "\x93\xFA\x96\x7B\x8C\xEA\x81\x40\x81\x40\x81\x40\x81\x40\x81\x40\x81\x40\x81\x40";
    for (long long r = 0; r < records; ++r) {
        unsigned char* p = record.data();
        for (const Field& f : kFields) {
            uint64_t value = random();
            bool negative = (value >> 63) != 0;
            switch (f.kind) {
            case kDisplay:
            case kSignedDisplay: {
                uint64_t m = value % 10000000;
                for (int i = f.length - 1; i >= 0; --i, m /= 10) p[i] = static_cast<unsigned char>('0' + m % 10);
                if (f.kind == kSignedDisplay) p[f.length - 1] = static_cast<unsigned char>((p[f.length - 1] & 0x0F) | (negative ? 0x70 : 0x30));
                break;
            }
            case kPacked: {
                uint64_t m = value % 1000000000;
                p[f.length - 1] = static_cast<unsigned char>(((m % 10) << 4) | (negative ? 0x0D : 0x0C));
                m /= 10;
                for (int i = f.length - 2; i >= 0; --i, m /= 100) p[i] = static_cast<unsigned char>(((m / 10 % 10) << 4) | (m % 10));
                break;
            }
            case kBinary: {
                int32_t v = static_cast<int32_t>(static_cast<int64_t>(value % 1999999999) - 999999999);
                for (int i = 0; i < 4; ++i) p[3 - i] = static_cast<unsigned char>(static_cast<uint32_t>(v) >> (8 * i));
                break;
            }
            case kComp5: {
                int16_t v = static_cast<int16_t>(static_cast<int>(value % 19999) - 9999);
                p[0] = static_cast<unsigned char>(static_cast<uint16_t>(v));
                p[1] = static_cast<unsigned char>(static_cast<uint16_t>(v) >> 8);
                break;
            }
            case kText:
                std::memset(p, ' ', static_cast<size_t>(f.length));
                std::snprintf(reinterpret_cast<char*>(p), static_cast<size_t>(f.length), "Customer %llu",
                              static_cast<unsigned long long>(value % 100000));
                p[std::strlen(reinterpret_cast<char*>(p))] = ' ';
                break;
            case kNational:
                std::memcpy(p, kanji, 20);
                break;
            }
            p += f.length;
        }
        std::fwrite(record.data(), 1, kRecordLength, file);
    }
}

bool Prepare() {
    const long long megabytes = BenchMegabytes("QB_DATA_BENCH_MB");
    folder = MakeScratchFolder("quillbox_data_bench_");
    if (folder.empty()) return false;
    copybookPath = folder + "/DATAREC.cpy";
    dataPath = folder + "/DATAREC.dat";
    csvPath = folder + "/DATAREC.csv";
    std::string text = "       01 DATA-REC.\n";
    for (const Field& f : kFields) text += std::string("          05 ") + f.name + " PIC " + f.picture + ".\n";
    std::FILE* file = std::fopen(copybookPath.c_str(), "wb");
    if (file == nullptr) return false;
    std::fwrite(text.data(), 1, text.size(), file);
    std::fclose(file);
    long long records = megabytes * 1024 * 1024 / kRecordLength;
    dataBytes = records * kRecordLength;
    file = std::fopen(dataPath.c_str(), "wb");
    if (file == nullptr) return false;
    Generate(file, records);
    // Written out and read once, so that no benchmark meets the file's write-back or a
    // cold page cache.
    std::fflush(file);
    fsync(fileno(file));
    std::fclose(file);
    file = std::fopen(dataPath.c_str(), "rb");
    if (file == nullptr) return false;
    std::vector<char> block(1 << 20);
    while (std::fread(block.data(), 1, block.size(), file) == block.size()) {
    }
    std::fclose(file);
    analyzer = new CopyAnalyzer(copybookPath.c_str());
    analyzer->Analyze();
    return analyzer->GetRecordLength() == kRecordLength;
}

void Cleanup() {
    delete analyzer;
    if (!cobolProgramPath.empty()) std::remove(cobolProgramPath.c_str());
    std::remove(copybookPath.c_str());
    std::remove(dataPath.c_str());
    std::remove(csvPath.c_str());
    rmdir(folder.c_str());
}

void PeakMemory(benchmark::State& state) {
    struct rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    state.counters["peak_rss_MB"] = static_cast<double>(usage.ru_maxrss) / 1024.0;
}

bool SameFile(const std::string& a, const std::string& b) {
    std::FILE* fa = std::fopen(a.c_str(), "rb");
    std::FILE* fb = std::fopen(b.c_str(), "rb");
    bool same = fa != nullptr && fb != nullptr;
    std::vector<char> ba(1 << 16), bb(1 << 16);
    while (same) {
        size_t na = std::fread(ba.data(), 1, ba.size(), fa), nb = std::fread(bb.data(), 1, bb.size(), fb);
        same = na == nb && std::memcmp(ba.data(), bb.data(), na) == 0;
        if (na == 0) break;
    }
    if (fa) std::fclose(fa);
    if (fb) std::fclose(fb);
    return same;
}

int RunCodec(bool decode, const std::string& from, const std::string& to, TableFormat format = TableFormat::kCsv) {
    std::FILE* in = std::fopen(from.c_str(), "rb");
    std::FILE* out = std::fopen(to.c_str(), "wb");
    std::FILE* err = std::fopen("/dev/null", "wb");
    DataOptions options;
    options.format = format;
    options.signZonesGiven = true;   // GnuCOBOL's sign zones, so that its program reads the same file
    options.positiveZone = 0x30;
    options.negativeZone = 0x70;
    int status = decode ? DecodeData(analyzer->GetHead(), kRecordLength, options, in, out, err)
                        : EncodeData(analyzer->GetHead(), kRecordLength, options, in, out, err);
    std::fclose(in);
    std::fclose(out);
    std::fclose(err);
    return status;
}

void BM_DecodeToCsv(benchmark::State& state) {
    for (auto _ : state) {
        if (RunCodec(true, dataPath, "/dev/null") != kExitDone) state.SkipWithError("decode failed");
    }
    state.SetBytesProcessed(state.iterations() * dataBytes);
    PeakMemory(state);
}

// JSON Lines of the same records: groups as objects, every key written for every row.
void BM_DecodeToJsonl(benchmark::State& state) {
    for (auto _ : state) {
        if (RunCodec(true, dataPath, "/dev/null", TableFormat::kJsonl) != kExitDone) state.SkipWithError("decode failed");
    }
    state.SetBytesProcessed(state.iterations() * dataBytes);
    PeakMemory(state);
}

#ifdef QB_HAVE_SQLITE
// The same records into a new table of an SQLite database (a file of the temporary
// folder, made anew each time).
void BM_DecodeToSqlite(benchmark::State& state) {
    const std::string db = dataPath + ".db";
    for (auto _ : state) {
        std::remove(db.c_str());
        std::FILE* in = std::fopen(dataPath.c_str(), "rb");
        std::FILE* err = std::fopen("/dev/null", "wb");
        DataOptions options;
        options.format = TableFormat::kSqlite;
        options.signZonesGiven = true;
        options.positiveZone = 0x30;
        options.negativeZone = 0x70;
        quillbox::SqliteSink sink(db, "DATAREC", quillbox::IfExists::kFail);
        int status = DecodeData(analyzer->GetHead(), kRecordLength, options, in, sink, err);
        if (status != kExitDone || !sink.Commit()) state.SkipWithError("decode to SQLite failed");
        std::fclose(in);
        std::fclose(err);
    }
    std::remove(db.c_str());
    state.SetBytesProcessed(state.iterations() * dataBytes);
    PeakMemory(state);
}
#endif

// ---- The hand-written decoder and CSV writer for this one layout --------------------
//
// Written for speed as a programmer would for one layout: display digits copied as
// they are, packed nibbles through a table of digit pairs, binary numbers through a
// table of two-digit pairs, the national item through a Shift_JIS double-byte to UTF-8
// table made once, text checked for the characters CSV must quote, everything written
// straight into a large output buffer. It checks no byte: the codec's checks are its
// own cost. Its CSV is the codec's, byte for byte (checked once per run).

struct HandTables {
    char pairs[100][2];          // "00".."99"
    char packed[256][2];         // a packed byte's two digits
    char utf8[65536][4];         // Shift_JIS double-byte character: UTF-8 (length in utf8Length)
    unsigned char utf8Length[65536];
    bool quote[256];             // characters CSV quotes
};

const HandTables& Tables() {
    static const HandTables* tables = [] {
        HandTables* t = new HandTables();
        for (int i = 0; i < 100; ++i) {
            t->pairs[i][0] = static_cast<char>('0' + i / 10);
            t->pairs[i][1] = static_cast<char>('0' + i % 10);
        }
        for (int b = 0; b < 256; ++b) {
            t->packed[b][0] = static_cast<char>('0' + (b >> 4));
            t->packed[b][1] = static_cast<char>('0' + (b & 0x0F));
        }
        iconv_t cd = iconv_open("UTF-8", "CP932");
        for (int code = 0x8100; code < 0x10000; ++code) {
            char in[2] = {static_cast<char>(code >> 8), static_cast<char>(code & 0xFF)};
            char* from = in;
            char* to = t->utf8[code];
            size_t left = 2, room = 4;
            iconv(cd, nullptr, nullptr, nullptr, nullptr);
            if (iconv(cd, &from, &left, &to, &room) != static_cast<size_t>(-1) && left == 0) {
                t->utf8Length[code] = static_cast<unsigned char>(to - t->utf8[code]);
            }
        }
        iconv_close(cd);
        t->quote[static_cast<unsigned char>(',')] = t->quote[static_cast<unsigned char>('"')] = true;
        t->quote[static_cast<unsigned char>('\r')] = t->quote[static_cast<unsigned char>('\n')] = true;
        return t;
    }();
    return *tables;
}

// Copies `n` bytes (at most 32) as whole 16-byte moves: both sides have room past the end.
inline char* Put(char* out, const void* from, int n) {
    std::memcpy(out, from, 16);
    if (n > 16) std::memcpy(out + 16, static_cast<const char*>(from) + 16, 16);
    return out + n;
}

// `n` (at most 16) decimal digit characters (ASCII) with `scale` of them after the
// point: leading zeros dropped, a minus sign unless the value is zero.
inline char* PutDigits(char* out, const char* digits, int n, int scale, bool negative) {
    int i = 0;
    while (i < n - scale - 1 && digits[i] == '0') ++i;
    if (negative) {
        int k = i;
        while (k < n && digits[k] == '0') ++k;
        if (k < n) *out++ = '-';
    }
    out = Put(out, digits + i, n - scale - i);
    if (scale > 0) {
        *out++ = '.';
        out = Put(out, digits + n - scale, scale);
    }
    return out;
}

inline char* PutInteger(char* out, const HandTables& t, int64_t value) {
    uint64_t m = value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
    if (value < 0) *out++ = '-';
    char text[64];   // digits end at text + 40; the bytes after it let Put move 16 at once
    char* const end = text + 40;
    char* p = end;
    while (m >= 100) {
        p -= 2;
        std::memcpy(p, t.pairs[m % 100], 2);
        m /= 100;
    }
    if (m >= 10) {
        p -= 2;
        std::memcpy(p, t.pairs[m], 2);
    } else {
        *--p = static_cast<char>('0' + m);
    }
    return Put(out, p, static_cast<int>(end - p));
}

// The hand-written decoder from `from` into `to`; false when a file cannot be opened.
bool HandWrittenCsv(const std::string& from, const std::string& to) {
    const HandTables& t = Tables();
    std::FILE* in = std::fopen(from.c_str(), "rb");
    std::FILE* out = std::fopen(to.c_str(), "wb");
    if (in == nullptr || out == nullptr) {
        if (in) std::fclose(in);
        if (out) std::fclose(out);
        return false;
    }
    constexpr size_t kBlock = (1 << 20) / kRecordLength * kRecordLength;
    constexpr size_t kFlush = 1 << 20;
    std::unique_ptr<unsigned char[]> block(new unsigned char[kBlock + 32]);
    std::unique_ptr<char[]> buffer(new char[kFlush + 64 * 1024]);
    char* const start = buffer.get();
    char* o = start;
    for (const Field& f : kFields) {
        size_t n = std::strlen(f.name);
        std::memcpy(o, f.name, n);
        o += n;
        *o++ = ',';
    }
    o[-1] = '\n';
    size_t got;
    while ((got = std::fread(block.get(), 1, kBlock, in)) > 0) {
        for (size_t at = 0; at + kRecordLength <= got; at += kRecordLength) {
            const unsigned char* p = block.get() + at;
            for (const Field& f : kFields) {
                switch (f.kind) {
                case kDisplay:
                    o = PutDigits(o, reinterpret_cast<const char*>(p), f.length, f.scale, false);
                    break;
                case kSignedDisplay: {
                    char digits[32];
                    std::memcpy(digits, p, 16);
                    unsigned char last = p[f.length - 1];
                    digits[f.length - 1] = static_cast<char>('0' + (last & 0x0F));
                    o = PutDigits(o, digits, f.length, f.scale, (last >> 4) == 7);
                    break;
                }
                case kPacked: {
                    char digits[32];
                    for (int i = 0; i < f.length; ++i) std::memcpy(digits + 2 * i, t.packed[p[i]], 2);
                    o = PutDigits(o, digits, 2 * f.length - 1, f.scale, (p[f.length - 1] & 0x0F) == 0x0D);
                    break;
                }
                case kBinary: {
                    uint32_t v = (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
                    o = PutInteger(o, t, static_cast<int32_t>(v));
                    break;
                }
                case kComp5: {
                    uint16_t v = static_cast<uint16_t>(p[0] | (p[1] << 8));
                    o = PutInteger(o, t, static_cast<int16_t>(v));
                    break;
                }
                case kText: {
                    bool quote = false;
                    unsigned char high = 0;
                    for (int i = 0; i < f.length; ++i) {
                        quote |= t.quote[p[i]];
                        high |= p[i];
                    }
                    if (high >= 0x80) return false;   // Shift_JIS text: not met in this file
                    if (quote) {
                        *o++ = '"';
                        for (int i = 0; i < f.length; ++i) {
                            if (p[i] == '"') *o++ = '"';
                            *o++ = static_cast<char>(p[i]);
                        }
                        *o++ = '"';
                    } else {
                        o = Put(o, p, f.length);
                    }
                    break;
                }
                case kNational:
                    for (int i = 0; i < f.length; i += 2) {
                        unsigned code = (unsigned{p[i]} << 8) | p[i + 1];
                        std::memcpy(o, t.utf8[code], 4);
                        o += t.utf8Length[code];
                    }
                    break;
                }
                *o++ = ',';
                p += f.length;
            }
            o[-1] = '\n';
            if (static_cast<size_t>(o - start) >= kFlush) {
                std::fwrite(start, 1, static_cast<size_t>(o - start), out);
                o = start;
            }
        }
    }
    std::fwrite(start, 1, static_cast<size_t>(o - start), out);
    std::fclose(in);
    return std::fclose(out) == 0;
}

void BM_HandWrittenCsv(benchmark::State& state) {
    Tables();
    for (auto _ : state) {
        if (!HandWrittenCsv(dataPath, "/dev/null")) state.SkipWithError("the hand-written decoder failed");
    }
    state.SetBytesProcessed(state.iterations() * dataBytes);
    PeakMemory(state);
    // Its CSV must be the codec's.
    std::string handPath = folder + "/hand.csv";
    if (!HandWrittenCsv(dataPath, handPath) || RunCodec(true, dataPath, csvPath) != kExitDone ||
        !SameFile(handPath, csvPath)) {
        state.SkipWithError("the hand-written CSV differs from the codec's");
    }
    std::remove(handPath.c_str());
    std::remove(csvPath.c_str());
}

void BM_EncodeFromCsv(benchmark::State& state) {
    if (RunCodec(true, dataPath, csvPath) != kExitDone) {
        state.SkipWithError("decode failed");
        return;
    }
    for (auto _ : state) {
        if (RunCodec(false, csvPath, "/dev/null") != kExitDone) state.SkipWithError("encode failed");
    }
    state.SetBytesProcessed(state.iterations() * dataBytes);
    PeakMemory(state);
    std::remove(csvPath.c_str());
}

// ---- GnuCOBOL: a program reading the same file with the same copybook -------------
//
// Compiled with cobc -x at run time (skipped with a message when cobc is missing): it
// reads the records, moves every number to a numeric-edited item and strings the
// trimmed values, the text and the national item's bytes (COBOL has no Shift_JIS to
// UTF-8 conversion; they are copied as they are) into a CSV line. Its numbers are
// checked against the codec's CSV. Time and peak memory are those of the program's
// process (CPU time of the child).

bool HaveCobc() { return std::system("command -v cobc >/dev/null 2>&1") == 0; }

std::string CobolName(const Field& f) { return std::strcmp(f.name, "ID") == 0 ? "REC-ID" : f.name; }

std::string CobolProgram() {
    std::vector<std::string> lines = {
        "IDENTIFICATION DIVISION.", "PROGRAM-ID. DATACSV.", "ENVIRONMENT DIVISION.", "INPUT-OUTPUT SECTION.",
        "FILE-CONTROL.", "    SELECT IN-FILE ASSIGN TO IN-NAME", "        ORGANIZATION SEQUENTIAL.",
        "    SELECT OUT-FILE ASSIGN TO OUT-NAME", "        ORGANIZATION LINE SEQUENTIAL.", "DATA DIVISION.",
        "FILE SECTION.", "FD IN-FILE.", "COPY \"DATAREC.cpy\" REPLACING ==ID== BY ==REC-ID==.",
        "FD OUT-FILE RECORD VARYING 1 TO 600 DEPENDING ON WS-LEN.", "01 OUT-LINE PIC X(600).",
        "WORKING-STORAGE SECTION.", "01 IN-NAME PIC X(512).", "01 OUT-NAME PIC X(512).",
        "01 WS-EOF PIC X VALUE \"N\".", "01 WS-PTR PIC 9(4) COMP.", "01 WS-LEN PIC 9(4) COMP.",
        "01 WS-QUOTES PIC 9(4) COMP."};
    for (const Field& f : kFields) {
        const char* edited = nullptr;
        switch (f.kind) {
        case kDisplay: edited = f.length == 8 ? "Z(7)9" : "Z(5)9"; break;
        case kSignedDisplay: edited = "-(5)9.99"; break;
        case kPacked: edited = "-(7)9.99"; break;
        case kBinary: edited = "-(9)9"; break;
        case kComp5: edited = "-(4)9"; break;
        default: break;
        }
        if (edited != nullptr) lines.push_back(std::string("01 E-") + f.name + " PIC " + edited + ".");
    }
    lines.insert(lines.end(), {"PROCEDURE DIVISION.", "    ACCEPT IN-NAME FROM ARGUMENT-VALUE.",
                               "    ACCEPT OUT-NAME FROM ARGUMENT-VALUE.", "    OPEN INPUT IN-FILE.",
                               "    OPEN OUTPUT OUT-FILE.", "    MOVE 1 TO WS-PTR."});
    for (const Field& f : kFields) {
        lines.push_back(std::string("    STRING \"") + (&f == &kFields[0] ? "" : ",") + f.name + "\"");
        lines.push_back("        DELIMITED BY SIZE INTO OUT-LINE WITH POINTER WS-PTR.");
    }
    lines.insert(lines.end(), {"    COMPUTE WS-LEN = WS-PTR - 1.", "    WRITE OUT-LINE.",
                               "    PERFORM UNTIL WS-EOF = \"Y\"", "        READ IN-FILE",
                               "            AT END MOVE \"Y\" TO WS-EOF", "            NOT AT END PERFORM WRITE-ROW",
                               "        END-READ", "    END-PERFORM.", "    CLOSE IN-FILE OUT-FILE.",
                               "    STOP RUN.", "WRITE-ROW.", "    MOVE 1 TO WS-PTR."});
    int offset = 1;
    for (const Field& f : kFields) {
        const std::string name = CobolName(f);
        const std::string comma = &f == &kFields[sizeof kFields / sizeof kFields[0] - 1] ? "" : " \",\"";
        switch (f.kind) {
        case kText:
            lines.push_back("    MOVE 0 TO WS-QUOTES.");
            lines.push_back("    INSPECT " + name + " TALLYING WS-QUOTES FOR ALL \",\" ALL '\"'.");
            lines.push_back("    IF WS-QUOTES = 0");
            lines.push_back("        STRING " + name + comma);
            lines.push_back("            DELIMITED BY SIZE INTO OUT-LINE WITH POINTER WS-PTR");
            lines.push_back("    ELSE");
            lines.push_back("        STRING '\"' " + name + " '\"'" + comma);
            lines.push_back("            DELIMITED BY SIZE INTO OUT-LINE WITH POINTER WS-PTR");
            lines.push_back("    END-IF.");
            break;
        case kNational:
            lines.push_back("    STRING DATA-REC(" + std::to_string(offset) + ":" + std::to_string(f.length) + ")" + comma);
            lines.push_back("        DELIMITED BY SIZE INTO OUT-LINE WITH POINTER WS-PTR.");
            break;
        default:
            lines.push_back("    MOVE " + name + " TO E-" + f.name + ".");
            lines.push_back(std::string("    STRING FUNCTION TRIM(E-") + f.name + ")" + comma);
            lines.push_back("        DELIMITED BY SIZE INTO OUT-LINE WITH POINTER WS-PTR.");
            break;
        }
        offset += f.length;
    }
    lines.insert(lines.end(), {"    COMPUTE WS-LEN = WS-PTR - 1.", "    WRITE OUT-LINE."});
    std::string text;
    for (const std::string& line : lines) text += "       " + line + "\n";
    return text;
}

// Compiles the program once; a message when it cannot.
std::string MakeCobolProgram() {
    if (!cobolProgramPath.empty()) return std::string();
    if (!HaveCobc()) return "cobc (GnuCOBOL) is not installed: no GnuCOBOL program to compare with";
    std::string source = folder + "/DATACSV.cob", program = folder + "/datacsv", log = folder + "/cobc.log";
    std::FILE* file = std::fopen(source.c_str(), "wb");
    if (file == nullptr) return "cannot write the COBOL program";
    std::string text = CobolProgram();
    std::fwrite(text.data(), 1, text.size(), file);
    std::fclose(file);
    std::string command = "cobc -x -O2 -I '" + folder + "' -o '" + program + "' '" + source + "' >'" + log + "' 2>&1";
    bool built = std::system(command.c_str()) == 0;
    std::remove(source.c_str());
    if (!built) return "cobc refused the program (see " + log + ")";
    std::remove(log.c_str());
    cobolProgramPath = program;
    return std::string();
}

// The peak resident memory (kB) of the process `pid` so far; 0 when it cannot be read.
long PeakKilobytes(pid_t pid) {
    std::FILE* file = std::fopen(("/proc/" + std::to_string(static_cast<long>(pid)) + "/status").c_str(), "r");
    if (file == nullptr) return 0;
    char line[256];
    long peak = 0;
    while (std::fgets(line, sizeof line, file) != nullptr) {
        if (std::strncmp(line, "VmHWM:", 6) == 0) peak = std::atol(line + 6);
    }
    std::fclose(file);
    return peak;
}

// Runs the program from the data file into `to`; its CPU time into `usage`, its peak
// resident memory into `peak` (kB). The peak is read from /proc while it runs: the
// child's ru_maxrss would count this process's memory, which it had before exec.
bool RunCobol(const std::string& to, struct rusage& usage, long& peak) {
    pid_t child = fork();
    if (child < 0) return false;
    if (child == 0) {
        execl(cobolProgramPath.c_str(), cobolProgramPath.c_str(), dataPath.c_str(), to.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    peak = 0;
    for (;;) {
        pid_t done = wait4(child, &status, WNOHANG, &usage);
        if (done == child) break;
        if (done < 0) return false;
        long now = PeakKilobytes(child);
        if (now > peak) peak = now;
        usleep(2000);
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

double CpuSeconds(const struct rusage& usage) {
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

std::vector<std::string> SplitLine(const std::string& line) {
    std::vector<std::string> fields(1);
    for (char c : line) {
        if (c == ',') fields.emplace_back();
        else fields.back().push_back(c);
    }
    return fields;
}

// The numbers of the first `lines` lines of the GnuCOBOL program's CSV and the codec's;
// `difference` tells the first line that differs.
bool SameNumbers(const std::string& cobolCsv, const std::string& codecCsv, int lines, std::string& difference) {
    std::FILE* a = std::fopen(cobolCsv.c_str(), "rb");
    std::FILE* b = std::fopen(codecCsv.c_str(), "rb");
    bool same = a != nullptr && b != nullptr;
    char la[2048], lb[2048];
    for (int n = 0; same && n < lines; ++n) {
        if (std::fgets(la, sizeof la, a) == nullptr || std::fgets(lb, sizeof lb, b) == nullptr) {
            same = n > 1;
            break;
        }
        std::vector<std::string> fa = SplitLine(la), fb = SplitLine(lb);
        same = fa.size() == fb.size() && fa.size() == sizeof kFields / sizeof kFields[0];
        for (size_t i = 0; same && i < fa.size(); ++i) {
            if (kFields[i].kind != kText && kFields[i].kind != kNational) same = fa[i] == fb[i];
        }
        if (!same) difference = std::string(": GnuCOBOL ") + la + "codec " + lb;
    }
    if (a) std::fclose(a);
    if (b) std::fclose(b);
    return same;
}

void BM_GnuCobolCsv(benchmark::State& state) {
    std::string problem = MakeCobolProgram();
    if (!problem.empty()) {
        state.SkipWithError(problem.c_str());
        return;
    }
    long peak = 0;
    for (auto _ : state) {
        struct rusage usage;
        long used = 0;
        if (!RunCobol("/dev/null", usage, used)) state.SkipWithError("the GnuCOBOL program failed");
        state.SetIterationTime(CpuSeconds(usage));
        if (used > peak) peak = used;
    }
    state.SetBytesProcessed(state.iterations() * dataBytes);
    state.counters["peak_rss_MB"] = static_cast<double>(peak) / 1024.0;
    struct rusage ignored;
    long ignoredPeak;
    std::string cobolCsv = folder + "/cobol.csv", difference;
    if (!RunCobol(cobolCsv, ignored, ignoredPeak) || RunCodec(true, dataPath, csvPath) != kExitDone ||
        !SameNumbers(cobolCsv, csvPath, 2000, difference)) {
        state.SkipWithError(("the GnuCOBOL program's numbers differ from the codec's" + difference).c_str());
    }
    std::remove(cobolCsv.c_str());
    std::remove(csvPath.c_str());
}

BENCHMARK(BM_DecodeToCsv)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_HandWrittenCsv)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_DecodeToJsonl)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_EncodeFromCsv)->Unit(benchmark::kMillisecond)->Iterations(2);
#ifdef QB_HAVE_SQLITE
BENCHMARK(BM_DecodeToSqlite)->Unit(benchmark::kMillisecond)->Iterations(2);
#endif
BENCHMARK(BM_GnuCobolCsv)->Unit(benchmark::kMillisecond)->Iterations(1)->UseManualTime();

}  // namespace

int main(int argc, char** argv) { return RunBenchmarkProgram(argc, argv, "data_bench", Prepare, Cleanup); }
