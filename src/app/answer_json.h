// An answer as one JSON object on one line, for programs that read the tool
// through a pipe (--json).
#pragma once

#include <cstdint>
#include <string>

#include "app/answer.h"

// {"pid":…,"name":…,"found":…,"address":…,"address_text":…,"found_by":…,
//  "views":[…],"unreadable_regions":…,"reason":…}: the address as a number
// and as the result line of `outputType` shows it; "found_by" "markers" or
// "kernel area", null where not found; "reason" the reason lines joined by
// "; ", without the tool's name, null where found. Only ASCII is written:
// other bytes of a name are escaped as the code points of the same number.
std::string AnswerJson(const Answer& answer, std::int32_t outputType);
