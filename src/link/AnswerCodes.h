#pragma once

#include <cstdint>

namespace marindo {

// Whether a frame of `answerCode` from the clock that was asked answers a
// request of `requestCode`. Queries and the search are answered under their
// own code; a modify result comes under the modify's own code or under 0x0F
// or 0x11; the display settings and the upgrade announcement take any frame
// as their answer. A code the tool never sends has no answer.
bool AnswersRequest(std::uint8_t requestCode, std::uint8_t answerCode);

}  // namespace marindo
