#include "app/UpdateApp.h"

// The one application object, constructed before main and destroyed at exit,
// when it gives up the single-instance mutex.
CUpdateApp theApp;

int main(int argc, char** argv) {
  theApp.SetCommandLine(argc, argv);
  theApp.InitInstance();
  return theApp.ExitInstance();
}
