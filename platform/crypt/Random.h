// Bytes from the system's random source, for identifiers that must not be
// guessed or repeated.
#pragma once

#include <cstddef>

// Fills size bytes at data from OpenSSL's generator, which the kernel seeds.
// False (and nothing to rely on at data) when the generator cannot be used.
bool FillRandomBytes(unsigned char* data, std::size_t size);
