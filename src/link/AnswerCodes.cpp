#include "link/AnswerCodes.h"

#include <algorithm>
#include <array>

namespace marindo {
namespace {

constexpr std::uint8_t kNone = 0;

// One request the tool sends and the codes a clock answers it with.
struct AnswerRule {
  std::uint8_t request;
  bool anyCode;  // the clock may answer with any frame
  std::array<std::uint8_t, 3> answers;
};

constexpr std::array<AnswerRule, 13> kAnswerRules{{
    {0x01, false, {0x01, kNone, kNone}},  // search
    {0x02, false, {0x02, kNone, kNone}},  // basic settings
    {0x03, false, {0x03, kNone, kNone}},  // NTP servers
    {0x04, false, {0x04, kNone, kNone}},  // bell schedule
    {0x05, false, {0x05, kNone, kNone}},  // display settings
    {0x06, false, {0x06, 0x0F, 0x11}},    // modify basic settings
    {0x07, false, {0x07, 0x0F, 0x11}},    // modify NTP servers
    {0x08, false, {0x08, 0x0F, 0x11}},    // modify bell schedule
    {0x09, true, {kNone, kNone, kNone}},  // modify display settings
    {0x0A, false, {0x0A, kNone, kNone}},  // display text
    {0x0B, false, {0x0B, 0x0F, 0x11}},    // modify display text
    {0x0C, true, {kNone, kNone, kNone}},  // firmware upload announcement
    {0x10, false, {0x10, kNone, kNone}},  // system information
}};

}  // namespace

bool AnswersRequest(std::uint8_t requestCode, std::uint8_t answerCode) {
  const auto rule = std::find_if(kAnswerRules.begin(), kAnswerRules.end(),
                                 [requestCode](const AnswerRule& r) { return r.request == requestCode; });
  if (rule == kAnswerRules.end()) return false;
  if (rule->anyCode) return true;
  return answerCode != kNone &&
         std::find(rule->answers.begin(), rule->answers.end(), answerCode) != rule->answers.end();
}

}  // namespace marindo
