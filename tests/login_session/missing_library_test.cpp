// Nothing named "QORVPKCS11.dll" lies beside this program or on the loader's search path.
#include <gtest/gtest.h>

#include <filesystem>

#include "loginmodule/card_session.h"
#include "platform/program_path.h"

namespace {

class NeverAsked : public PinPrompt {
 public:
  std::u16string AskPin() override {
    ADD_FAILURE() << "asked for the PIN without a library";
    return u"1234";
  }
};

TEST(CardSessionWithoutLibrary, BothOperationsGiveLoadError) {
  ASSERT_FALSE(std::filesystem::exists(platform::ProgramFolder() + "QORVPKCS11.dll"));
  EXPECT_EQ(SignWithCardKey(u"1234", u"data"), "991,Load error");
  NeverAsked prompt;
  EXPECT_EQ(ReadCardPublicKey(prompt), "991,Load error");
}

}  // namespace
