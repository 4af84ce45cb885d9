#pragma once
// The enumeration name tables as the output layer has always named them;
// the tables and their helpers live in common/enum_names.h, beside which
// every folder can keep its enumerations' tables.

#include "common/enum_names.h"

namespace report {

using ::EnumName;
using ::enumId;
using ::enumIdsWellFormed;
using ::enumPhrase;
using ::enumTableComplete;
using ::findEnumId;
using ::findEnumName;

}  // namespace report
