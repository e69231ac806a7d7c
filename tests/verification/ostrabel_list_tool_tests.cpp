// The ostrabel-list program as a deployer runs it.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "agent/bridge/verification_list.h"
#include "agent/resources/builtin_resources.h"
#include "list_test_support.h"

namespace {

using list_test::DevFile;
using list_test::PatternBytes;
using list_test::ReadText;
using list_test::WriteBytes;

struct ToolRun {
  int status;
  std::string out;
  std::string err;
};

class ToolTest : public testing::Test {
 protected:
  ToolRun Tool(const std::string& arguments) {
    const std::string command = std::string("'" OSTRABEL_TEST_LIST_TOOL "' ") + arguments + " >'" +
                                folder_.Path("out") + "' 2>'" + folder_.Path("err") + "'";
    const int status = std::system(command.c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadText(folder_.Path("out")),
            ReadText(folder_.Path("err"))};
  }
  std::string Write(const std::string& modules) {
    return "write --key '" + DevFile("list-signing.key.pem") + "' --cert '" +
           DevFile("localhost.crt.der") + "' --out '" + folder_.Path("Ostrabel.ini") + "' " +
           modules;
  }
  std::string In(const char* name) { return "'" + folder_.Path(name) + "'"; }

  platform_test::ScratchFolder folder_;
};

TEST_F(ToolTest, PrintShowsWhatWriteWrote) {
  WriteBytes(folder_.Path("Quillomat.dll"), PatternBytes(4000));
  WriteBytes(folder_.Path("DorVIKA.dll"), PatternBytes(7));
  const ToolRun written = Tool(Write(In("Quillomat.dll") + " " + In("DorVIKA.dll")));
  ASSERT_EQ(written.status, 0) << written.err;
  EXPECT_EQ(written.out.find("Quillomat.dll = "), 0u) << written.out;
  EXPECT_NE(written.out.find("\nDorVIKA.dll = "), std::string::npos) << written.out;
  EXPECT_NE(written.out.find(".4000\n"), std::string::npos) << written.out;

  const ToolRun printed =
      Tool("print --pub '" + DevFile("list-signing.pub.pem") + "' " + In("Ostrabel.ini"));
  ASSERT_EQ(printed.status, 0) << printed.err;
  EXPECT_EQ(printed.out, written.out);

  if (BuiltinListPublicKey() == ReadText(DevFile("list-signing.pub.pem"))) {
    EXPECT_EQ(Tool("print " + In("Ostrabel.ini")).out, written.out);  // the built-in key
    VerificationList list;
    const auto certificate = list_test::ReadBytes(DevFile("localhost.crt.der"));
    Sha256Digest(list.VerificationSalt, certificate.data(), certificate.size());
    ASSERT_TRUE(LoadVerificationList(folder_.Path("Ostrabel.ini"), list));
    EXPECT_TRUE(VerifyModuleFile(list, FindVerificationEntry(list, "Quillomat.dll")));
    EXPECT_TRUE(VerifyModuleFile(list, FindVerificationEntry(list, "DorVIKA.dll")));
  }
}

TEST_F(ToolTest, PrintSaysWhenAListIsUnreadable) {
  const std::string pub = " --pub '" + DevFile("list-signing.pub.pem") + "' ";
  WriteBytes(folder_.Path("odd.ini"), "ABC");
  WriteBytes(folder_.Path("partial.ini"), std::string(510, 'A'));
  for (const char* name : {"odd.ini", "partial.ini", "missing.ini"}) {
    const ToolRun printed = Tool("print" + pub + In(name));
    EXPECT_EQ(printed.status, 1) << name;
    EXPECT_NE(printed.err.find("unreadable"), std::string::npos) << printed.err;
    EXPECT_TRUE(printed.out.empty()) << name;
  }
}

TEST_F(ToolTest, WriteRefusesModulesTheAgentWouldMisread) {
  std::filesystem::create_directory(folder_.Path("other"));
  WriteBytes(folder_.Path("DorVIKA.dll"), PatternBytes(7));
  WriteBytes(folder_.Path("other/dorvika.DLL"), PatternBytes(8));
  WriteBytes(folder_.Path("a=b.dll"), PatternBytes(9));
  WriteBytes(folder_.Path("empty.dll"), "");
  const std::string cases[] = {
      In("DorVIKA.dll") + " " + In("other/dorvika.DLL"),  // the second could never be found
      In("a=b.dll"),
      In("empty.dll"),
      In("missing.dll"),
  };
  for (const std::string& modules : cases) {
    const ToolRun written = Tool(Write(modules));
    EXPECT_EQ(written.status, 1) << modules;
    EXPECT_FALSE(written.err.empty()) << modules;
    EXPECT_FALSE(std::filesystem::exists(folder_.Path("Ostrabel.ini"))) << modules;
  }
  EXPECT_EQ(Tool("write --key x.pem").status, 2);
}

}  // namespace
