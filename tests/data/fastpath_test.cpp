// The codec's fast paths against what they stand in for: the Shift_JIS tables against
// iconv itself, the decimal text written in place against its plain layout, decoding
// straight into a row against the string path (which names bad data), numbers stored
// by encode against the record object's setters, and the row writers against the
// cell-by-cell CSV and JSON writers; CSV rows lent from the reader's buffer against
// the rows it copies.
#include <algorithm>
#include <gtest/gtest.h>
#include <iconv.h>

#include <cerrno>
#include <random>

#include "data_test_util.h"
#include "datacodec.h"
#include "layoutplan.h"
#include "tableio.h"
#include "textcodec.h"
#include "textrules.h"
#include "valuecodec.h"

using datatest::Layout;
using namespace quillbox;

namespace {

// The JSON Lines row as the cell-by-cell writer made it before the row writers: the
// reference the flattened writer must equal.
void AppendJsonNode(std::string& out, const JsonNode& node, const std::vector<Cell>& cells) {
    switch (node.kind) {
    case JsonNode::kLeaf: {
        const Cell& cell = cells[static_cast<size_t>(node.field)];
        if (cell.kind == Cell::kNull) out += "null";
        else if (cell.kind == Cell::kNumber && !(cell.text == "NaN" || cell.text == "Infinity" || cell.text == "-Infinity")) out += cell.text;
        else AppendJsonString(out, cell.text);
        return;
    }
    case JsonNode::kObject:
    case JsonNode::kArray: {
        bool object = node.kind == JsonNode::kObject;
        out.push_back(object ? '{' : '[');
        bool first = true;
        for (const JsonNode& child : node.children) {
            if (!first) out.push_back(',');
            first = false;
            if (object) {
                AppendJsonString(out, child.key);
                out.push_back(':');
            }
            AppendJsonNode(out, child, cells);
        }
        out.push_back(object ? '}' : ']');
        return;
    }
    }
}

void AppendJsonRow(std::string& out, const LayoutPlan& plan, const std::vector<Cell>& cells) {
    out.push_back('{');
    bool first = true;
    for (const JsonNode& root : plan.roots) {
        if (!first) out.push_back(',');
        first = false;
        AppendJsonString(out, root.key);
        out.push_back(':');
        AppendJsonNode(out, root, cells);
    }
    out += "}\n";
}


// iconv's conversion of the whole text; false when it refuses any of it.
bool Iconv(const char* to, const char* from, const std::string& text, std::string& out) {
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) return false;
    out.clear();
    char* in = const_cast<char*>(text.data());
    size_t left = text.size();
    char buffer[256];
    bool ok = true;
    while (left > 0 && ok) {
        char* o = buffer;
        size_t room = sizeof buffer;
        ok = iconv(cd, &in, &left, &o, &room) != static_cast<size_t>(-1) || errno == E2BIG;
        out.append(buffer, static_cast<size_t>(o - buffer));
    }
    iconv_close(cd);
    return ok;
}

TEST(ShiftJisTables, EveryByteAndPairDecodesAndEveryCodePointEncodesAsIconvDoes) {
    std::string error;
    std::unique_ptr<TextCodec> codec = TextCodec::Create("cp932", error);
    ASSERT_TRUE(codec) << error;
    std::string expected, got;
    for (int first = 0; first < 256; ++first) {
        for (int second = -1; second < 256; ++second) {
            std::string bytes(1, static_cast<char>(first));
            if (second >= 0) bytes.push_back(static_cast<char>(second));
            // A text of one character or byte, and the same inside ASCII text.
            for (const std::string& text : {bytes, "ab" + bytes + "c"}) {
                // A second code of a character, which iconv writes as another code, is
                // no text: decode then encode gives the bytes back or refuses them.
                std::string back;
                bool converts = Iconv("UTF-8", "CP932", text, expected) && Iconv("CP932", "UTF-8", expected, back) &&
                                back == text;
                got.clear();
                ASSERT_EQ(codec->Decode(reinterpret_cast<const unsigned char*>(text.data()), text.size(), got), converts)
                    << std::hex << first << " " << second;
                if (converts) {
                    ASSERT_EQ(got, expected) << std::hex << first << " " << second;
                }
            }
        }
    }
    for (uint32_t cp = 1; cp < 0x10000; ++cp) {
        if (cp >= 0xD800 && cp <= 0xDFFF) continue;
        std::string utf8;
        AppendUtf8(cp, utf8);
        bool converts = Iconv("CP932", "UTF-8", utf8, expected);
        ASSERT_EQ(codec->Encode(utf8.data(), utf8.size(), got), converts) << std::hex << cp;
        if (converts) {
            ASSERT_EQ(got, expected) << std::hex << cp;
        }
        bool national = converts && expected.size() == 2 && IsShiftJisLeadByte(expected[0]);
        ASSERT_EQ(codec->EncodeNational(utf8.data(), utf8.size(), got), national) << std::hex << cp;
    }
}

// The layout AppendDecimal gives, from the digits of std::to_string.
std::string PlainDecimal(bool negative, uint64_t magnitude, int scale) {
    std::string digits = std::to_string(magnitude);
    if (scale < 0 && magnitude != 0) digits += std::string(static_cast<size_t>(-scale < 20 ? -scale : 20), '0');
    int places = scale > 0 ? (scale < 40 ? scale : 40) : 0;
    if (places > 0) {
        if (digits.size() <= static_cast<size_t>(places)) digits.insert(0, static_cast<size_t>(places) + 1 - digits.size(), '0');
        digits.insert(digits.size() - static_cast<size_t>(places), ".");
    }
    return (negative && magnitude != 0 ? "-" : "") + digits;
}

TEST(DecimalText, WrittenInPlaceAsThePlainLayoutForEveryLengthAndScale) {
    std::mt19937_64 random(7);
    std::vector<uint64_t> values = {0, 1, 9, 10, 99, 100, 12345678, 99999999, 100000000, 18446744073709551615ull};
    for (uint64_t power = 1; power < 10000000000000000000ull; power *= 10) {
        values.push_back(power);
        values.push_back(power - 1);
    }
    for (int i = 0; i < 2000; ++i) values.push_back(random() >> (random() % 64));
    for (uint64_t value : values) {
        for (int scale = -25; scale <= 45; ++scale) {
            for (bool negative : {false, true}) {
                std::string text;
                AppendDecimal(text, negative, value, scale);
                ASSERT_EQ(text, PlainDecimal(negative, value, scale)) << value << " scale " << scale;
            }
        }
    }
}

