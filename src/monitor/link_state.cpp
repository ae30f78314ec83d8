// SPDX-License-Identifier: MIT
#include "monitor/link_state.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <string>

#include "console/screen.h"
#include "console/text.h"
#include "link/host_link.h"
#include "monitor/rows.h"
#include "monitor/state.h"
#include "platform/platform.h"

using namespace std::string_view_literals;

namespace {

// Requests in a row that must fail before the row speaks: a lost reply now
// and then is no news.
constexpr std::int32_t kFailuresToTell = 3;
}  // namespace

ReadOutcome LastLinkRead() {
  switch (LastReplyOutcome) {
    case ReplyOutcome::kAnswered:
      return ReadOutcome::kRead;
    case ReplyOutcome::kSkipped:
      return ReadOutcome::kSkipped;
    default:
      return ReadOutcome::kFailed;
  }
}

std::string ClockTime(std::int64_t when) {
  const auto seconds = static_cast<std::time_t>(when);
  std::tm local{};
  // One thread asks, so the standard call's shared result is copied safely.
  // cppcheck-suppress localtimeCalled
  if (const std::tm* t = std::localtime(&seconds)) local = *t;
  char text[16];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d", local.tm_hour,
                local.tm_min, local.tm_sec);
  return text;
}

namespace {

// Why the port could not be opened, in words, with the device where the
// system names one.
Str255 OpenFailureText() {
  const Str255 name = Str255("COM") + FormatInt(ActivePort);
  char target[Str255::kMax + 1] = {};
  const bool known =
      plat::QueryDosDeviceA(name.str().c_str(), target, Str255::kMax) != 0 &&
      target[0] != '\0';
  const std::string device = known ? std::string(" (") + target + ")" : "";
  switch (LinkOpenError) {
    case plat::ERROR_FILE_NOT_FOUND:
      return name + ": no such device"sv + std::string_view(device);
    case plat::ERROR_ACCESS_DENIED:
      return name +
             " cannot be opened: the device is in use or not allowed (Access denied)"sv;
    case plat::ERROR_SHARING_VIOLATION:
      return name + " cannot be opened: the device is in use (Sharing violation)"sv;
    case plat::ERROR_INVALID_PARAMETER:
      return name + " cannot be opened: the line settings were refused"sv +
             std::string_view(device);
    default:
      return name + " cannot be opened: system error "sv +
             FormatInt(static_cast<std::int64_t>(LinkOpenError)) +
             std::string_view(device);
  }
}

}  // namespace

bool ReadingsCome() {
  return LinkOpenError == 0 && LinkRuns.Unanswered < kFailuresToTell &&
         LinkRuns.Unusable < kFailuresToTell;
}

Str255 LinkStateText() {
  if (LinkOpenError != 0) return OpenFailureText();
  if (LinkRuns.Unanswered >= kFailuresToTell) {
    return Str255("No reply from the controller since ") +
           std::string_view(ClockTime(LinkRuns.Since));
  }
  if (LinkRuns.Unusable >= kFailuresToTell) {
    return Str255("Replies unusable since ") +
           std::string_view(ClockTime(LinkRuns.Since)) +
           " (wrong baud rate or device?)"sv;
  }
  return CounterResetIncomplete;
}

void ShowLinkState() {
  const Str255 text = LinkStateText();
  if (LinkStateOnScreen && text == LinkStateShown) return;
  const bool changed = !(text == LinkStateShown);
  const std::int32_t column = CursorColumn();
  const std::int32_t row = CursorRow();
  MoveToLine(kLinkStateLine);
  // Kept inside the row: a wrap would scroll the monitor's screen.
  Str255 line = text;
  line.Truncate(static_cast<std::size_t>(std::max<std::int32_t>(MonitorWidth - 2, 0)));
  PrintClearedLine(line);
  MoveCursor(column, row);
  LinkStateShown = text;
  LinkStateOnScreen = true;
  if (changed && LinkStateChanged != nullptr) LinkStateChanged();
}

void ForgetLinkState() { LinkStateOnScreen = false; }
