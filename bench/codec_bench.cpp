// Encoding and decoding a console batch of the largest size, the message that
// carries one relayed line to a thousand avatars.

#include <benchmark/benchmark.h>

#include "protocol/wire_message.h"

namespace {

wire::Message fullBatch() {
    wire::Message m;
    m.type = wire::MessageType::Console;
    m.text = "Speaker:\t" + std::string(200, '\xE0');
    for (std::size_t i = 0; i < wire::MAX_CONSOLE_TARGETS; ++i) {
        m.targets.push_back(static_cast<std::int32_t>(i + 1));
    }
    return m;
}

void encodeBatch(benchmark::State& state) {
    const wire::Message batch = fullBatch();
    std::string out;
    for (auto _ : state) {
        out.clear();
        wire::encodeFrame(batch, out);
        benchmark::DoNotOptimize(out.data());
    }
}
BENCHMARK(encodeBatch);

void decodeBatch(benchmark::State& state) {
    std::string frame;
    wire::encodeFrame(fullBatch(), frame);
    const std::string body = frame.substr(wire::FRAME_HEADER_BYTES);
    for (auto _ : state) {
        benchmark::DoNotOptimize(wire::decodeBody(body));
    }
}
BENCHMARK(decodeBatch);

}  // namespace

BENCHMARK_MAIN();