// Decodes `field` both ways over `record` and expects the same cell; counts the values
// that decoded in `good`.
void ExpectSameBothWays(ValueCodec& codec, const Field& field, const std::vector<unsigned char>& record, int& good) {
    RowCells row;
    row.Start(1);
    Fault fast, slow;
    Cell cell;
    bool fastGood = codec.Decode(field, record.data(), row, 0, fast);
    bool slowGood = codec.Decode(field, record.data(), cell, slow);
    ASSERT_EQ(fastGood, slowGood) << field.column << " " << slow.reason;
    // The number as digits and sign, where the codec gives it so, is the same value.
    bool negative = false;
    uint64_t magnitude = 0;
    if (codec.NumberOf(field, record.data(), negative, magnitude)) {
        ASSERT_TRUE(slowGood) << field.column << " " << slow.reason;
        std::string text;
        AppendDecimal(text, negative, magnitude, field.scale);
        EXPECT_EQ(text, cell.text) << "kind " << field.kind << " length " << field.length;
    }
    if (!fastGood) {
        EXPECT_EQ(fast.offset, slow.offset);
        EXPECT_EQ(fast.reason, slow.reason);
        return;
    }
    ++good;
    EXPECT_EQ(row.Kind(0), cell.kind);
    EXPECT_EQ(row.String(0), cell.text) << field.column;
}

TEST(FastDecode, DisplayPackedAndBinaryGiveTheStringPathsValuesAndFaults) {
    std::mt19937 random(11);
    struct Zones {
        const char* encoding;
        bool given;
        unsigned positive, negative;
    };
    for (const Zones& zones : {Zones{"cp932", false, 0, 0}, Zones{"cp932", true, 0x30, 0x70}, Zones{"ibm-037", false, 0, 0}}) {
        DataOptions options;
        options.encoding = zones.encoding;
        if (zones.given) {
            options.signZonesGiven = true;
            options.positiveZone = zones.positive;
            options.negativeZone = zones.negative;
        }
        std::string error;
        std::unique_ptr<ValueCodec> codec = ValueCodec::Create(options, 64, error);
        ASSERT_TRUE(codec) << error;
        const unsigned zone = codec->Text().DigitZone();
        const unsigned signZones[] = {zone, zones.given ? zones.positive : (codec->Text().IsEbcdic() ? 0xC0u : 0x40u),
                                      zones.given ? zones.negative : (codec->Text().IsEbcdic() ? 0xD0u : 0x50u)};
        int good = 0;
        for (int trial = 0; trial < 20000; ++trial) {
            Field field{};
            field.column = "F";
            field.kind = static_cast<Field::Kind>(random() % 4);   // display, packed, binary, COMP-5
            field.offset = static_cast<int>(random() % 12);
            field.scale = static_cast<int>(random() % 12) - 3;
            field.isSigned = random() % 2 == 0;
            std::vector<unsigned char> record(64);
            for (unsigned char& b : record) b = static_cast<unsigned char>(random());
            unsigned char* bytes = record.data() + field.offset;
            if (field.kind == Field::kDisplay) {
                field.signLeading = random() % 2 == 0;
                field.signSeparate = field.isSigned && random() % 3 == 0;
                field.digits = 1 + static_cast<int>(random() % 20);
                field.length = field.digits + (field.signSeparate ? 1 : 0);
                for (int i = 0; i < field.length; ++i) bytes[i] = static_cast<unsigned char>(zone | (random() % 10));
                if (field.isSigned && !field.signSeparate) {
                    unsigned char& sign = bytes[field.signLeading ? 0 : field.length - 1];
                    sign = static_cast<unsigned char>((sign & 0x0F) | signZones[random() % 3]);
                }
                if (field.signSeparate) {
                    bool ebcdic = codec->Text().IsEbcdic();
                    bytes[field.signLeading ? 0 : field.length - 1] =
                        random() % 2 ? (ebcdic ? 0x60 : '-') : (ebcdic ? 0x4E : '+');
                }
            } else if (field.kind == Field::kPacked) {
                field.length = 1 + static_cast<int>(random() % 11);
                field.digits = 2 * field.length - 1 - static_cast<int>(random() % 2);
                for (int i = 0; i < field.length; ++i) bytes[i] = static_cast<unsigned char>((random() % 10) << 4 | (random() % 10));
                if (field.digits < 2 * field.length - 1 && random() % 2) bytes[0] &= 0x0F;
                unsigned char signs[] = {0x0C, 0x0D, 0x0F};
                bytes[field.length - 1] = static_cast<unsigned char>((bytes[field.length - 1] & 0xF0) | signs[random() % 3]);
            } else {
                field.length = 1 + static_cast<int>(random() % 8);
                field.digits = 18;
            }
            // Now and then a byte that is no digit, sign or zone.
            if (random() % 4 == 0) bytes[random() % field.length] = static_cast<unsigned char>(random());
            ExpectSameBothWays(*codec, field, record, good);
        }
        EXPECT_GT(good, 10000) << "most values are good data";
    }
}

// Packed numbers written digit for digit from their nibbles: the text of their value
// (PackedMagnitude, then AppendDecimal), and refused where it is refused, for every
// length, scale, sign nibble and a picture shorter than the nibbles.
TEST(FastDecode, PackedTextFromItsNibblesAsFromItsValue) {
    std::mt19937 random(23);
    std::string error;
    DataOptions options;
    std::unique_ptr<ValueCodec> codec = ValueCodec::Create(options, 64, error);
    ASSERT_TRUE(codec) << error;
    int good = 0, refused = 0;
    for (int trial = 0; trial < 200000; ++trial) {
        Field field{};
        field.column = "P";
        field.kind = Field::kPacked;   // offset 0: the bytes are the record
        field.length = 1 + static_cast<int>(random() % 11);
        field.digits = 2 * field.length - 1 - static_cast<int>(random() % 3);
        field.scale = static_cast<int>(random() % 24) - 3;
        field.isSigned = random() % 2 == 0;
        unsigned char bytes[16];
        // Mostly zeros ahead (short values), now and then a leading digit the picture lacks.
        const int zeros = static_cast<int>(random() % (2 * field.length));
        for (int i = 0; i < field.length; ++i) {
            unsigned high = random() % 10, low = random() % 10;
            if (2 * i < zeros) high = 0;
            if (2 * i + 1 < zeros) low = 0;
            bytes[i] = static_cast<unsigned char>(high << 4 | low);
        }
        bytes[field.length - 1] = static_cast<unsigned char>((bytes[field.length - 1] & 0xF0) | (random() % 16));
        if (random() % 8 == 0) bytes[random() % field.length] = static_cast<unsigned char>(random());
        bool negative = false;
        uint64_t magnitude = 0;
        const bool valued = codec->NumberOf(field, bytes, negative, magnitude);
        char out[kDecimalRoom];
        char* end = codec->CsvCellInto(field, bytes, out);
        ASSERT_EQ(end != nullptr, valued) << "length " << field.length << " digits " << field.digits;
        if (!valued) {
            ++refused;
            continue;
        }
        ++good;
        std::string expected;
        AppendDecimal(expected, negative, magnitude, field.scale);
        ASSERT_EQ(std::string(out, end), expected) << "length " << field.length << " scale " << field.scale;
    }
    EXPECT_GT(good, 40000);
    EXPECT_GT(refused, 10000);
}

