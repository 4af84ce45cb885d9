#pragma once
// Tokens made the way the field tool makes them, from fields a test chose.

#include <string>

#include "token/token.h"

namespace orlimtest {

// Packs fields, encrypts the record with the token key (or with key, when
// given, prepared as the token key is) and returns the upper-case hex line
// orlim would print, without the line end.
std::string sealToken(const TokenFields& fields, const char* key = nullptr);

}  // namespace orlimtest
