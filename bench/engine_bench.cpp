// The command engine on the receive path: rendering a reply window of up to the 32767
// characters the panel keeps, decoding a long rendered reply, and decoding a rendered reply
// as it grows one character at a time.

#include <benchmark/benchmark.h>

#include <cstddef>
#include <string>
#include <string_view>

#include "engine/command.h"
#include "engine/display_form.h"
#include "engine/status.h"

namespace {

// Every byte value in turn, so that every kind of token occurs.
std::string allBytes(std::size_t size) {
    std::string text(size, '\0');
    for (std::size_t i = 0; i < size; ++i) text[i] = static_cast<char>(i % 256);
    return text;
}

void BM_DisplayForm(benchmark::State& state) {
    const std::string text = allBytes(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        std::string rendered = engine::displayForm(text);
        benchmark::DoNotOptimize(rendered.data());
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
    state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_DisplayForm)->RangeMultiplier(3)->Range(100, 30000)->Complexity(benchmark::oN);

// A reply arriving one character per receive event, its rendering extended each time.
void BM_IncrementalRendering(benchmark::State& state) {
    const std::string text = allBytes(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        std::string rendered = " ";
        for (std::size_t i = 0; i < text.size(); ++i) {
            engine::appendDisplayTokens(rendered, std::string_view(text).substr(i, 1));
        }
        benchmark::DoNotOptimize(rendered.data());
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
    state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_IncrementalRendering)
    ->RangeMultiplier(3)
    ->Range(100, 30000)
    ->Complexity(benchmark::oN);

constexpr std::string_view kQueries[] = {
    "CR0", "CR1", "CR4", "CR3", "CR6", "CRA", "CR9", "CR PRESSURE", "CR7",
};

// A full reply window of digits: the longest R there is, and the longest number for the
// pressure decoder to read.
void BM_DecodeStatusLongReply(benchmark::State& state) {
    const std::string_view query = kQueries[state.range(0)];
    const std::string outCommand = engine::commandText("", query);
    std::string reply(engine::kReplyWindowLimit, '0');
    for (std::size_t i = 0; i < reply.size(); ++i) reply[i] = static_cast<char>('0' + i % 10);
    const std::string rendered = engine::displayForm(reply);
    const engine::LampModeTexts lamp{" OFF", " ON"};
    state.SetLabel(std::string(query));
    for (auto _ : state) {
        auto caption = engine::decodeStatus(outCommand, "", rendered, lamp);
        benchmark::DoNotOptimize(caption);
    }
}
BENCHMARK(BM_DecodeStatusLongReply)->DenseRange(0, std::size(kQueries) - 1);

// A rendered reply of digits fed to the reply decoder one character at a time, its STATUS
// update asked for after each: linear in the length for every query.
void BM_DecodeGrowingReply(benchmark::State& state) {
    const std::string_view query = kQueries[state.range(0)];
    const std::string outCommand = engine::commandText("", query);
    const std::string rendered =
        engine::displayForm(std::string(static_cast<std::size_t>(state.range(1)), '7'));
    const engine::LampModeTexts lamp{" OFF", " ON"};
    state.SetLabel(std::string(query));
    for (auto _ : state) {
        engine::ReplyDecoder decoder;
        for (std::size_t i = 1; i <= rendered.size(); ++i) {
            auto update = decoder.update(outCommand, "", std::string_view(rendered).substr(0, i), lamp);
            benchmark::DoNotOptimize(update);
        }
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(rendered.size()));
}
BENCHMARK(BM_DecodeGrowingReply)
    ->ArgsProduct({benchmark::CreateDenseRange(0, std::size(kQueries) - 1, 1), {3000, 30000}});

}  // namespace
