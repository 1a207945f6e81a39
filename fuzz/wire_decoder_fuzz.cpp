// Fuzz target: the frame reader and the body decoder.
//
// The input's first byte chooses how often the rest is repeated (1 to 8
// times, so that short inputs make streams longer than one frame body) and
// how the stream is cut into reads. Checked:
// - FrameReader cuts the same frames out of the stream, and stops at the same
//   place, whatever the reads are, and holds no more than one partial frame;
// - every body that decodes encodes back to the same bytes, and those decode
//   to the same message.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "protocol/wire_message.h"

namespace {

using wire::FrameReader;

struct Cut {
    std::vector<std::string> bodies;
    bool malformed = false;
    std::size_t left = 0;  // bytes of an unfinished frame, when not malformed
};

// The frames of the stream, read straight from the framing rules.
Cut referenceCut(const std::string& stream) {
    Cut cut;
    std::size_t at = 0;
    while (stream.size() - at >= wire::FRAME_HEADER_BYTES) {
        const auto* header = reinterpret_cast<const unsigned char*>(stream.data() + at);
        std::size_t length = (std::size_t{header[0]} << 24) | (std::size_t{header[1]} << 16) |
                             (std::size_t{header[2]} << 8) | header[3];
        if (length == 0 || length > wire::MAX_BODY_BYTES) {
            cut.malformed = true;
            return cut;
        }
        if (stream.size() - at - wire::FRAME_HEADER_BYTES < length) {
            break;
        }
        cut.bodies.push_back(stream.substr(at + wire::FRAME_HEADER_BYTES, length));
        at += wire::FRAME_HEADER_BYTES + length;
    }
    cut.left = stream.size() - at;
    return cut;
}

// The frames FrameReader gives when the stream arrives in reads whose sizes
// come from the seed, draining the reader after each read as a client does.
Cut readerCut(const std::string& stream, std::uint32_t seed) {
    Cut cut;
    FrameReader reader;
    std::size_t at = 0;
    std::string body;
    while (at < stream.size()) {
        seed = seed * 1103515245u + 12345u;
        // Mostly short reads, sometimes longer than a whole frame.
        std::size_t chunk = (seed >> 16) % 8 == 0 ? 1 + (seed >> 8) % 20000 : 1 + (seed >> 8) % 64;
        chunk = std::min(chunk, stream.size() - at);
        reader.append(stream.data() + at, chunk);
        at += chunk;
        for (;;) {
            FrameReader::Status status = reader.next(body);
            if (status == FrameReader::Status::Malformed) {
                cut.malformed = true;
                return cut;
            }
            if (status == FrameReader::Status::NeedMore) {
                break;
            }
            cut.bodies.push_back(body);
        }
        FUZZ_CHECK(reader.buffered() < wire::FRAME_HEADER_BYTES + wire::MAX_BODY_BYTES);
    }
    cut.left = reader.buffered();
    return cut;
}

void checkRoundTrip(const std::string& body) {
    std::optional<wire::Message> message = wire::decodeBody(body);
    if (!message) {
        return;
    }
    std::string frame;
    FUZZ_CHECK(wire::encodeFrame(*message, frame));
    FUZZ_CHECK(frame.size() == wire::FRAME_HEADER_BYTES + body.size());
    FUZZ_CHECK(frame.compare(wire::FRAME_HEADER_BYTES, std::string::npos, body) == 0);
    std::optional<wire::Message> again = wire::decodeBody(frame.substr(wire::FRAME_HEADER_BYTES));
    FUZZ_CHECK(again && *again == *message);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::string rest(reinterpret_cast<const char*>(data) + 1, size - 1);
    std::string stream;
    for (int i = 0; i <= (data[0] & 7); ++i) {
        stream += rest;
    }
    const Cut expected = referenceCut(stream);
    const Cut cut = readerCut(stream, data[0] >> 3);
    FUZZ_CHECK(cut.bodies == expected.bodies && cut.malformed == expected.malformed);
    if (!expected.malformed) {
        FUZZ_CHECK(cut.left == expected.left);
    }
    for (const std::string& body : cut.bodies) {
        checkRoundTrip(body);
    }
    // The body alone too, so that the decoder sees the fuzzer's bytes as a body
    // without a valid header first.
    checkRoundTrip(rest);
    return 0;
}
