#pragma once

#include <cstddef>
#include <cstdint>

// Checks every property of the command engine on one input; aborts on a violation.
void checkEngineProperties(const std::uint8_t* data, std::size_t size);
