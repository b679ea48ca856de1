#include "platform/crypt/CryptoConfig.h"

#include <openssl/conf.h>
#include <openssl/crypto.h>

#include <atomic>
#include <mutex>

#include "platform/core_guard.h"

namespace {
std::atomic<bool> deferred{false};
}  // namespace

void DeferCryptoConfiguration() {
  // Once libcrypto is initialised without its configuration, no later
  // initialisation reads it (libcurl's included): LoadCryptoConfiguration must.
  // Nor does it free its tables at exit (a tenth of an up-to-date check): the
  // process ends, and the memory with it.
  if (OPENSSL_init_crypto(OPENSSL_INIT_NO_LOAD_CONFIG | OPENSSL_INIT_NO_ATEXIT, nullptr) == 1) deferred = true;
}

void LoadCryptoConfiguration() {
  static std::once_flag once;
  std::call_once(once, [] {
    if (deferred)
      CONF_modules_load_file(nullptr, nullptr, CONF_MFLAGS_DEFAULT_SECTION | CONF_MFLAGS_IGNORE_MISSING_FILE);
  });
}
