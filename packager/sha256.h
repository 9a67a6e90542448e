// SHA-256 (FIPS 180-4), for the digests a package carries of its files. Our own: Debian packages
// no hashing library for the MinGW build of cabpack, and the code is short. Portable C++17.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>

using Sha256Digest = std::array<uint8_t, 32>;

struct Sha256 {
  void Update(const uint8_t* data, size_t size);
  Sha256Digest Final();  // the digest of everything given; the state is spent

 private:
  void Compress(const uint8_t* block);
  uint32_t State[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                       0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
  uint8_t Pending[64] = {};
  size_t PendingSize = 0;
  uint64_t Total = 0;
};