// The record object's setters, as encode stored numbers through them: SetInt64, then
// EBCDIC digits and signs for display items.
void SetterBytes(RecordImage& image, TextCodec& text, const Field& field, int64_t value, unsigned char* record) {
    image.Attach(record);
    image.SetInt64(field.item, value);
    if (field.kind == Field::kDisplay && text.IsEbcdic()) {
        unsigned char* bytes = record + field.offset;
        int signAt = !field.isSigned ? -1 : field.signLeading ? 0 : field.length - 1;
        for (int i = 0; i < field.length; ++i) {
            if (i != signAt) bytes[i] = static_cast<unsigned char>((text.DigitZone() & 0xF0) | (bytes[i] & 0x0F));
            else if (field.signSeparate) bytes[i] = bytes[i] == '-' ? 0x60 : 0x4E;
        }
    }
}

TEST(DirectStore, NumbersGetTheBytesOfTheRecordObjectsSetters) {
    Layout layout({"01 R.", "   05 U  PIC 9(7).", "   05 S  PIC S9(5)V99.", "   05 L  PIC S9(4) SIGN LEADING.",
                   "   05 SS PIC S9(6) SIGN TRAILING SEPARATE.", "   05 LS PIC S99V9 SIGN LEADING SEPARATE.",
                   "   05 P1 PIC S9(7)V99 COMP-3.", "   05 P2 PIC 9(4) COMP-3.", "   05 P3 PIC S9(18) COMP-3.",
                   "   05 B1 PIC S9(4) COMP.", "   05 B2 PIC 9(9) BINARY.", "   05 B3 PIC S9(18) COMP.",
                   "   05 C1 PIC S9(4) COMP-5.", "   05 C2 PIC 9(18) COMP-5.", "   05 D  PIC 9(18)."});
    std::mt19937_64 random(5);
    for (const char* encoding : {"cp932", "ibm-037"}) {
        for (bool zonesGiven : {false, true}) {
            DataOptions options;
            options.encoding = encoding;
            if (zonesGiven) {
                ASSERT_TRUE(ParseSignZones("0x30,0x70", options.positiveZone, options.negativeZone));
            }
            options.signZonesGiven = zonesGiven;
            options.nativeOrder = quillbox::NativeOrder::kLittle;   // the setters' COMP-5, in EBCDIC data too
            DataSetup setup;
            std::string error;
            ASSERT_TRUE(setup.Prepare(layout.Head(), layout.Length(), options, error)) << error;
            ValueCodec& values = setup.Values();
            RecordImage reference(layout.Length());
            reference.SetPositiveZone(static_cast<unsigned short>(zonesGiven ? 0x30 : values.Text().IsEbcdic() ? 0xC0 : 0x40));
            reference.SetNegativeZone(static_cast<unsigned short>(zonesGiven ? 0x70 : values.Text().IsEbcdic() ? 0xD0 : 0x50));
            reference.SetNationalSpace(values.Text().NationalSpace());
            std::vector<unsigned char> got(static_cast<size_t>(layout.Length())), expected(got.size());
            for (const Field& field : setup.Plan().fields) {
                ASSERT_TRUE(field.kind == Field::kDisplay || field.kind == Field::kPacked || field.kind == Field::kBinary ||
                            field.kind == Field::kComp5) << field.column;
                for (int trial = 0; trial < 3000; ++trial) {
                    int digits = field.digits < 18 ? field.digits : 18;
                    uint64_t limit = 1;
                    for (int i = 0; i < digits; ++i) limit *= 10;
                    uint64_t magnitude = trial < 3 ? (trial == 2 ? limit - 1 : static_cast<uint64_t>(trial)) : random() % limit;
                    bool negative = field.isSigned && random() % 2 == 0;
                    int64_t value = negative ? -static_cast<int64_t>(magnitude) : static_cast<int64_t>(magnitude);
                    Cell cell;
                    cell.kind = Cell::kNumber;
                    cell.text = std::to_string(value);
                    if (field.scale > 0) cell.text = PlainDecimal(negative, magnitude, field.scale);
                    std::fill(got.begin(), got.end(), 0x40);
                    std::fill(expected.begin(), expected.end(), 0x40);
                    Fault fault;
                    ASSERT_TRUE(values.Encode(field, cell, got.data(), fault)) << field.column << " " << fault.reason;
                    SetterBytes(reference, values.Text(), field, value, expected.data());
                    ASSERT_EQ(got, expected) << encoding << " " << field.column << " " << cell.text;
                }
            }
        }
    }
}

TEST(RowWriters, CsvAndJsonLinesAsTheCellByCellWriters) {
    Layout layout({"01 R.", "   05 A PIC X(40).", "   05 G OCCURS 2.", "      10 B PIC X(3).", "      10 N PIC 9(3).",
                   "   05 F COMP-2.", "   05 Z PIC X(2)."});
    DataSetup setup;
    std::string error;
    ASSERT_TRUE(setup.Prepare(layout.Head(), layout.Length(), DataOptions(), error)) << error;
    const LayoutPlan& plan = setup.Plan();
    ASSERT_EQ(plan.fields.size(), 7u);
    const std::vector<std::vector<Cell>> rows = {
        {{Cell::kText, "plain"}, {Cell::kText, "a,b"}, {Cell::kNumber, "12"}, {Cell::kText, "q\"uote"},
         {Cell::kNull, ""}, {Cell::kNumber, "NaN"}, {Cell::kText, ""}},
        {{Cell::kText, "a text longer than thirty-two bytes, with a comma"}, {Cell::kText, "line\nend"},
         {Cell::kNumber, "-1.50"}, {Cell::kText, "ctl\x01\x1f\\"}, {Cell::kNumber, "0"},
         {Cell::kNumber, "-Infinity"}, {Cell::kText, "cr\r"}},
        {{Cell::kText, u8"日本語のテキスト、三十二バイトを超える長さ"}, {Cell::kText, "abcdefghijklmnop"},
         {Cell::kNumber, "Infinity"}, {Cell::kText, "abcdefghijklmnopq"}, {Cell::kNumber, "1e5"},
         {Cell::kNumber, "1.5"}, {Cell::kNull, ""}},
    };
    CsvRowWriter csv("\r\n");
    JsonRowWriter json(plan);
    for (const std::vector<Cell>& cells : rows) {
        RowCells row;
        row.Start(cells.size());
        for (size_t i = 0; i < cells.size(); ++i) {
            if (cells[i].kind == Cell::kNull) row.Null(i);
            else row.Put(i, cells[i].kind, cells[i].text.data(), cells[i].text.size());
        }
        std::string expected, got(csv.Room(row), '\0');
        AppendCsvRow(expected, cells, "\r\n");
        got.resize(static_cast<size_t>(csv.Put(&got[0], row) - got.data()));
        EXPECT_EQ(got, expected);
        expected.clear();
        got.assign(json.Room(row), '\0');
        AppendJsonRow(expected, plan, cells);
        got.resize(static_cast<size_t>(json.Put(&got[0], row) - got.data()));
        EXPECT_EQ(got, expected);
    }
}

