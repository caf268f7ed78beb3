// English beside the copybook analysis's Japanese messages. The analysis (and the
// desktop program, which shows its messages as they are) says Japanese; the command
// line and the Python module say the Japanese with its English after it.
#ifndef QUILLBOX_CODEC_ENGLISH_H
#define QUILLBOX_CODEC_ENGLISH_H

#include <string>
#include <vector>

namespace quillbox {

// `message` (the analysis's text, Shift_JIS) with its English after its first line:
// "JAPANESE (ENGLISH)". A message that holds no Japanese, or whose English is not known,
// is given back as it is.
std::string WithEnglish(const std::string& message);

// The English of the first line of `message` (Shift_JIS), with the names and numbers
// the message holds; empty when it is not a message the analysis says.
std::string EnglishOf(const std::string& message);

// The Japanese forms of every message known, Shift_JIS, with "%" where the message
// holds a name or a number (for the tests that hold them against the analysis's texts).
std::vector<std::string> KnownJapaneseForms();

}  // namespace quillbox

#endif
