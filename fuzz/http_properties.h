#pragma once

#include <cstddef>
#include <cstdint>

// Checks every property of the HTTP port's request framing, routing and bodies on one input,
// taken as the bytes a client sends; aborts on a violation.
void checkHttpProperties(const std::uint8_t* data, std::size_t size);
