// The phone-label table: label texts and their one-byte codes, both ways.
// `initMaps` fills the process-wide table once; lookups before that fail with a message.
#pragma once

#include <string>

namespace tarvik {

// One byte of the phone-label table: 0-35 phone labels, 36 "blk", 37 "sbl",
// 96 "ton", 97 "sil", 98 "spc", 99 "cut", 101-109 "gr1" ... "gr9".
using LabelCode = char;

inline constexpr LabelCode BLK_CODE = 36;  // '$'
inline constexpr LabelCode SIL_CODE = 97;  // 'a'
inline constexpr LabelCode SPC_CODE = 98;  // 'b'
inline constexpr LabelCode CUT_CODE = 99;  // 'c'

// Fills both directions of the table with its 51 pairs. A second call prints
// "ERROR: maps already initialized" and changes nothing.
void initMaps();

// The label's code (0-255); -1 with a printed line when the table is not
// filled or does not hold `label` (compared byte by byte).
int strToCode(const std::string& label);

// The code's label; "ERROR" before `initMaps`, "ERROR_<signed value>" for a
// code the table does not hold, each with a printed line.
std::string codeToStr(LabelCode code);

// SIL_CODE for "ton", "sil", "pau", "h#" and "h\# ", SPC_CODE for any other
// label. Needs no table.
LabelCode strToSpeechCode(const std::string& label);

}  // namespace tarvik
