#include "agent/trust/firefox_trust.h"

void ImportFirefoxTrust() {
  // Filled in with the profile import.
}
