#pragma once

namespace marindo {

// The caption of the program's windows and message boxes, and the version
// the About box shows.
inline constexpr const char* kAppTitle = "Quellan_V4_1.96";

}  // namespace marindo
