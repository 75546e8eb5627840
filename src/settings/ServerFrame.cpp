#include "settings/ServerFrame.h"

#include <algorithm>
#include <span>

#include "platform/Ipv4.h"
#include "settings/BasicSettings.h"

namespace marindo {
namespace {

constexpr std::uint8_t kFormAddresses = 0;
constexpr std::uint8_t kFormNames = 1;
constexpr std::size_t kFirstAddress = 2;
constexpr std::size_t kFirstName = 2;
constexpr std::size_t kAddressPayload = kFirstAddress + 4 * kServerAddressRows;          // 22
constexpr std::size_t kNamePayload = kFirstName + kServerNameBytes * kServerNameRows;  // 62

void WriteName(std::span<std::uint8_t, kServerNameBytes> field, std::string_view name, CodePage cp) {
  const std::string encoded = FitToField(ToCodePage(name, cp), field.size(), cp);
  std::copy(encoded.begin(), encoded.end(), field.begin());
}

}  // namespace

ClockFrame BuildServerAddressFrame(const ServerAddresses& addresses) {
  std::array<std::uint8_t, kAddressPayload> payload{};
  payload[0] = code::kModifyServers;
  payload[1] = kFormAddresses;
  for (std::size_t i = 0; i < addresses.size(); ++i) {
    WriteBe32(&payload[kFirstAddress + 4 * i], addresses[i]);
  }
  return ClockFrame::Build(payload);
}

ClockFrame BuildServerNameFrame(std::string_view firstName, std::string_view secondName, CodePage cp) {
  std::array<std::uint8_t, kNamePayload> payload{};
  payload[0] = code::kModifyServers;
  payload[1] = kFormNames;
  const std::span<std::uint8_t> names(payload.begin() + kFirstName, payload.end());
  WriteName(names.subspan<0, kServerNameBytes>(), firstName, cp);
  WriteName(names.subspan<kServerNameBytes, kServerNameBytes>(), secondName, cp);
  return ClockFrame::Build(payload);
}

std::optional<std::uint32_t> SlotAddress(const NtpSlot& slot) {
  const std::string text = TextBeforeZero(slot.address.data(), slot.address.size());
  if (text.empty()) return std::nullopt;
  return ParseIpv4(text);
}

std::string SlotName(const NtpSlot& slot, CodePage cp) {
  return FromCodePage(TextBeforeZero(slot.name.data(), slot.name.size()), cp);
}

// Address fields stay blank in name form, and name fields in address form.
ServerControls ServerControlsFromRecord(const ClockRecord& r, CodePage cp) {
  ServerControls c;
  c.names = r.ntpMode != 0;
  for (std::size_t i = 0; i < kServerAddressRows; ++i) c.slotAddresses[i] = SlotAddress(r.ntpServers[i]);
  if (c.names) {
    for (std::size_t i = 0; i < kServerNameRows; ++i) c.nameTexts[i] = SlotName(r.ntpServers[i], cp);
  } else {
    for (std::size_t i = 0; i < kServerAddressRows; ++i) c.addresses[i] = c.slotAddresses[i].value_or(0);
  }
  return c;
}

std::variant<ClockFrame, std::string> EncodeServerControls(const ServerControls& controls, CodePage cp) {
  if (!controls.formChosen) return std::string(kChooseFormMessage);
  if (controls.names) return BuildServerNameFrame(controls.nameTexts[0], controls.nameTexts[1], cp);
  if (controls.partialAddress) return std::string(RefusalMessage(BasicRefusal::InvalidIpAddress));
  return BuildServerAddressFrame(controls.addresses);
}

}  // namespace marindo
