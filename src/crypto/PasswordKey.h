// The key pair under which both programs store passwords in the settings files.
#pragma once

#include "crypto/BigNumber.h"

namespace orvex {

// Public exponent 50003, a 512-bit modulus and a 508-bit private exponent. Changing any of them
// makes every stored password read back as empty.
extern const BigNumber::Words kPasswordKeyE;
extern const BigNumber::Words kPasswordKeyN;
extern const BigNumber::Words kPasswordKeyD;

}  // namespace orvex
