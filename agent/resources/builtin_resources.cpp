#include "agent/resources/builtin_resources.h"

#include <cstddef>

// Defined in the sources that the build generates from the credential files.
extern const uint8_t kLocalhostCertificate[];
extern const std::size_t kLocalhostCertificate_size;
extern const uint8_t kLocalhostPrivateKey[];
extern const std::size_t kLocalhostPrivateKey_size;
extern const uint8_t kListPublicKey[];
extern const std::size_t kListPublicKey_size;

namespace {

struct BuiltinResource {
  std::string_view type;
  int id;
  const uint8_t* data;
  const std::size_t* size;  // read at call time; copying it here would need dynamic init
};

const BuiltinResource kResources[] = {
    {kLocalhostResourceType, kServerCertificateResource, kLocalhostCertificate,
     &kLocalhostCertificate_size},
    {kLocalhostResourceType, kServerPrivateKeyResource, kLocalhostPrivateKey,
     &kLocalhostPrivateKey_size},
};

}  // namespace

std::span<const uint8_t> FindBinaryResource(std::string_view type, int id) {
  for (const BuiltinResource& resource : kResources) {
    if (resource.type == type && resource.id == id) {
      return {resource.data, *resource.size};
    }
  }
  return {};
}

std::string_view BuiltinListPublicKey() {
  return {reinterpret_cast<const char*>(kListPublicKey), kListPublicKey_size};
}
