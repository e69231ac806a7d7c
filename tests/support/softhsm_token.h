// A SoftHSM token for tests, made by the project's token script and exposed to the login module
// as "QORVPKCS11.dll" beside the running test program.
#pragma once

#include <string>

namespace testing_support {

struct SoftHsmToken {
  bool skipped = false;  // the token tools are not installed and could not be
  std::string problem;   // why the token could not be made; empty when it was
};

// Runs `script` on `folder`, places its library link beside this program and points
// SOFTHSM2_CONF at the token's configuration.
SoftHsmToken MakeSoftHsmToken(const std::string& script, const std::string& folder);

}  // namespace testing_support
