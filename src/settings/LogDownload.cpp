#include "settings/LogDownload.h"

#include "platform/Ipv4.h"

namespace marindo {
namespace {

std::string LastPathPart(std::string_view name) {
  const std::size_t slash = name.rfind('/');
  return std::string(slash == std::string_view::npos ? name : name.substr(slash + 1));
}

}  // namespace

std::string DownloadOutcomeMessage(DownloadOutcome outcome, std::uint32_t clockIp, std::string_view name) {
  const std::string address = FormatIpv4(clockIp);
  switch (outcome) {
    case DownloadOutcome::Done:
      return "Log file " + address + "log.txt download done.";
    case DownloadOutcome::NoResponse:
      return "Clock not response,please try again.";
    case DownloadOutcome::FileNotCreated:
      return "Log file " + address +
             "log.txt already exists in the current path, please rename the existing one or change the saving "
             "directory.";
    case DownloadOutcome::FileNotWritten:
      return "Log file " + address + LastPathPart(name) +
             " could not be written completely, please check the saving directory and try again.";
    case DownloadOutcome::NameTooLong:
      return "The file name is too long, please use a shorter name.";
    case DownloadOutcome::NoSocket:
      return "No network socket could be opened for the download, please try again.";
  }
  return "Clock not response,please try again.";
}

}  // namespace marindo