// Reads every row of `text` with both forms of the CSV reader; they must give the same
// fields and the same error, whatever the row (quoted, CR, crossing the reader's block,
// no line end at the end, longer than the limit).
void ExpectLentRowsAsCopied(const std::string& text, uint64_t maxLine) {
    std::FILE* copied = std::tmpfile();
    std::FILE* lent = std::tmpfile();
    std::FILE* split = std::tmpfile();
    ASSERT_TRUE(copied != nullptr && lent != nullptr && split != nullptr);
    for (std::FILE* f : {copied, lent, split}) {
        ASSERT_EQ(std::fwrite(text.data(), 1, text.size(), f), text.size());
        std::rewind(f);
    }
    TableReader a(copied, maxLine), b(lent, maxLine), c(split, maxLine);
    // The same bytes in memory, read where they are: cut in two anywhere (inside a row
    // too), and whole.
    const size_t cut = text.size() / 3;
    TableReader d(text.data(), cut, text.data() + cut, text.size() - cut, maxLine);
    TableReader e(nullptr, 0, text.data(), text.size(), maxLine);
    std::vector<std::string> fields, store, storeC, fieldsD, storeE;
    std::vector<LentCell> cellsE(3);
    std::vector<std::string_view> views;
    // The form that splits into cells has room for three: rows of fewer and of more
    // fields are counted all the same.
    std::vector<LentCell> cells(3);
    for (long rows = 0;; ++rows) {
        std::string errorA, errorB, errorC;
        bool gotA = a.NextCsvRow(fields, errorA);
        bool gotB = b.NextCsvRow(views, store, errorB);
        size_t count = 99;
        bool gotC = c.NextCsvRow(cells, count, storeC, errorC);
        std::string errorD, errorE;
        bool gotD = d.NextCsvRow(fieldsD, errorD);
        size_t countE = 99;
        bool gotE = e.NextCsvRow(cellsE, countE, storeE, errorE);
        ASSERT_EQ(gotA, gotB) << "row " << rows;
        ASSERT_EQ(gotA, gotC) << "row " << rows;
        ASSERT_EQ(gotA, gotD) << "row " << rows;
        ASSERT_EQ(gotA, gotE) << "row " << rows;
        EXPECT_EQ(errorA, errorB) << "row " << rows;
        EXPECT_EQ(errorA, errorC) << "row " << rows;
        EXPECT_EQ(errorA, errorD) << "row " << rows;
        EXPECT_EQ(errorA, errorE) << "row " << rows;
        if (!gotA) break;
        ASSERT_EQ(fieldsD, fields) << "row " << rows;
        ASSERT_EQ(countE, fields.size()) << "row " << rows;
        for (size_t i = 0; i < countE && i < cellsE.size(); ++i) {
            EXPECT_EQ(std::string(cellsE[i].text), fields[i]) << "row " << rows << " field " << i;
        }
        ASSERT_EQ(std::vector<std::string>(views.begin(), views.end()), fields) << "row " << rows;
        ASSERT_EQ(count, fields.size()) << "row " << rows;
        for (size_t i = 0; i < count && i < cells.size(); ++i) {
            EXPECT_EQ(std::string(cells[i].text), fields[i]) << "row " << rows << " field " << i;
            EXPECT_EQ(cells[i].null, fields[i].empty()) << "row " << rows << " field " << i;
        }
        EXPECT_EQ(a.Consumed(), b.Consumed());
        EXPECT_EQ(a.Consumed(), c.Consumed());
    }
    std::fclose(copied);
    std::fclose(lent);
    std::fclose(split);
}

TEST(LentCsvRows, TheSameFieldsAsTheCopiedRows) {
    std::mt19937 random(17);
    const char* pieces[] = {"12", "-3.50", "", "text", "\"quoted, with \"\" a quote\"", "mid\"quote", "cr\ralone",
                            u8"日本語", "\"multi\nline\"", "a b"};
    std::string text;
    // Past three blocks of the reader, so that rows cross from one block to the next.
    while (text.size() < (3u << 20) + 777) {
        int count = 1 + static_cast<int>(random() % 9);
        for (int i = 0; i < count; ++i) {
            if (i > 0) text.push_back(',');
            text += pieces[random() % (sizeof pieces / sizeof pieces[0])];
        }
        text += random() % 3 == 0 ? "\r\n" : "\n";
    }
    ExpectLentRowsAsCopied(text, 64u << 20);
    ExpectLentRowsAsCopied(text + "last,row,no,end", 64u << 20);
    ExpectLentRowsAsCopied("a,b\r", 64u << 20);
    ExpectLentRowsAsCopied("\n\nx\n", 64u << 20);
    ExpectLentRowsAsCopied("short\n" + std::string(200, 'x') + "\nafter\n", 100);
    ExpectLentRowsAsCopied("short\n\"" + std::string(200, 'x') + "\"\n", 100);
    // A lone CR as the last byte of the reader's first block: part of the field.
    const std::string cr = std::string((1u << 20) - 1, 'x') + "\ry,z\n";
    ExpectLentRowsAsCopied(cr, 64u << 20);
    std::FILE* in = std::tmpfile();
    ASSERT_TRUE(in != nullptr);
    std::fwrite(cr.data(), 1, cr.size(), in);
    std::rewind(in);
    TableReader reader(in);
    std::vector<std::string> fields;
    std::string error;
    ASSERT_TRUE(reader.NextCsvRow(fields, error)) << error;
    ASSERT_EQ(fields.size(), 2u);
    EXPECT_TRUE(fields[0] == cr.substr(0, cr.size() - 3)) << "the field ends in " << fields[0].substr(fields[0].size() - 3);
    EXPECT_EQ(fields[1], "z");
    std::fclose(in);
}

}  // namespace

