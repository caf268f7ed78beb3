// The Japanese EBCDIC code pages 930, 939, 1390 and 1399, which the codec converts by its
// own tables on every platform, checked against glibc's iconv: every single byte, every
// double byte, every character of the BMP and the ones outside it, and random texts
// with shift codes both ways. iconv is taken with the codec's rules for shift codes:
// the text of an item ends in single-byte mode, and national text has none.
#include <gtest/gtest.h>

#include <iconv.h>

#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "textcodec.h"

using quillbox::TextCodec;

namespace {

const char kShiftOut = '\x0E', kShiftIn = '\x0F';

struct Page {
    const char* name;
    const char* iconv;
};

const Page kPages[] = {{"ibm-930", "IBM930"}, {"ibm-939", "IBM939"}, {"ibm-1390", "IBM1390"}, {"ibm-1399", "IBM1399"}};

class Iconv {
public:
    Iconv(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
    ~Iconv() {
        if (Usable()) iconv_close(cd_);
    }
    bool Usable() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
    // The whole text from the initial shift state, flushed; false when any of it fails.
    bool Convert(const std::string& in, std::string& out) {
        out.clear();
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        std::vector<char> buffer(in.size() * 8 + 16);
        char* input = const_cast<char*>(in.data());
        size_t left = in.size(), room = buffer.size();
        char* output = buffer.data();
        if (iconv(cd_, &input, &left, &output, &room) == static_cast<size_t>(-1)) return false;
        if (iconv(cd_, nullptr, nullptr, &output, &room) == static_cast<size_t>(-1)) return false;
        out.assign(buffer.data(), static_cast<size_t>(output - buffer.data()));
        return true;
    }

private:
    iconv_t cd_;
};

// What the codec must give, from iconv, with the codec's rules where iconv is one way:
// - the single bytes IBM leaves unassigned, which iconv reads as SUB (U+001A) in 1390
//   and 1399, are no characters, as 930 and 939 have them: SUB is byte 3F alone;
// - a character iconv writes as another one (930's ~, read from A0, written as A1, an
//   overline) is written as the byte that reads as it;
// - a second code of one character (1390's double-byte euro 42E1 beside its byte E1,
//   which iconv writes) is no character, so that decode then encode is byte-exact.
class Reference {
public:
    explicit Reference(const Page& page) : toUtf8_("UTF-8", page.iconv), fromUtf8_(page.iconv, "UTF-8") {
        std::string out, back, text;
        for (int b = 0; b < 256 && Usable(); ++b) {
            if (b == 0x0E || b == 0x0F || b == 0x3F) continue;
            unassigned_[b] = toUtf8_.Convert(std::string(1, static_cast<char>(b)), out) && out == "\x1A";
        }
        for (int b = 0; b < 256 && Usable(); ++b) {
            const std::string code(1, static_cast<char>(b));
            if (b == 0x0E || b == 0x0F || unassigned_[b] || !toUtf8_.Convert(code, text)) continue;
            if (!fromUtf8_.Convert(text, out) || !toUtf8_.Convert(out, back) || back != text) oneWay_.emplace(text, code);
        }
        for (int lead = 0x40; lead < 0xFF && Usable(); ++lead) {
            for (int trail = 0x40; trail < 0xFF; ++trail) {
                const std::string pair = {static_cast<char>(lead), static_cast<char>(trail)};
                if (!toUtf8_.Convert(kShiftOut + pair + kShiftIn, text) || text.empty()) continue;
                if (fromUtf8_.Convert(text, out) && toUtf8_.Convert(out, back) && back == text &&
                    out != kShiftOut + pair + kShiftIn) {
                    secondCodes_.insert(pair);
                }
            }
        }
    }
    bool Usable() const { return toUtf8_.Usable() && fromUtf8_.Usable(); }
    bool Unassigned(unsigned char b) const { return unassigned_[b]; }

