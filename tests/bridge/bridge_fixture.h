// The real frame with a private agent folder, stand-in plug-in modules and a signed list.
#pragma once

#include <string>
#include <vector>

#include "shell/frame_fixture.h"

namespace bridge_test {

using Bytes = std::vector<uint8_t>;

// The bytes of a file; empty when it cannot be read.
Bytes ReadBytes(const std::string& path);
// True while the loader holds the module loaded from `path`.
bool IsLoaded(const std::u16string& path);

class BridgeTest : public FrameTest {
 protected:
  void SetUp() override;

  // The bodies of the answers to "GET /?<query>", one connection for all of them.
  std::vector<std::string> AskAll(const std::vector<std::string>& queries);
  std::string Ask(const std::string& query) { return AskAll({query}).front(); }

  void PutModule(const std::string& name, const Bytes& bytes);
  // A signed Ostrabel.ini listing each module under its name.
  void WriteList(const std::vector<std::pair<std::string, Bytes>>& modules);
  // Places and lists the stand-in card module (and, when asked, the login module).
  void InstallModules(bool withLoginModule = false);
  // InitDLL=DorVIKA with the tick counter fixed at `tick`; the token text.
  std::string LoadCardModule(uint32_t tick);

  // The module copies in the temporary folder (full paths, sorted).
  std::vector<std::string> Copies() const;
  PluginModule* Slot(size_t index) const;

  std::string agentDirectory;
  Bytes salt;
  Bytes cardModule;
  Bytes loginModule;
};

}  // namespace bridge_test
