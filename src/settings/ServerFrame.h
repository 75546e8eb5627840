#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "clocks/ClockRecord.h"
#include "link/ClockFrame.h"
#include "link/CommandCodes.h"
#include "platform/CodePage.h"

namespace marindo {

// The NTP servers modify (code 0x07) and the server slots of a record, as
// plain values, so that the bytes can be checked without any window.

inline constexpr std::size_t kServerAddressRows = 5;
// Only the first two slots carry a host name on the wire.
inline constexpr std::size_t kServerNameRows = 2;
inline constexpr std::size_t kServerNameBytes = 30;

using ServerAddresses = std::array<std::uint32_t, kServerAddressRows>;  // host order

// Address form: 28 bytes, p[1] = 0 and five addresses in network order.
ClockFrame BuildServerAddressFrame(const ServerAddresses& addresses);

// Name form: 68 bytes, p[1] = 1 and two 30-byte name fields. The names are
// UTF-8; each goes out in `cp`, zero-padded, and a name whose code-page form is
// longer than its field is cut at the last whole character that fits, so it
// never runs into the next field.
ClockFrame BuildServerNameFrame(std::string_view firstName, std::string_view secondName, CodePage cp);

// The slot's address text as a number; nothing while the clock has reported
// no address for it (the text is empty) or the text is not an address.
std::optional<std::uint32_t> SlotAddress(const NtpSlot& slot);

// The slot's host name in UTF-8: its bytes up to the first zero, at most 30.
std::string SlotName(const NtpSlot& slot, CodePage cp);

// The NTP section as the page shows it.
struct ServerControls {
  bool names = false;  // "Domain" checked, else "Time Server IP"
  ServerAddresses addresses{};
  std::array<std::string, kServerNameRows> nameTexts;  // UTF-8
  // The address rows as they show, in either form: the clock's slots, a slot
  // without an address left blank rather than shown as 0.0.0.0. Going back
  // from names to addresses shows them again.
  std::array<std::optional<std::uint32_t>, kServerAddressRows> slotAddresses{};
  // Read back from the page: whether one of the two forms is checked (a
  // cleared page has neither, and nothing can go out), and whether an address
  // row is only partly filled in (it would go out with zeros in it).
  bool formChosen = true;
  bool partialAddress = false;
};
ServerControls ServerControlsFromRecord(const ClockRecord& record, CodePage cp);

// Refused when neither form is chosen.
inline constexpr std::string_view kChooseFormMessage = "请选择NTP模式(ip或域名)";

// The NTP modify frame of the model, or why it cannot go out: no form chosen,
// or an address row only partly filled in (it would go out with zeros in it).
std::variant<ClockFrame, std::string> EncodeServerControls(const ServerControls& controls, CodePage cp);

}  // namespace marindo
