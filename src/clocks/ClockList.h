#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "clocks/ClockRecord.h"

namespace marindo {

// The online clocks in order of discovery. Appending may move records, so
// callers hold an address and look the record up again rather than keeping
// a pointer across a search.
class ClockList {
 public:
  void Append(ClockRecord record);
  ClockRecord* FindByIp(std::uint32_t ip);
  const ClockRecord* FindByIp(std::uint32_t ip) const;
  // First record whose label equals `label` exactly (case-sensitive).
  ClockRecord* FindByLabel(std::string_view label);
  const ClockRecord* FindByLabel(std::string_view label) const;
  // Empties the list; its storage is kept for the next search.
  void ClearClocks();
  std::size_t Count() const { return records_.size(); }

  auto begin() const { return records_.begin(); }
  auto end() const { return records_.end(); }
  auto begin() { return records_.begin(); }
  auto end() { return records_.end(); }

 private:
  std::vector<ClockRecord> records_;
};

}  // namespace marindo
