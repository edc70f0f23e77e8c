#pragma once

#include <cstddef>
#include <cstdint>

// Checks every property of the gateway's client-facing framing on one input, taken as bytes a
// client sends: the line framer the shared line and PJLink cut commands with, and PJLink's
// line parser on every line; aborts on a violation.
void checkGatewayProperties(const std::uint8_t* data, std::size_t size);
