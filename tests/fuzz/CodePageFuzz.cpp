// Feeds received text to the code-page conversion: serials, NTP server names
// and display texts arrive as a clock's code-page bytes, are shown as UTF-8
// and go back to the clock re-encoded and cut to their field. Input layout:
//   byte 0  the code page
//   byte 1  the width of the field the text goes back into
//   rest    the bytes as the clock sent them

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "FuzzSupport.h"
#include "platform/CodePage.h"

namespace {

using namespace marindo;
using fuzz::Check;

std::size_t Zeros(std::string_view text) {
  return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\0'));
}

// The field holds the longest leading part of the encoded text that fits,
// one byte short at most (a double-byte character that would be split).
void CheckFitted(std::string_view encoded, std::size_t width, CodePage cp) {
  const std::string fitted = FitToField(encoded, width, cp);
  Check(fitted.size() <= width);
  Check(encoded.starts_with(fitted));
  Check(encoded.size() > width || fitted == encoded);
  Check(fitted.size() + 1 >= std::min(width, encoded.size()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const CodePage cp = fuzz::CodePageOf(data[0]);
  const std::size_t width = data[1];
  const std::string_view received(reinterpret_cast<const char*>(data + 2), size - 2);

  // What the windows show: always UTF-8, and the zero bytes that end fixed
  // fields are still there to end them.
  const std::string shown = FromCodePage(received, cp);
  Check(fuzz::IsUtf8(shown));
  Check(Zeros(shown) == Zeros(received));

  // What goes back to the clock.
  const std::string encoded = ToCodePage(shown, cp);
  CheckFitted(encoded, width, cp);
  CheckFitted(received, width, cp);

  // Text that is not UTF-8 at all still gives code-page bytes.
  const std::string raw = ToCodePage(received, cp);
  Check(Zeros(raw) == Zeros(received));

  const std::string field = TextBeforeZero(received.data(), std::min(width, received.size()));
  Check(field.size() <= width && received.starts_with(field));
  Check(field.find('\0') == std::string::npos);
  return 0;
}