// The direct forms compiled once for a layout write every column as the per-cell rule
// (CsvCellInto, JsonCellInto) does, and give way where it does: display numbers of every
// length, sign place and scale (those of up to 8 digits read at once), packed numbers
// (nibbles read at once) with pictures shorter than their nibbles, binary and COMP-5 of
// every length and sign, ASCII text with the characters CSV quotes and JSON escapes,
// bytes of 0x80 and above, trimmed or not; in code pages that keep ASCII and in EBCDIC.
TEST(DirectPlan, RowsEqualTheCellByCellRule) {
    std::mt19937 random(41);
    struct Page {
        const char* encoding;
        unsigned positive, negative;   // 0: the page's own sign zones
        bool trim;
    };
    const Page pages[] = {{"cp932", 0, 0, false}, {"cp932", 0x30, 0x70, true}, {"ibm-037", 0, 0, false},
                          {"latin-1", 0, 0, true}, {"utf-8", 0x30, 0x70, false}};
    const char kText[] = "AZaz09 ,\"\r\n\\\t\x7f\x80\xe3\x81\x82  ";
    for (const Page& page : pages) {
        DataOptions options;
        options.encoding = page.encoding;
        options.trim = page.trim;
        if (page.positive != 0) {
            options.signZonesGiven = true;
            options.positiveZone = page.positive;
            options.negativeZone = page.negative;
        }
        std::string error;
        constexpr int kLength = 80;
        std::unique_ptr<ValueCodec> codec = ValueCodec::Create(options, kLength, error);
        ASSERT_TRUE(codec) << error;
        const unsigned zone = codec->Text().DigitZone();
        const bool ebcdic = codec->Text().IsEbcdic();
        const unsigned signZones[] = {zone, page.positive != 0 ? page.positive : (ebcdic ? 0xC0u : 0x40u),
                                      page.negative != 0 ? page.negative : (ebcdic ? 0xD0u : 0x50u), 0xB0, 0xF0};
        int rows = 0, direct = 0;
        for (int trial = 0; trial < 3000; ++trial) {
            LayoutPlan plan;
            plan.recordLength = kLength;
            std::vector<unsigned char> record(kLength);
            for (unsigned char& b : record) b = static_cast<unsigned char>(random());
            const int columns = 1 + static_cast<int>(random() % 6);
            for (int c = 0; c < columns; ++c) {
                Field field{};
                field.column = "F" + std::to_string(c);
                const int kind = static_cast<int>(random() % 5);
                field.isSigned = random() % 2 == 0;
                field.scale = static_cast<int>(random() % 10) - (random() % 4 == 0 ? 3 : 0);
                if (kind == 0) {
                    field.kind = Field::kDisplay;
                    field.signLeading = random() % 2 == 0;
                    field.signSeparate = field.isSigned && random() % 4 == 0;
                    field.digits = 1 + static_cast<int>(random() % 12);
                    field.length = field.digits + (field.signSeparate ? 1 : 0);
                } else if (kind == 1) {
                    field.kind = Field::kPacked;
                    field.length = 1 + static_cast<int>(random() % 10);
                    field.digits = 2 * field.length - 1 - static_cast<int>(random() % 3);
                } else if (kind == 2) {
                    field.kind = random() % 2 ? Field::kBinary : Field::kComp5;
                    field.length = 1 + static_cast<int>(random() % 8);
                    field.scale = random() % 3 == 0 ? field.scale : 0;
                    field.digits = 18;
                } else if (kind == 4 && random() % 2 == 0) {
                    field.kind = Field::kNational;
                    field.length = 2 * (1 + static_cast<int>(random() % 16));
                } else {
                    field.kind = Field::kText;
                    field.length = 1 + static_cast<int>(random() % 40);
                }
                field.offset = static_cast<int>(random() % static_cast<unsigned>(kLength - field.length + 1));
                unsigned char* bytes = record.data() + field.offset;
                // Mostly good values, now and then a byte of anything.
                if (field.kind == Field::kDisplay) {
                    for (int i = 0; i < field.length; ++i) {
                        bytes[i] = static_cast<unsigned char>(zone | (random() % 3 == 0 ? 0 : random() % 10));
                    }
                    if (field.isSigned && !field.signSeparate) {
                        unsigned char& sign = bytes[field.signLeading ? 0 : field.length - 1];
                        sign = static_cast<unsigned char>((sign & 0x0F) | signZones[random() % 5]);
                    } else if (field.signSeparate) {
                        bytes[field.signLeading ? 0 : field.length - 1] =
                            random() % 2 ? (ebcdic ? 0x60 : '-') : (ebcdic ? 0x4E : '+');
                    }
                } else if (field.kind == Field::kPacked) {
                    const int zeros = static_cast<int>(random() % (2 * field.length + 1));
                    for (int i = 0; i < field.length; ++i) {
                        unsigned high = 2 * i < zeros ? 0 : random() % 10, low = 2 * i + 1 < zeros ? 0 : random() % 10;
                        bytes[i] = static_cast<unsigned char>(high << 4 | low);
                    }
                    const unsigned signs[] = {0x0C, 0x0D, 0x0F, 0x0B, 0x05};
                    bytes[field.length - 1] = static_cast<unsigned char>((bytes[field.length - 1] & 0xF0) | signs[random() % 5]);
                } else if (field.kind == Field::kText) {
                    for (int i = 0; i < field.length; ++i) {
                        bytes[i] = random() % 8 == 0 ? static_cast<unsigned char>(kText[random() % (sizeof kText - 1)])
                                                     : static_cast<unsigned char>(ebcdic ? 0xC1 + random() % 9 : 'a' + random() % 26);
                    }
                    if (random() % 3 == 0) std::memset(bytes + random() % field.length, ebcdic ? 0x40 : ' ', 1);
                    if (random() % 4 == 0) {
                        for (int i = field.length / 2; i < field.length; ++i) bytes[i] = ebcdic ? 0x40 : ' ';
                    }
                } else if (field.kind == Field::kNational) {
                    // Double bytes (the full-width space among them), now and then a byte alone
                    // that JSON escapes or a blank, blanks at the end.
                    const unsigned char pairs[][2] = {{0x81, 0x40}, {0x82, 0xA0}, {0x88, 0x9F}, {0x93, 0xFA}, {0x83, 0x41}};
                    const unsigned char alone[] = {'"', '\\', ' ', 'A', 0x01, 0x7F};
                    for (int i = 0; i + 1 < field.length; i += 2) {
                        if (random() % 8 == 0) {
                            bytes[i] = alone[random() % sizeof alone];
                            bytes[i + 1] = alone[random() % sizeof alone];
                        } else {
                            std::memcpy(bytes + i, pairs[random() % 5], 2);
                        }
                    }
                    if (random() % 3 == 0) {
                        for (int i = field.length / 2 & ~1; i + 1 < field.length; i += 2) {
                            if (random() % 2) std::memcpy(bytes + i, pairs[0], 2);
                            else bytes[i] = bytes[i + 1] = ' ';
                        }
                    }
                }
                if (random() % 10 == 0) bytes[random() % field.length] = static_cast<unsigned char>(random());
                plan.fields.push_back(field);
            }
            const DirectPlan compiled = codec->CompileDirect(plan);
            ASSERT_EQ(compiled.steps.size(), plan.fields.size());
            // The row as the cells make it.
            std::string expected;
            bool whole = true;
            for (const Field& field : plan.fields) {
                std::vector<char> cell(ValueCodec::CellRoom(field) + 64);
                char* end = codec->CsvCellInto(field, record.data(), cell.data());
                if (end == nullptr) {
                    whole = false;
                    break;
                }
                if (&field != &plan.fields.front()) expected += ',';
                expected.append(cell.data(), end);
            }
            expected += "\n";
            std::vector<char> out(4096);
            char* end = codec->CsvRowInto(compiled, record.data(), out.data(), "\n");
            ++rows;
            ASSERT_EQ(end != nullptr, whole) << page.encoding << " trial " << trial;
            if (end != nullptr) {
                ++direct;
                ASSERT_EQ(std::string(out.data(), end), expected) << page.encoding << " trial " << trial;
            }
            // The JSON line: keys of every length before the values, now and then a null
            // between them, as the cells make it.
            DirectJson json;
            std::string expectedJson;
            bool wholeJson = true;
            for (size_t i = 0; i < plan.fields.size(); ++i) {
                std::vector<char> a(ValueCodec::CellRoom(plan.fields[i]) + 64), b(a.size());
                char* endA = codec->JsonCellInto(plan.fields[i], record.data(), a.data());
                char* endB = codec->JsonCellInto(compiled, compiled.steps[i], record.data(), b.data());
                ASSERT_EQ(endA != nullptr, endB != nullptr) << page.encoding << " trial " << trial << " column " << i;
                if (endA != nullptr) {
                    ASSERT_EQ(std::string(a.data(), endA), std::string(b.data(), endB)) << page.encoding << " column " << i;
                    expectedJson += std::string(a.data(), endA);
                } else {
                    wholeJson = false;
                }
                for (int piece = random() % 4 == 0 ? 2 : 1; piece > 0; --piece) {
                    const std::string key = (json.pieces.empty() ? "{\"" : ",\"") + std::string(random() % 40, 'k') + "\":";
                    DirectJson::Piece p;
                    p.at = static_cast<uint32_t>(json.text.size());
                    p.length = static_cast<uint32_t>(key.size());
                    p.column = piece == 1 ? static_cast<int>(i) : -1;
                    json.pieces.push_back(p);
                    json.text += key;
                    expectedJson.insert(expectedJson.size() - (endA != nullptr ? static_cast<size_t>(endA - a.data()) : 0),
                                        piece == 1 ? key : key + "null");
                }
            }
            json.afterAt = static_cast<uint32_t>(json.text.size());
            json.text += "}\n";
            json.afterLength = 2;
            json.text.append(DirectJson::kSlack, '\0');
            expectedJson += "}\n";
            std::fill(out.begin(), out.end(), '\xff');
            end = codec->JsonRowInto(compiled, json, record.data(), out.data());
            ASSERT_EQ(end != nullptr, wholeJson) << page.encoding << " trial " << trial;
            if (end != nullptr) {
                ASSERT_EQ(std::string(out.data(), end), expectedJson) << page.encoding << " trial " << trial;
            }
        }
        EXPECT_GT(direct, rows / 5) << page.encoding << ": most rows take the direct path";
    }
}

