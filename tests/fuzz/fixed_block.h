// A block of bytes at a fixed address, for fuzz targets whose input holds
// addresses into itself (the process sweep's name pointers): with the block
// always at the same place, an address in an input means the same byte on
// every run, and libFuzzer's comparison tracing can find such addresses.
// The bytes behind the input are poisoned for AddressSanitizer, so any read
// past the input's end is reported.
#ifndef VANTOREL_TESTS_FUZZ_FIXED_BLOCK_H
#define VANTOREL_TESTS_FUZZ_FIXED_BLOCK_H

#include <cstddef>
#include <cstdint>

// Where the block starts (outside AddressSanitizer's own heap).
#define FIXED_BLOCK_ADDRESS 0x520000000000ULL
#define FIXED_BLOCK_CAPACITY (4u << 20)

// Copies `size` bytes (at most the capacity) to the block's start and
// returns the block; null when the fixed mapping could not be made.
unsigned char *fixed_block_load(const uint8_t *data, size_t size);

#endif  // VANTOREL_TESTS_FUZZ_FIXED_BLOCK_H
