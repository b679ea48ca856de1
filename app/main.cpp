#include "app/UpdateApp.h"
#include "platform/crypt/CryptoConfig.h"

// The one application object, constructed before main and destroyed at exit,
// when it gives up the single-instance mutex.
CUpdateApp theApp;

int main(int argc, char** argv) {
  // Only a run over HTTPS needs OpenSSL's configuration file: read then.
  DeferCryptoConfiguration();
  theApp.SetCommandLine(argc, argv);
  theApp.InitInstance();
  return theApp.ExitInstance();
}
