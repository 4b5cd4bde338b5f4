// The parameterized interface IDs the Windows backend declares, derived from their type
// signatures by the Windows Runtime's rule: SHA-1 over a namespace ID and the signature, made
// into a version-5 UUID. Runs on any OS.

#include "common/windows_runtime/interface_ids.h"

#include <gtest/gtest.h>
#include <openssl/sha.h>

#include <cstdio>
#include <string>

namespace pellora::platform::windows::runtime {
namespace {

// "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}" in lower case, as signatures write an ID.
std::string braced(const InterfaceId& id) {
  char text[40];
  std::snprintf(text, sizeof text, "{%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x}", id.data1,
                id.data2, id.data3, id.data4[0], id.data4[1], id.data4[2], id.data4[3], id.data4[4],
                id.data4[5], id.data4[6], id.data4[7]);
  return text;
}

InterfaceId derived_from(const std::string& signature) {
  static const uint8_t namespace_id[16] = {0x11, 0xf4, 0x7a, 0xd5, 0x7b, 0x73, 0x42, 0xc0,
                                           0xab, 0xae, 0x87, 0x8b, 0x1e, 0x16, 0xad, 0xee};
  std::string input(reinterpret_cast<const char*>(namespace_id), sizeof namespace_id);
  input += signature;
  uint8_t digest[SHA_DIGEST_LENGTH];
  SHA1(reinterpret_cast<const uint8_t*>(input.data()), input.size(), digest);
  digest[6] = static_cast<uint8_t>((digest[6] & 0x0F) | 0x50);
  digest[8] = static_cast<uint8_t>((digest[8] & 0x3F) | 0x80);
  InterfaceId id{};
  id.data1 = static_cast<uint32_t>(digest[0]) << 24 | static_cast<uint32_t>(digest[1]) << 16 |
             static_cast<uint32_t>(digest[2]) << 8 | digest[3];
  id.data2 = static_cast<uint16_t>(digest[4] << 8 | digest[5]);
  id.data3 = static_cast<uint16_t>(digest[6] << 8 | digest[7]);
  for (int i = 0; i < 8; ++i) id.data4[i] = digest[8 + i];
  return id;
}

TEST(RuntimeInterfaceIds, TheDeploymentOperationAndItsHandlersFollowFromTheirSignatures) {
  // The result's class signature carries IDeploymentResult's ID: a wrong one shows here too.
  const std::string type_arguments = "rc(" + std::string(deployment_result_class) + ";" +
                                     braced(iid_deployment_result) + ");" +
                                     deployment_progress_signature;
  const std::pair<InterfaceId, InterfaceId> cases[] = {
      {generic_async_operation_with_progress, iid_deployment_operation},
      {generic_async_operation_progress_handler, iid_deployment_progress_handler},
      {generic_async_operation_with_progress_completed_handler, iid_deployment_completed_handler},
  };
  for (const auto& [generic, declared] : cases) {
    const std::string signature = "pinterface(" + braced(generic) + ";" + type_arguments + ")";
    EXPECT_EQ(braced(derived_from(signature)), braced(declared)) << signature;
  }
  // The rule itself, on a case that involves no ID of ours.
  EXPECT_EQ(braced(derived_from("pinterface({faa585ea-6214-4217-afda-7f46de5869b3};string)")),
            "{e2fcc7c1-3bfc-5a0b-b2b0-72e769d1cb7e}");
}

}  // namespace
}  // namespace pellora::platform::windows::runtime
