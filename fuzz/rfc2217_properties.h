#pragma once

#include <cstddef>
#include <cstdint>

// Checks every property of the Telnet / RFC 2217 codec on one input, taken as bytes from a
// server; aborts on a violation.
void checkRfc2217Properties(const std::uint8_t* data, std::size_t size);
