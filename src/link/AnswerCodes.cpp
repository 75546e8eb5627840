#include "link/AnswerCodes.h"

#include <algorithm>

#include "link/CommandCodes.h"

namespace marindo {

bool AnswersRequest(std::uint8_t requestCode, std::uint8_t answerCode) {
  const Command* request = CommandOf(requestCode);
  if (request == nullptr || !request->sent) return false;
  if (request->answersAny) return true;
  return answerCode != 0 &&
         std::find(request->answers.begin(), request->answers.end(), answerCode) != request->answers.end();
}

}  // namespace marindo
