#include "platform/crypt/Random.h"

#include <openssl/rand.h>

#include <climits>

bool FillRandomBytes(unsigned char* data, std::size_t size) {
  if (size > static_cast<std::size_t>(INT_MAX)) return false;
  return RAND_bytes(data, static_cast<int>(size)) == 1;
}
