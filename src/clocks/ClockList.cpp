#include "clocks/ClockList.h"

#include <algorithm>
#include <utility>

namespace marindo {
namespace {

template <typename Records, typename Predicate>
auto* FindFirst(Records& records, Predicate predicate) {
  const auto it = std::find_if(records.begin(), records.end(), predicate);
  return it == records.end() ? nullptr : &*it;
}

}  // namespace

void ClockList::Append(ClockRecord record) { records_.push_back(std::move(record)); }

ClockRecord* ClockList::FindByIp(std::uint32_t ip) {
  return FindFirst(records_, [ip](const ClockRecord& r) { return r.ip == ip; });
}

const ClockRecord* ClockList::FindByIp(std::uint32_t ip) const {
  return FindFirst(records_, [ip](const ClockRecord& r) { return r.ip == ip; });
}

ClockRecord* ClockList::FindByLabel(std::string_view label) {
  return FindFirst(records_, [label](const ClockRecord& r) { return r.label == label; });
}

const ClockRecord* ClockList::FindByLabel(std::string_view label) const {
  return FindFirst(records_, [label](const ClockRecord& r) { return r.label == label; });
}

void ClockList::ClearClocks() { records_.clear(); }

}  // namespace marindo
