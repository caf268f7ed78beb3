// Numbers of more digits than 64 bits hold (up to the 38 digits of the COBOL rules):
// decoded and encoded exactly in display, packed and SIGN SEPARATE items, or refused
// with their place; the library's values that do not claim 64 bits for them; zoned sign
// zones read as packed signs are; floating point values too small for their form.
#include <gtest/gtest.h>

#include <string>

#include "data_test_util.h"
#include "datafile.h"

using datatest::Bytes;
using datatest::Layout;
using datatest::RunResult;

namespace {

DataOptions Encoding(const char* encoding) {
    DataOptions options;
    options.encoding = encoding;
    return options;
}

// Bytes from hexadecimal digits ("0999D": 09 99 9D).
std::string Hex(const std::string& digits) {
    std::string bytes;
    auto value = [](char c) { return c <= '9' ? c - '0' : c - 'A' + 10; };
    for (size_t i = 0; i + 1 < digits.size(); i += 2) bytes.push_back(static_cast<char>(value(digits[i]) << 4 | value(digits[i + 1])));
    return bytes;
}

// ---------------------------------------------------------------------------------
// The reproductions: values of 20 or more digits came back reduced modulo 2^64

TEST(WideDecimals, PackedValuesPast64BitsDecodeExactly) {
    Layout layout({"01 R.", "   05 P PIC S9(18)V99 COMP-3."}, true);
    RunResult decoded = layout.Decode(Hex("099999999999999999999D"), DataOptions());
    ASSERT_EQ(decoded.status, kExitDone) << decoded.err;
    EXPECT_EQ(decoded.out, "P\n-999999999999999999.99\n");   // was -77662796314522419.19

    Layout wide({"01 R.", "   05 P PIC S9(31) COMP-3."}, true);
    decoded = wide.Decode(Hex("1234567890123456789012345678901C"), DataOptions());
    ASSERT_EQ(decoded.status, kExitDone) << decoded.err;
    EXPECT_EQ(decoded.out, "P\n1234567890123456789012345678901\n");   // was 11711269222405794869
    // encode refused every value of 20 or more digits.
    RunResult encoded = wide.Encode("P\n-1234567890123456789012345678901\n", DataOptions());
    ASSERT_EQ(encoded.status, kExitDone) << encoded.err;
    EXPECT_EQ(encoded.out, Hex("1234567890123456789012345678901D"));
}

TEST(WideDecimals, EveryUsageEncodesAndDecodesBackTheSameValues) {
    Layout layout({"01 R.", "   05 P PIC S9(29)V9(9) COMP-3.", "   05 U PIC 9(31) COMP-3.", "   05 D PIC S9(36)V99.",
                   "   05 L PIC S9(25)V9(5) SIGN LEADING SEPARATE.", "   05 T PIC S9(20) SIGN TRAILING SEPARATE.",
                   "   05 Z PIC 9(38)."},
                  true);
    ASSERT_EQ(layout.Length(), 164);
    const std::string table =
        "P,U,D,L,T,Z\n"
        "-12345678901234567890123456789.123456789,1234567890123456789012345678901,"
        "-123456789012345678901234567890123456.78,-1234567890123456789012345.12345,-98765432109876543210,"
        "99999999999999999999999999999999999999\n"
        "0.000000001,0,0.01,0.00001,1,0\n"
        "99999999999999999999999999999.999999999,9999999999999999999999999999999,"
        "123456789012345678901234567890123456.78,1234567890123456789012345.12345,18446744073709551616,"
        "18446744073709551615\n";
    for (const char* encoding : {"ibm-037", "cp932"}) {
        SCOPED_TRACE(encoding);
        const bool ebcdic = std::string(encoding) == "ibm-037";
        RunResult encoded = layout.Encode(table, Encoding(encoding));
        ASSERT_EQ(encoded.status, kExitDone) << encoded.err;
        ASSERT_EQ(encoded.out.size(), 3u * 164);
        const std::string first = encoded.out.substr(0, 164);
        EXPECT_EQ(first.substr(0, 20), Hex("012345678901234567890123456789123456789D"));
        EXPECT_EQ(first.substr(20, 16), Hex("1234567890123456789012345678901F"));
        // The display digits in the code page's zone, the sign in the last one's.
        EXPECT_EQ(first[36], ebcdic ? '\xF1' : '1');
        EXPECT_EQ(first[73], ebcdic ? '\xD8' : '\x58');
        EXPECT_EQ(first[74], ebcdic ? '\x60' : '-');
        EXPECT_EQ(first.substr(75, 3), ebcdic ? std::string("\xF1\xF2\xF3") : std::string("123"));
        EXPECT_EQ(first[125], ebcdic ? '\x60' : '-');
        EXPECT_EQ(first[124], ebcdic ? '\xF0' : '0');
        const std::string second = encoded.out.substr(164, 164);
        EXPECT_EQ(second.substr(0, 20), Hex("000000000000000000000000000000000000001C"));
        EXPECT_EQ(second[73], ebcdic ? '\xC1' : '\x41');
        RunResult decoded = layout.Decode(encoded.out, Encoding(encoding));
        ASSERT_EQ(decoded.status, kExitDone) << decoded.err;
        EXPECT_EQ(decoded.out, table);
    }
}

TEST(WideDecimals, ValuesBeyondThePictureAreRefusedWithTheirPlace) {
    Layout layout({"01 R.", "   05 A PIC X.", "   05 P PIC S9(20)V99 COMP-3.", "   05 D PIC 9(25)."}, true);
    struct Case {
        const char* row;
        const char* reason;
    };
    for (const Case& c : {Case{"A,P,D\nx,123456789012345678901,1\n", "record 1, item P (offset 1): 123456789012345678901 has more "
                                                                     "digits than the picture's 22"},
                          Case{"A,P,D\nx,1.001,1\n", "item P (offset 1): \"1.001\" has more than 2 decimal places"},
                          Case{"A,P,D\nx,1,-1234567890123456789012\n", "item D (offset 13): negative value"},
                          Case{"A,P,D\nx,1,12345678901234567890123456\n", "item D (offset 13): 12345678901234567890123456 has "
                                                                         "more digits than the picture's 25"},
                          Case{"A,P,D\nx,1,1234567890123456789012x\n", "item D (offset 13): \"1234567890123456789012x\" is "
                                                                       "not a decimal number"}}) {
        RunResult refused = layout.Encode(c.row, DataOptions());
        EXPECT_EQ(refused.status, kExitFailed) << c.row;
        EXPECT_NE(refused.err.find(c.reason), std::string::npos) << refused.err;
    }
    // A value wider than the picture in the bytes: a leading nibble the picture does not
    // use, or a nibble that is no digit past the 19th.
    const std::string text = "x" + std::string(25, '0');
    for (const Case& c : {Case{"10000000000000000000001C", "item P (offset 1): packed value has more digits than the "
                                                            "picture's 22"},
                          Case{"0000000000000000000A001C", "item P (offset 10): packed nibble A of byte 0x0A is not a digit"},
                          Case{"00000000000000000000001E", ""}}) {
        RunResult decoded = layout.Decode(text.substr(0, 1) + Hex(c.row) + text.substr(1), DataOptions());
        if (*c.reason == '\0') {
            EXPECT_EQ(decoded.status, kExitDone) << decoded.err;
            EXPECT_EQ(decoded.out, "A,P,D\nx,0.01,0\n");
            continue;
        }
        EXPECT_EQ(decoded.status, kExitFailed);
        EXPECT_NE(decoded.err.find(std::string("record 1, ") + c.reason), std::string::npos) << decoded.err;
    }
}

TEST(WideDecimals, TheLibrarysValuesHoldThemExactlyAndClaimNo64Bits) {
    Layout copybook({"01 R.", "   05 P PIC S9(18)V99 COMP-3.", "   05 Q PIC S9(16)V99 COMP-3."}, true);
    quillbox::LayoutOptions cobol;
    cobol.cobol = true;
    quillbox::Layout layout(copybook.Path(), cobol);
    const std::string path = qbtest::ProcessUniqueName("wide_", "p.dat");
    {
        quillbox::DataWriter writer(layout, path, DataOptions());
        writer.Set("P", "-999999999999999999.99");
        writer.Set("Q", -999999999999999999LL, 2);
        writer.Write();
        writer.Close();
    }
    EXPECT_EQ(qbtest::ReadFileBytes(path), Hex("099999999999999999999D") + Hex("0999999999999999999D"));
    quillbox::DataReader reader(layout, path, DataOptions());
    ASSERT_TRUE(reader.Next());
    quillbox::Value wide = reader.Get("P");
    EXPECT_EQ(wide.Text(), "-999999999999999999.99");
    EXPECT_FALSE(wide.FitsInt64());
    EXPECT_THROW(wide.Unscaled(), quillbox::Error);
    EXPECT_THROW(wide.AsInt64(), quillbox::Error);
    quillbox::Value narrow = reader.Get("Q");
    EXPECT_TRUE(narrow.FitsInt64());
    EXPECT_EQ(narrow.Unscaled(), -999999999999999999LL);
    std::remove(path.c_str());
}

// ---------------------------------------------------------------------------------
// Zoned signs as IBM's decimal instructions read them

TEST(WideDecimals, ZonedSignZonesAToFReadAsPackedSigns) {
    Layout layout({"01 R.", "   05 S PIC S9(3).", "   05 W PIC S9(21)."}, true);
    struct Case {
        int zone;
        const char* sign;
    };
    const std::string wide = std::string(20, '\xF0');
    for (const Case& c : {Case{0xA, ""}, Case{0xB, "-"}, Case{0xC, ""}, Case{0xD, "-"}, Case{0xE, ""}, Case{0xF, ""}}) {
        RunResult decoded =
            layout.Decode(Bytes({0xF1, 0xF2, c.zone << 4 | 3}) + wide + std::string(1, static_cast<char>(c.zone << 4 | 7)),
                          Encoding("ibm-037"));
        ASSERT_EQ(decoded.status, kExitDone) << c.zone << ": " << decoded.err;
        EXPECT_EQ(decoded.out, std::string("S,W\n") + c.sign + "123," + c.sign + "7\n");
        // encode writes C or D whatever zone was read.
        RunResult encoded = layout.Encode(decoded.out, Encoding("ibm-037"));
        ASSERT_EQ(encoded.status, kExitDone) << encoded.err;
        const int written = *c.sign == '-' ? 0xD0 : 0xC0;
        EXPECT_EQ(encoded.out, Bytes({0xF1, 0xF2, written | 3}) + wide + std::string(1, static_cast<char>(written | 7)));
    }
    // Other zones stay faults, and the zones of a --sign-zones pair are the only ones.
    RunResult refused = layout.Decode(Bytes({0xF1, 0xF2, 0x93}) + wide + "\xF7", Encoding("ibm-037"));
    EXPECT_EQ(refused.status, kExitFailed);
    DataOptions gnucobol = Encoding("cp932");
    ASSERT_TRUE(ParseSignZones("0x30,0x70", gnucobol.positiveZone, gnucobol.negativeZone));
    gnucobol.signZonesGiven = true;
    refused = layout.Decode("12\xB3" + std::string(20, '0') + "7", gnucobol);
    EXPECT_EQ(refused.status, kExitFailed);
    EXPECT_NE(refused.err.find("item S (offset 2): sign zone 0xB0"), std::string::npos) << refused.err;
}

// ---------------------------------------------------------------------------------
// Floating point

TEST(Floats, AValueTooSmallForItsFormIsRefusedNotStoredAsZero) {
    Layout layout({"01 R.", "   05 F COMP-1.", "   05 G COMP-2."}, true);
    for (FloatFormat format : {FloatFormat::kIeeeLe, FloatFormat::kIeeeBe, FloatFormat::kIbmHex}) {
        DataOptions options;
        options.floats = format;
        // IBM's short form reaches 16^-65 (its fraction not normalized) where IEEE's stops at 1.4E-45.
        const std::string tiny = format == FloatFormat::kIbmHex ? "1e-90" : "1e-50";
        RunResult refused = layout.Encode("F,G\n" + tiny + ",0\n", options);
        EXPECT_EQ(refused.status, kExitFailed);
        EXPECT_NE(refused.err.find("item F (offset 0): " + tiny + " is nearer to zero than the smallest value"), std::string::npos)
            << refused.err;
        RunResult kept = layout.Encode("F,G\n1e-40,1e-70\n", options);
        EXPECT_EQ(kept.status, kExitDone) << kept.err;
        refused = layout.Encode("F,G\n0,-1e-400\n", options);
        EXPECT_EQ(refused.status, kExitFailed);
        EXPECT_NE(refused.err.find("item G (offset 4): -1e-400 is nearer to zero"), std::string::npos) << refused.err;
        RunResult zero = layout.Encode("F,G\n0,-0\n", options);
        EXPECT_EQ(zero.status, kExitDone) << zero.err;
    }
}

TEST(WideValues, UnsignedEightByteBinaryValuesPast19DigitsEncodeAsDecodeWritesThem) {
    Layout layout({"01 R.", "   05 U PIC 9(18) COMP-5.", "   05 B PIC 9(18) BINARY."}, true);
    const std::string top(16, '\xFF');
    RunResult decoded = layout.Decode(top, DataOptions());
    ASSERT_EQ(decoded.status, kExitDone) << decoded.err;
    EXPECT_EQ(decoded.out, "U,B\n18446744073709551615,18446744073709551615\n");
    RunResult encoded = layout.Encode(decoded.out, DataOptions());
    EXPECT_EQ(encoded.status, kExitDone) << encoded.err;
    EXPECT_EQ(encoded.out, top);
    encoded = layout.Encode("U,B\n10000000000000000000,0\n", DataOptions());
    EXPECT_EQ(encoded.status, kExitDone) << encoded.err;
    EXPECT_EQ(encoded.out, Bytes({0x00, 0x00, 0xE8, 0x89, 0x04, 0x23, 0xC7, 0x8A}) + std::string(8, '\0'));
    // One past 64 bits, or a negative value, is refused with the item named.
    for (const char* wrong : {"18446744073709551616", "99999999999999999999", "-1"}) {
        RunResult refused = layout.Encode(std::string("U,B\n0,") + wrong + "\n", DataOptions());
        EXPECT_EQ(refused.status, kExitFailed) << wrong;
        EXPECT_NE(refused.err.find("item B (offset 8): "), std::string::npos) << refused.err;
    }
}

TEST(Floats, TheLargestValuesComeBackFromTheTextDecodeWritesAndOnlyValuesPastThemAreRefused) {
    Layout layout({"01 R.", "   05 F COMP-1.", "   05 G COMP-2."}, true);
    for (FloatFormat format : {FloatFormat::kIeeeLe, FloatFormat::kIeeeBe}) {
        DataOptions options;
        options.floats = format;
        // The largest values, each side.
        std::string bytes = format == FloatFormat::kIeeeLe ? Bytes({0xFF, 0xFF, 0x7F, 0x7F}) + Bytes({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xEF, 0x7F})
                                                           : Bytes({0x7F, 0x7F, 0xFF, 0xFF}) + Bytes({0x7F, 0xEF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF});
        RunResult decoded = layout.Decode(bytes, options);
        ASSERT_EQ(decoded.status, kExitDone) << decoded.err;
        RunResult encoded = layout.Encode(decoded.out, options);
        EXPECT_EQ(encoded.status, kExitDone) << decoded.out << encoded.err;
        EXPECT_EQ(encoded.out, bytes) << decoded.out;
        // Rounded up to the largest value, still taken; past half a step beyond it, refused.
        encoded = layout.Encode("F,G\n3.40282356e38,1.7976931348623158e308\n", options);
        EXPECT_EQ(encoded.status, kExitDone) << encoded.err;
        EXPECT_EQ(encoded.out, bytes);
        RunResult refused = layout.Encode("F,G\n3.4028236e38,0\n", options);
        EXPECT_EQ(refused.status, kExitFailed);
        EXPECT_NE(refused.err.find("item F (offset 0): 3.4028236e38 is out of the range of IEEE single precision"),
                  std::string::npos) << refused.err;
        refused = layout.Encode("F,G\n0,-1.7976931348623159e308\n", options);
        EXPECT_EQ(refused.status, kExitFailed);
        EXPECT_NE(refused.err.find("item G (offset 4): -1.7976931348623159e308 is out of the range of IEEE double"),
                  std::string::npos) << refused.err;
    }
}

}  // namespace
