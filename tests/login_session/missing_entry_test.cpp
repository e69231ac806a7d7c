// Beside this program lies the fake library built without C_DestroyObject.
#include <gtest/gtest.h>

#include "fake_library.h"
#include "loginmodule/card_session.h"

namespace {

TEST(CardSessionWithIncompleteLibrary, NoFunctionIsCalledAndTheLibraryIsReleased) {
  const FakeLibrary library;
  EXPECT_EQ(SignWithCardKey(u"1234", u"data"), "991,Function error");
  FakePrompt prompt(library, u"1234");
  EXPECT_EQ(ReadCardPublicKey(prompt), "991,Function error");
  EXPECT_EQ(library.Calls(), (std::vector<std::string>{"load", "unload", "load", "unload"}));
  EXPECT_FALSE(FakeLibrary::Loaded());
}

}  // namespace
