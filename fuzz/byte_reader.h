// Reads a fuzz input as a stream of small decisions. Past the end every read
// answers 0, so any input, however short, describes a complete scenario.
#pragma once

#include <climits>
#include <cstddef>
#include <cstdint>

class ByteReader {
public:
    ByteReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    bool exhausted() const { return pos_ >= size_; }

    uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }

    uint16_t u16()
    {
        const uint16_t low = byte();
        return static_cast<uint16_t>(low | byte() << 8);
    }

    uint32_t u32()
    {
        const uint32_t low = u16();
        return low | static_cast<uint32_t>(u16()) << 16;
    }

    // A value in [0, bound), bound at most 256.
    int below(int bound) { return byte() % bound; }

    // A signed 32-bit value that favours the edges where arithmetic breaks:
    // the type's limits, the host's ranges and their neighbours, small
    // numbers and, now and then, any value at all.
    int32_t interesting_int()
    {
        static const int32_t edges[] = {
            INT_MIN, INT_MIN + 1, -65536, -32769, -32768, -2049, -2048, -257, -256, -255,
            -181, -180, -179, -17, -16, -15, -8, -2, -1, 0, 1, 2, 7, 8, 15, 16, 17,
            31, 32, 33, 179, 180, 181, 255, 256, 257, 320, 599, 600, 704, 750, 751,
            2047, 2048, 2049, 32767, 32768, 65535, 65536, INT_MAX - 1, INT_MAX};
        constexpr int edge_count = sizeof(edges) / sizeof(edges[0]);
        const uint8_t selector = byte();
        if (selector < 0x60)
            return edges[selector % edge_count];
        if (selector < 0xA0)
            return selector - 0x60 - 8;              // -8 .. 55: rectangle-sized numbers
        if (selector < 0xF0)
            return static_cast<int32_t>(u16() % 2048) - 1024;
        return static_cast<int32_t>(u32());
    }

private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
};
