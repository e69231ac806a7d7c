#include "bridge_fixture.h"

#include <dlfcn.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <span>

#include "platform/file_helpers.h"
#include "platform/text_conversion.h"
#include "platform/tick_counter.h"
#include "tools/ostrabel_list/list_writer.h"

namespace bridge_test {

Bytes ReadBytes(const std::string& path) {
  return platform::ReadFileBytes(path).value_or(Bytes{});
}

bool IsLoaded(const std::u16string& path) {
  void* module = dlopen(platform::WideToAnsi(path).c_str(), RTLD_NOW | RTLD_NOLOAD);
  if (module == nullptr) {
    return false;
  }
  dlclose(module);
  return true;
}

void BridgeTest::SetUp() {
  FrameTest::SetUp();
  agentDirectory = home.path() + "/agent/";
  ASSERT_EQ(mkdir(agentDirectory.c_str(), 0700), 0);
  frame->AgentDirectory = agentDirectory;
  // The salt is the digest of the certificate the agent serves.
  std::string error;
  ASSERT_TRUE(ostrabel_list::CertificateSalt(
      std::span(frame->ServerCertificate.data(), static_cast<size_t>(frame->ServerCertificateSize)),
      salt, error))
      << error;
  frame->VerificationList.VerificationSalt.Reset();
  frame->VerificationList.VerificationSalt.AppendBytes(salt.data(),
                                                       static_cast<int32_t>(salt.size()));
  cardModule = ReadBytes(CARD_MODULE_PATH);
  loginModule = ReadBytes(LOGIN_MODULE_PATH);
  ASSERT_FALSE(cardModule.empty());
  ASSERT_FALSE(loginModule.empty());
  ASSERT_EQ(frame->TempDirectory, home.tmp());
}

std::vector<std::string> BridgeTest::AskAll(const std::vector<std::string>& queries) {
  return WithClient([&] {
    std::vector<std::string> bodies;
    testing_support::TlsClient client;
    const bool connected = client.Connect(port);
    for (const std::string& query : queries) {
      const bool sent = connected && client.Send("GET /?" + query + " HTTP/1.1\r\n\r\n");
      bodies.push_back(sent ? testing_support::BodyOf(client.ReadResponse()) : "not sent");
    }
    return bodies;
  });
}

void BridgeTest::PutModule(const std::string& name, const Bytes& bytes) {
  const std::string path = agentDirectory + name;
  std::remove(path.c_str());  // a new file, as an update would write it
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

void BridgeTest::WriteList(const std::vector<std::pair<std::string, Bytes>>& modules) {
  std::vector<std::string> lines;
  for (const auto& [name, bytes] : modules) {
    lines.push_back(ostrabel_list::ModuleLine(name, salt, bytes));
  }
  const std::string key =
      std::string(std::getenv("OSTRABEL_SOURCE_DIR")) + "/agent/resources/dev/list-signing.key.pem";
  std::string error;
  ASSERT_TRUE(ostrabel_list::WriteSignedList(agentDirectory + "Ostrabel.ini",
                                             ostrabel_list::JoinLines(lines), key, error))
      << error;
}

void BridgeTest::InstallModules(bool withLoginModule) {
  PutModule("DorVIKA.dll", cardModule);
  std::vector<std::pair<std::string, Bytes>> listed = {{"DorVIKA.dll", cardModule}};
  if (withLoginModule) {
    PutModule("Quillomat.dll", loginModule);
    listed.emplace_back("Quillomat.dll", loginModule);
  }
  WriteList(listed);
}

std::string BridgeTest::LoadCardModule(uint32_t tick) {
  platform::SetTickCountForTesting(tick);
  const std::string body = Ask("InitDLL=DorVIKA");
  const std::string token = std::to_string(static_cast<int32_t>(tick));
  EXPECT_EQ(body, "||0||" + token + "||");
  return token;
}

std::vector<std::string> BridgeTest::Copies() const {
  std::vector<std::string> paths;
  for (const std::string& name : platform::FindFiles(home.tmp(), "OSTRABEL.dll-*")) {
    paths.push_back(home.tmp() + name);
  }
  std::sort(paths.begin(), paths.end());
  return paths;
}

PluginModule* BridgeTest::Slot(size_t index) const {
  return index < frame->PluginTable.size() ? frame->PluginTable[index].get() : nullptr;
}

}  // namespace bridge_test
