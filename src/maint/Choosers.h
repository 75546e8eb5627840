#pragma once

#include <QString>

namespace marindo {

// The file-open and folder choosers of the maintenance pages. The program
// shows the system's dialogs; tests answer in their place.
class MaintChoosers {
 public:
  virtual ~MaintChoosers() = default;
  // The chosen file's path, or an empty text when the operator cancelled.
  // `filter` is a file-type list in QFileDialog's form ("*.tar (*.tar)").
  virtual QString OpenFile(const QString& filter) = 0;
  // The chosen folder's path, or an empty text when the operator cancelled.
  virtual QString ExistingFolder() = 0;
};

// The system's dialogs.
MaintChoosers& DialogChoosers();

}  // namespace marindo
