// tests/support/sha256.h — SHA-256 (FIPS 180-4) of a byte string, as lowercase hex, so that
// tests can pin whole encoded streams by a digest that sha256sum reproduces.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace aacs::testing {

std::string Sha256Hex(const std::vector<uint8_t>& bytes);

}  // namespace aacs::testing