// Encode's quick forms (decided once for each column) against Encode itself: a value
// they take gets Encode's bytes, and one they leave (unusual text, a value that does not
// fit or is refused) is left with nothing written, for Encode to store or refuse. Each
// text also lies in a block of memory with bytes after it (digits, a point, a minus, or
// other bytes; seven, eight or nine of them), as a table reader lends it: read past its
// end, it must still give the same bytes, and the bytes after it none of them.
TEST(QuickStore, StoresWhatEncodeStoresAndLeavesTheRestUntouched) {
    Layout layout({"01 R.", "   05 U  PIC 9(7).", "   05 S  PIC S9(5)V99.", "   05 L  PIC S9(4) SIGN LEADING.",
                   "   05 SS PIC S9(6) SIGN TRAILING SEPARATE.", "   05 P1 PIC S9(7)V99 COMP-3.",
                   "   05 P2 PIC 9(4) COMP-3.", "   05 P3 PIC S9(15) COMP-3.", "   05 P4 PIC S9(17)V9 COMP-3.",
                   "   05 B1 PIC S9(4) COMP.", "   05 B2 PIC 9(9) BINARY.", "   05 B3 PIC S9(18) COMP.",
                   "   05 C1 PIC S9(4) COMP-5.", "   05 C2 PIC 9(18) COMP-5.", "   05 D  PIC 9(18).",
                   "   05 W  PIC 9(19).", "   05 Z  PIC S9(12)V9(6).", "   05 PP PIC 9(3)PP.", "   05 T  PIC X(6).",
                   "   05 N  PIC N(3).", "   05 NL PIC N(130).", "   05 F  COMP-2.", "   05 Y  PIC S9(10)V9(6).",
                   "   05 Q  PIC 9(16).", "   05 E  PIC SV9(8).", "   05 G  PIC S9(3)V9(9).", "   05 P5 PIC 9(8)V9(7) COMP-3."},
                  true);
    std::vector<std::string> texts = {"0", "-0", "7", "-7", "123", "1.5", "-1.50", "0.001", ".5", "5.", "-.5", "+5", " 5",
                                      "5 ", "1e3", "-", ".", "--1", "1.2.3", "12345678", "123456789", "-12345678.9",
                                      "99999", "100000", "-99999.99", "9999", "10000", "65535", "32768", "-32768",
                                      "123456789012345678", "1234567890123456789", "999999999999999999",
                                      "00000000000000000001", "0000000000000000000000", "0.10", "12345.678", "1,5",
                                      "abc", "abcdef", "abcdefg", "a\"b", "\t\x7f", "\xE6\x97\xA5", "caf\xC3\xA9", "\xFF",
                                      // National text: double-byte characters, and those a
                                      // national item refuses or the tables do not hold.
                                      u8"日本語", u8"日本語日", u8"　", u8"髙①∵", u8"ｱ", u8"Aあ", u8"あA", u8"𠀋",
                                      "\xED\xA0\x80", "\xE0\x80\x80", "\xE6\x97", "\xE6\x97\xA5\xE6",
                                      "12345678", "12345678.12345678", "-12345678.1234567", "0.00000001", "-0.00000001",
                                      "00000000012", "-00000000.00000000", "1234567.123456789", "123456789.1"};
    std::mt19937_64 random(32);
    for (int i = 0; i < 400; ++i) {
        std::string digits = std::to_string(random() % 1000000000000000000ull).substr(0, 1 + random() % 18);
        int point = static_cast<int>(random() % (digits.size() + 3));
        if (point < static_cast<int>(digits.size())) digits.insert(static_cast<size_t>(point), ".");
        texts.push_back((random() % 2 ? "-" : "") + digits);
    }
    for (const char* encoding : {"cp932", "ibm-037", "utf-8", "ascii", "latin-1", "ibm-930"}) {
        for (bool zonesGiven : {false, true}) {
            DataOptions options;
            options.encoding = encoding;
            if (zonesGiven) {
                ASSERT_TRUE(ParseSignZones("0x30,0x70", options.positiveZone, options.negativeZone));
            }
            options.signZonesGiven = zonesGiven;
            DataSetup setup;
            std::string error;
            ASSERT_TRUE(setup.Prepare(layout.Head(), layout.Length(), options, error)) << error;
            ValueCodec& values = setup.Values();
            const std::vector<Field>& fields = setup.Plan().fields;
            const std::vector<QuickStore> quick = values.QuickStores(fields);
            ASSERT_EQ(fields.size(), quick.size());
            std::vector<unsigned char> got(static_cast<size_t>(layout.Length())), expected(got.size()),
                untouched(got.size(), 0xAA);
            int taken = 0, national = 0, lent = 0;
            std::vector<LentCell> cells(fields.size());
            std::vector<unsigned char> run(got.size());
            const char* const afters[] = {"987654321", ".5.5.5.5.", "-1-1-1-1-", "\x80\xFF\x01 ,\n\0\x39\x30"};
            for (size_t f = 0; f < fields.size(); ++f) {
                for (const std::string& text : texts) {
                    // The text lent from a block with bytes after it.
                    const size_t after = 7 + (lent + taken) % 3;
                    std::vector<char> block(text.begin(), text.end());
                    block.insert(block.end(), afters[(lent + taken) % 4], afters[(lent + taken) % 4] + after);
                    cells[f].null = text.empty();
                    cells[f].text = std::string_view(block.data(), text.size());
                    std::fill(run.begin(), run.end(), 0xAA);
                    const size_t next = values.EncodeQuickRun(quick, cells, f, run.data(),
                                                              LentSpan{block.data(), block.data() + block.size()});
                    cells[f].null = true;
                    std::fill(got.begin(), got.end(), 0xAA);
                    std::fill(expected.begin(), expected.end(), 0xAA);
                    Fault fault;
                    const bool stored = values.Encode(fields[f], Cell::kText, text, expected.data(), fault);
                    if (next == f) {
                        ASSERT_EQ(untouched, run) << encoding << " " << fields[f].column << " lent \"" << text << "\"";
                    } else {
                        ++lent;
                        ASSERT_EQ(next, f + 1) << encoding << " " << fields[f].column << " lent \"" << text << "\"";
                        ASSERT_TRUE(stored) << encoding << " " << fields[f].column << " lent \"" << text << "\" " << fault.reason;
                        ASSERT_EQ(expected, run) << encoding << " " << fields[f].column << " lent \"" << text << "\"";
                    }
                    if (!values.EncodeQuick(quick[f], text, got.data())) {
                        ASSERT_EQ(untouched, got) << encoding << " " << fields[f].column << " \"" << text << "\"";
                        continue;
                    }
                    ++taken;
                    if (fields[f].kind == Field::kNational) ++national;
                    ASSERT_TRUE(stored) << encoding << " " << fields[f].column << " \"" << text << "\" " << fault.reason;
                    ASSERT_EQ(expected, got) << encoding << " " << fields[f].column << " \"" << text << "\"";
                }
            }
            EXPECT_GT(taken, 1000) << encoding;
            EXPECT_EQ(lent, taken) << encoding << ": read past their ends or not, the same texts are taken";
            // Shift_JIS national text of characters met before goes the quick way: the four
            // texts of double-byte characters that N holds (NL is past its room).
            if (std::string(encoding) == "cp932") EXPECT_EQ(national, 4) << encoding;
        }
    }
}

