// The fuzzers' second reading of an input: its bytes as hex digits, so a
// PDU reader gets past its hex check into every field.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

inline std::string HexOf(const std::uint8_t* data, std::size_t size)
{
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string hex;
    hex.reserve(2 * size);
    for (std::size_t i = 0; i < size; ++i) {
        hex += kDigits[data[i] >> 4];
        hex += kDigits[data[i] & 0xF];
    }
    return hex;
}
