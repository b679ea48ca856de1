// When OpenSSL reads its configuration file (openssl.cnf). Reading it costs
// more than the rest of an up-to-date check; only TLS has a use for it.
#pragma once

// Keeps libcrypto from reading the configuration file when it is first used.
// Called first thing in main, before anything uses OpenSSL.
void DeferCryptoConfiguration();

// Reads the configuration file now, once per process, unless it was read
// already: before the first TLS connection, so that the system's settings for
// TLS hold as they would without the deferral.
void LoadCryptoConfiguration();