// JSON Lines rows: members in any order, missing or null, keys matched in and out of the
// layout's order, refusals named by their place; lines read a block at a time across the
// reader's blocks, CR LF and blank lines dropped as before.
TEST(JsonRows, MembersInAnyOrderAndRefusalsByTheirPlace) {
    Layout layout({"01 R.", "   05 A PIC X(4).", "   05 G OCCURS 2.", "      10 B PIC X(3).", "      10 N PIC 9(3).",
                   "   05 C PIC 9(2)."});
    DataOptions options;
    DataSetup setup;
    std::string error;
    ASSERT_TRUE(setup.Prepare(layout.Head(), layout.Length(), options, error)) << error;
    const LayoutPlan& plan = setup.Plan();
    ASSERT_EQ(plan.fields.size(), 6u);
    std::vector<Cell> cells(plan.fields.size());
    const auto texts = [&cells]() {
        std::string all;
        for (const Cell& cell : cells) all += (cell.kind == Cell::kNull ? std::string("~") : cell.text) + "|";
        return all;
    };
    ASSERT_TRUE(ReadJsonRow(R"({"R":{"C":7,"G":[{"N":1,"B":"x"},{"B":"y\"z","N":null}],"A":"ab\u00e9"}})", plan, cells,
                            error))
        << error;
    EXPECT_EQ(texts(), u8"ab\u00e9|x|1|y\"z|~|7|");
    ASSERT_TRUE(ReadJsonRow(R"({"R":{"A":"q","G":[{"B":"b"}]}})", plan, cells, error)) << error;
    EXPECT_EQ(texts(), "q|b|~|~|~|~|");
    struct {
        const char* row;
        bool ignoreUnknown;
        const char* message;   // empty: taken
    } cases[] = {
        {R"({"R":{"A":"q","X":1,"X":2}})", true, "R: \"X\" is given twice"},
        {R"({"R":{"A":"q","X":1}})", true, ""},
        {R"({"R":{"A":"q","X":1}})", false, "R: the layout has no item \"X\""},
        {R"({"R":{"C":1,"A":"q","C":2}})", false, "R: \"C\" is given twice"},
        {R"({"R":{"G":[{"B":"b"},{"N":[1]}]}})", false, "R.G[2].N: an array does not fit the item"},
        {R"({"R":{"G":[{},{},{}]}})", false, "R.G: 3 elements, the table has 2"},
        {R"({"R":{"G":[{"B":"b"},{"Z":1}]}})", false, "R.G[2]: the layout has no item \"Z\""},
        {R"({"S":1})", false, "the layout has no item \"S\""},
    };
    for (const auto& c : cases) {
        error.clear();
        const bool taken = ReadJsonRow(c.row, plan, cells, error, c.ignoreUnknown);
        EXPECT_EQ(taken, c.message[0] == '\0') << c.row;
        EXPECT_EQ(error, c.message) << c.row;
    }

    // Lines longer than the reader's block, CR LF, blank lines, a last line without LF.
    const std::string longLine(3u << 20, 'x');
    const std::string text = "first\r\n \t\n\n" + longLine + "\nshort\n" + longLine + "y";
    std::FILE* in = std::tmpfile();
    ASSERT_TRUE(in != nullptr);
    std::fwrite(text.data(), 1, text.size(), in);
    std::rewind(in);
    TableReader reader(in);
    std::string line;
    std::vector<std::string> lines;
    while (reader.NextLine(line, error)) lines.push_back(line);
    std::fclose(in);
    ASSERT_EQ(lines.size(), 4u) << error;
    EXPECT_EQ(lines[0], "first");
    EXPECT_TRUE(lines[1] == longLine);
    EXPECT_EQ(lines[2], "short");
    EXPECT_TRUE(lines[3] == longLine + "y");
    // The same bytes in memory, cut inside the first long line: the same lines.
    TableReader inMemory(text.data(), 1u << 20, text.data() + (1u << 20), text.size() - (1u << 20));
    std::vector<std::string> memoryLines;
    while (inMemory.NextLine(line, error)) memoryLines.push_back(line);
    EXPECT_TRUE(memoryLines == lines);
    // The limit counts the line feed: a line of the limit's bytes and its LF is refused.
    for (uint64_t limit : {uint64_t{5}, uint64_t{6}}) {
        in = std::tmpfile();
        std::fwrite("12345\nab\n", 1, 9, in);
        std::rewind(in);
        TableReader limited(in, limit);
        error.clear();
        EXPECT_EQ(limited.NextLine(line, error), limit == 6) << limit;
        EXPECT_EQ(error.empty(), limit == 6) << error;
        std::fclose(in);
    }
}

