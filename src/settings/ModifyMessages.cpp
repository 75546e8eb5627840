#include "settings/ModifyMessages.h"

#include "platform/Ipv4.h"

namespace marindo {

std::string NoResponseMessage(std::uint32_t ip) { return "No response from " + FormatIpv4(ip) + "!"; }

std::optional<std::string> ModifyOutcomeMessage(ModifyOutcome outcome, std::uint32_t ip) {
  switch (outcome) {
    case ModifyOutcome::Accepted:
      return kModifySuccess;
    case ModifyOutcome::Refused:
      return kModifyFailed;
    case ModifyOutcome::Answered:
      return std::nullopt;
    case ModifyOutcome::NoResponse:
      break;
  }
  return NoResponseMessage(ip);
}

}  // namespace marindo
