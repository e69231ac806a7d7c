#include "agent/shell/capi_ostrabel_app.h"

int main(int argc, char** argv) {
  CCapiOstrabelApp theApp;
  return theApp.Run(argc, argv);
}