// Shift_JIS national text written straight into a buffer gives the string path's text,
// and refuses what it refuses: every double byte alone, and runs of them.
TEST(DirectPlan, Cp932NationalIntoEqualsTheStringPath) {
    std::string error;
    std::unique_ptr<TextCodec> codec = TextCodec::Create("cp932", error);
    ASSERT_TRUE(codec) << error;
    std::mt19937 random(7);
    int written = 0;
    for (int code = 0; code < 0x10000 + 4000; ++code) {
        std::vector<unsigned char> bytes;
        if (code < 0x10000) {
            bytes = {static_cast<unsigned char>(code >> 8), static_cast<unsigned char>(code)};
        } else {
            for (int n = 1 + static_cast<int>(random() % 12); n > 0; --n) {
                const unsigned leads[] = {0x81, 0x82, 0x88, 0x93, 0x96, 0xE0, 0xEA, 0xFA, 0x41};
                bytes.push_back(static_cast<unsigned char>(leads[random() % 9]));
                bytes.push_back(static_cast<unsigned char>(0x40 + random() % 0xC0));
            }
        }
        std::string expected;
        const bool ok = codec->DecodeNational(bytes.data(), bytes.size(), expected);
        std::vector<char> out(bytes.size() * TextCodec::kMostPerByte + TextCodec::kRoomAfter);
        char* end = nullptr;
        const TextCodec::Written result = codec->DecodeNationalInto(bytes.data(), bytes.size(), out.data(), end);
        if (result == TextCodec::kUseDecode) continue;
        ASSERT_EQ(result == TextCodec::kWritten, ok) << "code " << code;
        if (ok) {
            ++written;
            ASSERT_EQ(std::string(out.data(), end), expected) << "code " << code;
        }
    }
    EXPECT_GT(written, 7000);
}

// Binary numbers at every change of their digit count, both signs, written by the
// direct form as by the cell rule.
TEST(DirectPlan, BinaryNumbersAtEveryDigitCount) {
    std::string error;
    DataOptions options;
    std::unique_ptr<ValueCodec> codec = ValueCodec::Create(options, 16, error);
    ASSERT_TRUE(codec) << error;
    LayoutPlan plan;
    plan.recordLength = 16;
    for (bool isSigned : {true, false}) {
        Field field{};
        field.column = "B";
        field.kind = Field::kComp5;
        field.length = 8;
        field.offset = isSigned ? 0 : 8;
        field.digits = 18;
        field.isSigned = isSigned;
        plan.fields.push_back(field);
    }
    const DirectPlan compiled = codec->CompileDirect(plan);
    uint64_t power = 1;
    for (int k = 0; k <= 19; ++k, power *= 10) {
        for (uint64_t value : {power - 1, power, power + 1, 0 - power, 0 - power + 1, 0 - power - 1}) {
            unsigned char record[16];
            std::memcpy(record, &value, 8);
            std::memcpy(record + 8, &value, 8);
            std::string expected;
            for (const Field& field : plan.fields) {
                char cell[kDecimalRoom];
                char* end = codec->CsvCellInto(field, record, cell);
                ASSERT_NE(end, nullptr);
                expected += std::string(cell, end) + (&field == &plan.fields.back() ? "\n" : ",");
            }
            char out[512];
            char* end = codec->CsvRowInto(compiled, record, out, "\n");
            ASSERT_NE(end, nullptr);
            ASSERT_EQ(std::string(out, end), expected) << value;
        }
    }
}
