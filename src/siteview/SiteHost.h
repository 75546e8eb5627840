#pragma once

#include <cstdint>

namespace marindo {

// What the site view asks of the window that owns the clock link. The link
// serves one caller at a time: while the site view works through it, the
// owner starts no exchange of its own.
class SiteHost {
 public:
  virtual ~SiteHost() = default;
  // True while the site view works through the link.
  virtual void SiteBusy(bool busy) = 0;
  // A refresh replaced the link's list of clocks.
  virtual void ClocksReplaced() = 0;
  // The operator picked this clock in the site view; false when the owner's
  // list has no clock at that address.
  virtual bool SelectClock(std::uint32_t ip) = 0;
};

}  // namespace marindo
