#pragma once

#include <QIcon>

namespace marindo {

// The program's icon, a wall clock face, for captions and the task switcher.
QIcon ProgramIcon();

}  // namespace marindo