    bool Decode(const std::string& bytes, std::string& out) {
        bool shifted = false;
        for (char c : bytes) {
            if (c == kShiftOut || c == kShiftIn) {
                if (shifted == (c == kShiftOut)) return false;
                shifted = c == kShiftOut;
            } else if (!shifted && unassigned_[static_cast<unsigned char>(c)]) {
                return false;
            }
        }
        for (size_t i = 0, shift = 0; i < bytes.size(); ++i) {
            if (bytes[i] == kShiftOut || bytes[i] == kShiftIn) {
                shift = bytes[i] == kShiftOut;
            } else if (shift && i + 1 < bytes.size()) {
                if (secondCodes_.count(bytes.substr(i, 2))) return false;
                ++i;
            }
        }
        return !shifted && toUtf8_.Convert(bytes, out);
    }
    bool DecodeNational(const std::string& bytes, std::string& out) {
        if (bytes.size() % 2 != 0 || bytes.find_first_of("\x0E\x0F") != std::string::npos) return false;
        for (size_t i = 0; i < bytes.size(); i += 2) {
            if (secondCodes_.count(bytes.substr(i, 2))) return false;
        }
        return toUtf8_.Convert(kShiftOut + bytes + kShiftIn, out);
    }
    // iconv's bytes, refused where they read back as another text; a character iconv
    // writes one way only is the byte that reads as it, between pieces iconv writes.
    bool Encode(const std::string& text, std::string& out) {
        out.clear();
        size_t from = 0;
        for (size_t i = 0; i <= text.size(); ++i) {
            auto one = oneWay_.end();
            for (auto it = oneWay_.begin(); i < text.size() && it != oneWay_.end(); ++it) {
                if (text.compare(i, it->first.size(), it->first) == 0) one = it;
            }
            if (i < text.size() && one == oneWay_.end()) continue;
            std::string piece, back;
            if (i > from && !(fromUtf8_.Convert(text.substr(from, i - from), piece) && toUtf8_.Convert(piece, back) &&
                              back == text.substr(from, i - from))) {
                return false;
            }
            out += piece;
            if (one != oneWay_.end()) {
                out += one->second;
                i += one->first.size() - 1;
            }
            from = i + 1;
        }
        return true;
    }
    bool EncodeNational(const std::string& text, std::string& out) {
        if (!Encode(text, out)) return false;
        if (out.empty()) return true;
        if (out.size() < 2 || out.front() != kShiftOut || out.back() != kShiftIn) return false;
        out = out.substr(1, out.size() - 2);
        return out.find_first_of("\x0E\x0F") == std::string::npos;
    }

private:
    Iconv toUtf8_;
    Iconv fromUtf8_;
    bool unassigned_[256] = {};
    std::map<std::string, std::string> oneWay_;   // a character's text, the byte that reads as it
    std::set<std::string> secondCodes_;           // double bytes of a character written as another code
};

std::unique_ptr<TextCodec> CodecOf(const Page& page) {
    std::string error;
    std::unique_ptr<TextCodec> codec = TextCodec::Create(page.name, error);
    EXPECT_TRUE(codec) << error;
    return codec;
}

// Checks the codec's decode (both forms) of `bytes` against the reference's.
void ExpectDecodedAlike(TextCodec& codec, Reference& reference, const std::string& bytes, bool national) {
    std::string expected, decoded;
    bool ok = national ? reference.DecodeNational(bytes, expected) : reference.Decode(bytes, expected);
    const unsigned char* data = reinterpret_cast<const unsigned char*>(bytes.data());
    bool got = national ? codec.DecodeNational(data, bytes.size(), decoded) : codec.Decode(data, bytes.size(), decoded);
    std::string hex;
    for (unsigned char c : bytes) hex += "0123456789ABCDEF"[c >> 4], hex += "0123456789ABCDEF"[c & 15];
    ASSERT_EQ(got, ok) << (national ? "national " : "") << hex;
    if (ok) {
        ASSERT_EQ(decoded, expected) << hex;
    }
    std::vector<char> into(bytes.size() * TextCodec::kMostPerByte + TextCodec::kRoomAfter);
    char* end = nullptr;
    TextCodec::Written written = national ? codec.DecodeNationalInto(data, bytes.size(), into.data(), end)
                                          : codec.DecodeInto(data, bytes.size(), into.data(), end);
    ASSERT_EQ(written, ok ? TextCodec::kWritten : TextCodec::kNoText) << hex;
    if (ok) {
        ASSERT_EQ(std::string(into.data(), end), expected) << hex;
    }
}

void ExpectEncodedAlike(TextCodec& codec, Reference& reference, const std::string& text) {
    for (bool national : {false, true}) {
        std::string expected, encoded;
        bool ok = national ? reference.EncodeNational(text, expected) : reference.Encode(text, expected);
        bool got = national ? codec.EncodeNational(text.data(), text.size(), encoded)
                            : codec.Encode(text.data(), text.size(), encoded);
        ASSERT_EQ(got, ok) << (national ? "national " : "") << text;
        if (ok) {
            ASSERT_EQ(encoded, expected) << text;
        }
    }
}

TEST(JapaneseEbcdic, EverySingleAndDoubleByteReadsAsIconvReadsIt) {
    for (const Page& page : kPages) {
        SCOPED_TRACE(page.name);
        Reference reference(page);
        ASSERT_TRUE(reference.Usable());
        std::unique_ptr<TextCodec> codec = CodecOf(page);
        ASSERT_TRUE(codec);
        EXPECT_TRUE(codec->IsEbcdic());
        EXPECT_EQ(std::string(codec->NationalSpace(), 2), "\x40\x40");
        for (int b = 0; b < 256; ++b) ExpectDecodedAlike(*codec, reference, std::string(1, static_cast<char>(b)), false);
        int doubles = 0;
        for (int lead = 0; lead < 256; ++lead) {
            for (int trail = 0; trail < 256; ++trail) {
                std::string pair = {static_cast<char>(lead), static_cast<char>(trail)};
                ExpectDecodedAlike(*codec, reference, kShiftOut + pair + kShiftIn, false);
                ExpectDecodedAlike(*codec, reference, pair, true);
                std::string text;
                if (codec->DecodeNational(reinterpret_cast<const unsigned char*>(pair.data()), 2, text)) ++doubles;
                if (::testing::Test::HasFatalFailure()) return;
            }
        }
        EXPECT_GT(doubles, 11000);
    }
}

// The reproduction: 1390 and 1399 read 27 unassigned single bytes as U+001A and encode
// wrote 3F back; 930 and 939 call the same bytes bad data, and so do they now.
TEST(JapaneseEbcdic, UnassignedSingleBytesOf1390And1399AreNoCharactersAsIn930And939) {
    for (const Page& page : kPages) {
        SCOPED_TRACE(page.name);
        Reference reference(page);
        std::unique_ptr<TextCodec> codec = CodecOf(page);
        ASSERT_TRUE(codec);
        int unassigned = 0;
        for (int b = 0; b < 256; ++b) {
            const unsigned char byte = static_cast<unsigned char>(b);
            std::string text;
            if (reference.Unassigned(byte)) {
                ++unassigned;
                EXPECT_FALSE(codec->Decode(&byte, 1, text)) << b;
            }
        }
        const std::string name = page.name;
        EXPECT_EQ(unassigned, name == "ibm-1390" || name == "ibm-1399" ? 27 : 0);   // and 3F, SUB itself
        for (unsigned char b : {0xCA, 0xCB, 0xCC, 0xCD, 0xCE, 0xCF}) {
            std::string text;
            EXPECT_FALSE(codec->Decode(&b, 1, text)) << int{b};
        }
        // SUB itself is byte 3F.
        std::string text, bytes;
        const unsigned char sub = 0x3F;
        ASSERT_TRUE(codec->Decode(&sub, 1, text));
        EXPECT_EQ(text, "\x1A");
        ASSERT_TRUE(codec->Encode(text.data(), text.size(), bytes));
        EXPECT_EQ(bytes, "\x3F");
    }
}

TEST(JapaneseEbcdic, EveryCharacterEncodesAsIconvWritesItOrIsRefusedWhereItReadsBackOtherwise) {
    for (const Page& page : kPages) {
        SCOPED_TRACE(page.name);
        Reference reference(page);
        std::unique_ptr<TextCodec> codec = CodecOf(page);
        ASSERT_TRUE(codec);
        // The BMP, and every character a double byte reads as (the ones outside it, and
        // the pairs of characters a double byte stands for).
        std::set<std::string> texts;
        for (uint32_t cp = 1; cp < 0x10000; ++cp) {
            if (cp >= 0xD800 && cp <= 0xDFFF) continue;
            std::string text;
            quillbox::AppendUtf8(cp, text);
            texts.insert(text);
        }
        for (int lead = 0x40; lead < 0xFF; ++lead) {
            for (int trail = 0x40; trail < 0xFF; ++trail) {
                unsigned char pair[2] = {static_cast<unsigned char>(lead), static_cast<unsigned char>(trail)};
                std::string text;
                if (codec->DecodeNational(pair, 2, text)) texts.insert(text);
            }
        }
        int written = 0;
        for (const std::string& text : texts) {
            ExpectEncodedAlike(*codec, reference, text);
            if (::testing::Test::HasFatalFailure()) return;
            std::string bytes;
            if (codec->Encode(text.data(), text.size(), bytes)) ++written;
        }
        EXPECT_GT(written, 11000);
        // The reproduction: 930 and 939 read a backslash and a tilde from bytes that
        // encode refused (iconv writes them one way only, as the yen sign and the
        // overline); now written as the bytes they are read from.
        std::string bytes;
        const std::string name = page.name;
        if (name == "ibm-930" || name == "ibm-939") {
            ASSERT_TRUE(codec->Encode("\\~", 2, bytes));
            EXPECT_EQ(bytes, name == "ibm-930" ? "\xB2\xA0" : "\xE0\xA1");
            std::string text;
            ASSERT_TRUE(codec->Decode(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), text));
            EXPECT_EQ(text, "\\~");
        } else {
            // 1390 and 1399 read the euro from E1 alone: 42E1 was read too and written back as E1.
            const unsigned char pair[4] = {0x0E, 0x42, 0xE1, 0x0F};
            std::string text;
            EXPECT_FALSE(codec->Decode(pair, 4, text));
            ASSERT_TRUE(codec->Encode("\xE2\x82\xAC", 3, bytes));
            EXPECT_EQ(bytes, "\xE1");
        }
    }
}

TEST(JapaneseEbcdic, RandomTextsWithShiftCodesGoBothWaysAsIconv) {
    std::mt19937 random(930);
    for (const Page& page : kPages) {
        SCOPED_TRACE(page.name);
        Reference reference(page);
        std::unique_ptr<TextCodec> codec = CodecOf(page);
        ASSERT_TRUE(codec);
        // The pieces texts are made of: single bytes, double bytes that read as text,
        // shift codes, and any byte.
        std::vector<std::string> singles, doubles;
        for (int b = 0; b < 256; ++b) {
            unsigned char byte = static_cast<unsigned char>(b);
            std::string text;
            if (codec->Decode(&byte, 1, text)) singles.push_back(std::string(1, static_cast<char>(b)));
        }
        for (int lead = 0x40; lead < 0xFF; ++lead) {
            for (int trail = 0x40; trail < 0xFF; ++trail) {
                unsigned char pair[2] = {static_cast<unsigned char>(lead), static_cast<unsigned char>(trail)};
                std::string text;
                if (codec->DecodeNational(pair, 2, text)) doubles.push_back(std::string(pair, pair + 2));
            }
        }
        ASSERT_FALSE(singles.empty());
        ASSERT_FALSE(doubles.empty());
        for (int round = 0; round < 20000; ++round) {
            // Mostly well-formed: runs of single bytes and of double bytes between SO
            // and SI; now and then a stray shift code or any byte.
            std::string bytes, national;
            bool shifted = false;
            int pieces = static_cast<int>(random() % 12);
            for (int i = 0; i < pieces; ++i) {
                unsigned kind = random() % 20;
                if (kind == 0) {
                    bytes.push_back(static_cast<char>(random() % 256));
                } else if (kind == 1) {
                    bytes.push_back(random() % 2 ? kShiftOut : kShiftIn);
                } else if (kind < 8) {
                    if (!shifted) bytes.push_back(kShiftOut);
                    shifted = true;
                    const std::string& pair = doubles[random() % doubles.size()];
                    bytes += pair;
                    national += pair;
                } else {
                    if (shifted) bytes.push_back(kShiftIn);
                    shifted = false;
                    bytes += singles[random() % singles.size()];
                }
            }
            if (shifted && random() % 8 != 0) bytes.push_back(kShiftIn);
            ExpectDecodedAlike(*codec, reference, bytes, false);
            ExpectDecodedAlike(*codec, reference, national, true);
            // And back: the text of what read as text.
            std::string text;
            if (codec->Decode(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), text))
                ExpectEncodedAlike(*codec, reference, text);
            if (codec->DecodeNational(reinterpret_cast<const unsigned char*>(national.data()), national.size(), text))
                ExpectEncodedAlike(*codec, reference, text);
            if (::testing::Test::HasFatalFailure()) return;
        }
        // Texts iconv writes otherwise or not at all: a character alone that another
        // double byte combines with, a yen sign beside a backslash, characters no page has.
        for (const std::string& text : {std::string(u8"か゚"), std::string(u8"゚"), std::string(u8"か゚か"),
                                        std::string(u8"¥\\~‾"), std::string(u8"A日本B"), std::string(u8"😀"),
                                        std::string(u8"𠀋"), std::string(u8"€"), std::string(u8"ｱｲｳ"),
                                        std::string("\x0E"), std::string("\x0F"), std::string("a\0b", 3)}) {
            ExpectEncodedAlike(*codec, reference, text);
        }
    }
}

}  // namespace
