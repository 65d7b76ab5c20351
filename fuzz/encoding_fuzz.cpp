// Input files in UTF-8 and UTF-16 against the plain stand-ins: conversion
// whole, streamed and line by line, detection and validation. Byte 0: the
// encoding and the read size; byte 1: how many following bytes give the
// chunk sizes; the rest is the text.
#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "tests/text/oracle.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace korvalen;
    if (size < 2) {
        return 0;
    }
    const std::string_view all(reinterpret_cast<const char*>(data), size);
    const std::size_t nsizes = std::min<std::size_t>(data[1] % 16, size - 2);
    oracle::AbortOn(oracle::EncodingFailure(all.substr(2 + nsizes),
                                            static_cast<TextEncoding>(data[0] % 4),
                                            1 + (data[0] >> 2) * 5, all.substr(2, nsizes)));
    return 0;
}
