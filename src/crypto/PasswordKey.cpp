// The built-in password key pair, generated once with TRSA::GenerateKeys at 512 bits.
#include "crypto/PasswordKey.h"

namespace orvex {

const BigNumber::Words kPasswordKeyE = {0x0000C353u};

const BigNumber::Words kPasswordKeyN = {
    0xAFE7759Du, 0x8EA815B1u, 0x13389002u, 0xB69719A0u, 0x7F39E081u, 0x8329CC9Cu,
    0x4A7C1F2Cu, 0x53AEF68Bu, 0xF9D73968u, 0xF372E5E3u, 0x4463F060u, 0xF646EDC5u,
    0x5C7BF494u, 0x6D3743C2u, 0x83F750CAu, 0x877CF26Cu,
};

const BigNumber::Words kPasswordKeyD = {
    0xEE83A38Fu, 0xBD1A38B5u, 0x8631929Cu, 0x321F6284u, 0xB9228A9Du, 0x514F3F7Fu,
    0x01DEF939u, 0x3E163D6Eu, 0xEAB77625u, 0x580AC822u, 0xADA99998u, 0xCA72254Bu,
    0x32DBCF36u, 0xBE432DA0u, 0x916AE3C2u, 0x0BBAD7B0u,
};

}  // namespace orvex
