#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

// Replays every input kept in a fuzzer's regressions folder (every input the fuzzer ever found
// to break a property, and a few chosen ones) through that fuzzer's own property checks;
// returns how many it replayed.
template <typename Check>
int replayKeptInputs(const std::filesystem::path& folder, Check check) {
    int replayed = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        std::ifstream in(entry.path(), std::ios::binary);
        const std::string input((std::istreambuf_iterator<char>(in)), {});
        SCOPED_TRACE(entry.path().filename().string());
        check(reinterpret_cast<const std::uint8_t*>(input.data()), input.size());
        ++replayed;
    }
    return replayed;
}
