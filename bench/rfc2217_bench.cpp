// The Telnet / RFC 2217 codec on the receive path: line data alone, and a stream in which
// every byte belongs to a command (the worst a server can send), in one piece, in pieces of a
// typical TCP read and one byte at a time, 1 KiB to 1 MiB. Linear growth of the time means
// constant work per received byte.
#include <benchmark/benchmark.h>

#include <cstddef>
#include <string>
#include <string_view>

#include "link/rfc2217.h"

namespace {

// Every byte a command: doubled IAC, NOP, an agreed option confirmed again, a refused one,
// a SET-BAUDRATE answer and a notification.
std::string commandStream(std::size_t size) {
    const std::string_view unit(
        "\xff\xff\xff\xf1\xff\xfb\x00\xff\xfb\x01"
        "\xff\xfa\x2c\x65\x00\x00\x4b\x00\xff\xf0\xff\xfa\x2c\x6a\x60\xff\xf0",
        27);
    std::string out;
    while (out.size() < size) out += unit;
    out.resize(size - size % unit.size());
    return out;
}

std::string lineData(std::size_t size) {
    std::string out(size, '\0');
    for (std::size_t i = 0; i < size; ++i) out[i] = static_cast<char>(i % 255);
    return out;
}

void receive(benchmark::State& state, const std::string& stream, std::size_t piece) {
    // The port keeps its buffers between reads; the allocator is not what is measured.
    std::string data;
    std::string reply;
    for (auto _ : state) {
        serial::Rfc2217Session session;
        benchmark::DoNotOptimize(session.start({19200, 8, 'N', 1}));
        data.clear();
        reply.clear();
        for (std::size_t at = 0; at < stream.size(); at += piece) {
            session.receive(std::string_view(stream).substr(at, piece), data, reply);
        }
        benchmark::DoNotOptimize(data.data());
        benchmark::DoNotOptimize(reply.data());
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(stream.size()));
    state.SetComplexityN(static_cast<int64_t>(stream.size()));
}

void BM_LineData(benchmark::State& state) {
    receive(state, lineData(static_cast<std::size_t>(state.range(0))), 1460);
}
void BM_Commands(benchmark::State& state) {
    receive(state, commandStream(static_cast<std::size_t>(state.range(0))), 1460);
}
void BM_CommandsOneByteAtATime(benchmark::State& state) {
    receive(state, commandStream(static_cast<std::size_t>(state.range(0))), 1);
}

BENCHMARK(BM_LineData)->RangeMultiplier(8)->Range(1 << 10, 1 << 20)->Complexity(benchmark::oN);
BENCHMARK(BM_Commands)->RangeMultiplier(8)->Range(1 << 10, 1 << 20)->Complexity(benchmark::oN);
BENCHMARK(BM_CommandsOneByteAtATime)
    ->RangeMultiplier(8)
    ->Range(1 << 10, 1 << 20)
    ->Complexity(benchmark::oN);

}  // namespace

BENCHMARK_MAIN();
