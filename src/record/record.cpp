// SPDX-License-Identifier: MIT
#include "record/record.h"

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <deque>
#include <filesystem>
#include <initializer_list>
#include <mutex>
#include <thread>
#include <vector>

#include "console/keyboard.h"
#include "console/screen.h"
#include "link/host_link.h"
#include "monitor/indicators.h"
#include "monitor/state.h"
#include "platform/platform.h"
#include "record/metrics.h"

namespace {

// Rows the writer may fall behind by before the log counts as stuck; at
// a cycle a second that is minutes of a file system that does not answer.
constexpr std::size_t kMaxWaitingRows = 600;
// How long the end waits for the last rows to reach the file.
constexpr std::chrono::seconds kFinishWait{3};

// The writer runs on its own thread so that a slow or hung file system
// never holds up polling; a failed write ends the log, not the run.
struct Log {
  std::FILE* file = nullptr;
  std::string path;
  std::thread writer;
  std::mutex lock;
  std::condition_variable wake;
  std::deque<std::string> waiting;  // rows not yet handed to the file
  bool closing = false;
  bool done = false;  // the writer has ended
  bool stopped = false;
  std::string stopReason;
  std::int64_t rowsWritten = 0;  // rows safely in the file
};

struct Run {
  bool started = false;
  std::uint64_t startedMs = 0;
  std::uint64_t lastCycleMs = 0;
  std::int64_t cycles = 0;
  LinkTally atStart;
  LinkTally atLastCycle;  // counts after a cut-short cycle are quitting's
};

Log* g_log = nullptr;  // kept alive to the end: a hung writer may hold it
Run g_run;

std::string ErrorText(int error) {
  return error != 0 ? std::strerror(error) : "a write failed";
}

// Called with the lock held.
void StopLocked(Log& log, std::string reason) {
  if (log.stopped) return;
  log.stopped = true;
  log.stopReason = std::move(reason);
  log.waiting.clear();
}

bool WriteFlushed(std::FILE* file, const std::string& text, int& error) {
  errno = 0;
  const bool ok = std::fputs(text.c_str(), file) >= 0 && std::fflush(file) == 0;
  error = errno;
  return ok;
}

void WriterLoop(Log* log) {
  std::unique_lock<std::mutex> hold(log->lock);
  for (;;) {
    log->wake.wait(hold, [&] { return log->closing || !log->waiting.empty(); });
    if (log->waiting.empty() || log->stopped) break;
    const std::string row = std::move(log->waiting.front());
    log->waiting.pop_front();
    hold.unlock();
    int error = 0;
    const bool written = WriteFlushed(log->file, row, error);
    std::error_code ec;
    const bool there = std::filesystem::exists(log->path, ec) || ec;
    hold.lock();
    if (!written) {
      StopLocked(*log, ErrorText(error));
    } else if (!there) {
      StopLocked(*log, "the file was removed");
    } else {
      ++log->rowsWritten;
    }
  }
  log->done = true;
  log->wake.notify_all();
}

// ---- what the screen shows --------------------------------------------------

// A row of the monitor's window as it stands, from column 1.
std::string ShownRow(int row) {
  const int width = Console.WindowRight - Console.WindowLeft + 1;
  if (width <= 0) return {};
  std::string text(static_cast<std::size_t>(width), ' ');
  std::uint32_t read = 0;
  const plat::COORD at{static_cast<std::int16_t>(Console.WindowLeft),
                       static_cast<std::int16_t>(Console.WindowTop + row - 1)};
  if (!plat::ReadConsoleOutputCharacterA(Console.ConsoleOutputHandle,
                                         text.data(),
                                         static_cast<std::uint32_t>(width), at,
                                         &read)) {
    return {};
  }
  text.resize(read);
  return text;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The numbers written after `label` at `column`, as they are written, or
// nothing when the label is not there (the screen shows something else).
std::vector<std::string> Shown(const std::string& rowText, int column,
                               std::string_view label, std::size_t count) {
  const std::size_t from = static_cast<std::size_t>(column - 1);
  if (rowText.size() < from + label.size() ||
      std::string_view(rowText).substr(from, label.size()) != label) {
    return {};
  }
  std::vector<std::string> numbers;
  const std::string_view rest = std::string_view(rowText).substr(from + label.size());
  for (std::size_t i = 0; i < rest.size() && numbers.size() < count;) {
    const bool sign = rest[i] == '-' && i + 1 < rest.size() &&
                      IsDigit(rest[i + 1]);
    if (!IsDigit(rest[i]) && !sign) {
      ++i;
      continue;
    }
    std::size_t end = i + 1;
    while (end < rest.size() && IsDigit(rest[end])) ++end;
    if (end + 1 < rest.size() && rest[end] == '.' && IsDigit(rest[end + 1])) {
      end += 2;
      while (end < rest.size() && IsDigit(rest[end])) ++end;
    }
    numbers.emplace_back(rest.substr(i, end - i));
    i = end;
  }
  if (numbers.size() < count) return {};
  return numbers;
}

void AddField(std::string& row, std::string_view value) {
  row += ',';
  row += value;
}

// ---- time -------------------------------------------------------------------

std::int64_t SecondsAsUtc(const std::tm& t) {
  using namespace std::chrono;
  const sys_days day{year{t.tm_year + 1900} / (t.tm_mon + 1) / t.tm_mday};
  return std::int64_t{day.time_since_epoch().count()} * 86400 +
         std::int64_t{t.tm_hour} * 3600 + std::int64_t{t.tm_min} * 60 + t.tm_sec;
}

// Local time with its offset from UTC and milliseconds.
std::string Timestamp() {
  using namespace std::chrono;
  const auto now = system_clock::now();
  const std::time_t seconds = system_clock::to_time_t(now);
  const auto millis =
      duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
  std::tm local{};
  std::tm utc{};
  // Only the polling thread asks for the time, so the shared result of
  // the standard calls is safe to copy out.
  // cppcheck-suppress localtimeCalled
  if (const std::tm* t = std::localtime(&seconds)) local = *t;
  if (const std::tm* t = std::gmtime(&seconds)) utc = *t;
  const std::int64_t offset = (SecondsAsUtc(local) - SecondsAsUtc(utc)) / 60;
  const std::int64_t size = offset < 0 ? -offset : offset;
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03d%c%02d:%02d",
                local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                local.tm_hour, local.tm_min, local.tm_sec,
                static_cast<int>(millis < 0 ? 0 : millis),
                offset < 0 ? '-' : '+', static_cast<int>(size / 60),
                static_cast<int>(size % 60));
  return text;
}

// ---- the row ----------------------------------------------------------------

// The numbers shown after `label` from `first` on, each with its read's
// outcome; its text is kept only when it was read (the screen shows a
// fall-back otherwise).
void Put(CycleSnapshot& shot, std::size_t first, const std::string& rowText,
         int column, std::string_view label,
         std::initializer_list<ReadOutcome> outcomes) {
  const std::vector<std::string> values =
      Shown(rowText, column, label, outcomes.size());
  std::size_t i = first;
  for (const ReadOutcome outcome : outcomes) {
    Reading& r = shot[i];
    r.outcome = outcome;
    const std::size_t at = i - first;
    r.text = outcome == ReadOutcome::kRead && at < values.size() ? values[at]
                                                                 : std::string();
    ++i;
  }
}

ReadOutcome Outcome(Quantity quantity) { return CycleReads[quantity]; }

// A value shown beside another whose row was not painted this cycle is no
// reading of this cycle either; an average is one once a reading went in.
ReadOutcome Beside(Quantity row, ReadOutcome outcome) {
  return Outcome(row) == ReadOutcome::kSkipped ? ReadOutcome::kSkipped : outcome;
}
ReadOutcome AverageOutcome(Quantity row, std::int64_t samples) {
  return Beside(row, samples > 0 ? ReadOutcome::kRead : ReadOutcome::kFailed);
}

}  // namespace

CycleSnapshot TakeSnapshot() {
  CycleSnapshot shot{};
  Put(shot, kSystemColumn, ShownRow(1), 2, "System        #", {Outcome(kSystemValue)});
  Put(shot, kTempColumn, ShownRow(3), 2, "Temp.        ",
      {Outcome(kTempValue), Beside(kTempValue, Outcome(kTempSetValue)),
       AverageOutcome(kTempValue, TempSamples)});
  Put(shot, kRhColumn, ShownRow(4), 2, "RH           ",
      {Outcome(kRhValue), Beside(kRhValue, Outcome(kRhSetValue)),
       AverageOutcome(kRhValue, RhSamples)});
  Put(shot, kCo2Column, ShownRow(5), 2, "CO2          ",
      {Outcome(kCo2Value), Beside(kCo2Value, Outcome(kCo2SetValue))});
  Put(shot, kEvapColumn, ShownRow(6), 2, "Evap.Temp.   ", {Outcome(kEvapValue)});

  // The defrost line: its time, the unit of that time, and its target.
  const std::string defrostRow = ShownRow(7);
  const ReadOutcome defrost = Outcome(kDefrostValue);
  std::string unit = "h";
  Put(shot, kDefrostColumn, defrostRow, 2, "Defrost in   ", {defrost, defrost});
  if (Shown(defrostRow, 2, "Defrost in   ", 2).empty()) {
    Put(shot, kDefrostColumn, defrostRow, 2, " Next Def. in ", {defrost, defrost});
    unit = "min";
  }
  shot[kDefrostColumn + 2] = shot[kDefrostColumn + 1];  // the target
  shot[kDefrostColumn + 1].text = shot[kDefrostColumn].text.empty() ? "" : unit;

  const Quantity relays[4] = {kVentValue, kTempCtlValue, kFloorHtrValue,
                              kTempModeValue};
  const Str255* states[4] = {&VentState, &TempCtlState, &FloorHtrState,
                             &TempModeState};
  for (std::size_t i = 0; i < 4; ++i) {
    Reading& r = shot[kIndicatorColumn + i];
    r.outcome = Outcome(relays[i]);
    r.text = r.outcome != ReadOutcome::kRead ? "" : RelayOn(*states[i]) ? "1" : "0";
  }

  Put(shot, kCounterColumn, ShownRow(14), 2, "tTotal      ", {Outcome(kTotalValue)});
  for (std::size_t i = 0; i < 5; ++i) {
    const std::string label = std::string("t") + CounterLabels[i].str();
    Put(shot, kCounterColumn + 1 + i, ShownRow(15 + static_cast<int>(i)), 2, label,
        {Outcome(static_cast<Quantity>(kComponentValue + i))});
  }
  const std::string timers = ShownRow(20);
  Put(shot, kTimerColumn, timers, 2, "t106          ", {Outcome(kT106Value)});
  Put(shot, kTimerColumn + 1, timers, 23, "t107 ", {Outcome(kT107Value)});
  return shot;
}

namespace {

std::string CycleRow(const CycleSnapshot& shot) {
  std::string row = Timestamp();
  for (const Reading& r : shot) AddField(row, r.text);

  const LinkTally& now = LinkCounts;
  for (const std::int64_t n :
       {now.Requests - g_run.atLastCycle.Requests,
        now.Unanswered - g_run.atLastCycle.Unanswered,
        now.Unusable - g_run.atLastCycle.Unusable}) {
    AddField(row, std::to_string(n));
  }
  row += '\n';
  return row;
}

// ---- the end ------------------------------------------------------------------

std::string Share(std::int64_t part, std::int64_t whole) {
  if (whole <= 0 || part <= 0) return "0.00 %";
  const double share = static_cast<double>(part) * 100.0 / static_cast<double>(whole);
  // A rare failure must not read as none at all.
  if (share < 0.005) return "<0.01 %";
  char text[32];
  std::snprintf(text, sizeof text, "%.2f %%", share);
  return text;
}

std::string Summary() {
  const std::uint64_t ms = g_run.lastCycleMs - g_run.startedMs;
  const std::uint64_t total = (plat::GetTickCount64() - g_run.startedMs) / 1000;
  char ran[64];
  if (total >= 3600) {
    std::snprintf(ran, sizeof ran, "%llu h %02llu min %02llu s",
                  static_cast<unsigned long long>(total / 3600),
                  static_cast<unsigned long long>(total / 60 % 60),
                  static_cast<unsigned long long>(total % 60));
  } else if (total >= 60) {
    std::snprintf(ran, sizeof ran, "%llu min %02llu s",
                  static_cast<unsigned long long>(total / 60),
                  static_cast<unsigned long long>(total % 60));
  } else {
    std::snprintf(ran, sizeof ran, "%llu s", static_cast<unsigned long long>(total));
  }
  char period[32] = "0 s";
  if (g_run.cycles > 0) {
    std::snprintf(period, sizeof period, "%.3f s",
                  static_cast<double>(ms) / 1000.0 / static_cast<double>(g_run.cycles));
  }
  const LinkTally n{g_run.atLastCycle.Requests - g_run.atStart.Requests,
                    g_run.atLastCycle.Unanswered - g_run.atStart.Unanswered,
                    g_run.atLastCycle.Unusable - g_run.atStart.Unusable};
  char text[512];
  std::snprintf(text, sizeof text,
                "zrvmon ran %s: %lld cycles of %s, %lld requests, "
                "%lld unanswered (%s), %lld unusable (%s)",
                ran, static_cast<long long>(g_run.cycles), period,
                static_cast<long long>(n.Requests),
                static_cast<long long>(n.Unanswered),
                Share(n.Unanswered, n.Requests).c_str(),
                static_cast<long long>(n.Unusable),
                Share(n.Unusable, n.Requests).c_str());
  return text;
}

std::string StopLine(const Log& log) {
  return "zrvmon: the log " + log.path + " stopped after row " +
         std::to_string(log.rowsWritten) + ": " + log.stopReason;
}

// What the user is left with should the run end at any moment from now.
std::string EndText() {
  std::string text;
  if (g_run.started) text += Summary() + "\n";
  if (g_log != nullptr) {
    std::lock_guard<std::mutex> hold(g_log->lock);
    if (g_log->stopped) text += StopLine(*g_log) + "\n";
  }
  if (!MetricsStopReason().empty()) text += MetricsStopReason() + "\n";
  return text;
}

}  // namespace

bool RecordOpen(const std::string& path, std::string& why) {
  std::FILE* file = std::fopen(path.c_str(), "ab");
  if (file == nullptr) {
    why = ErrorText(errno);
    return false;
  }
  std::string head;
  std::error_code ec;
  const bool regular = std::filesystem::is_regular_file(path, ec);
  const std::uintmax_t size = regular ? std::filesystem::file_size(path, ec) : 0;
  if (regular && !ec && size > 0) {
    // Rows go only below a log's own header, and a row cut short by a
    // crash keeps its own line.
    std::FILE* in = std::fopen(path.c_str(), "rb");
    char first[kRecordHeader.size() + 2] = {};
    const bool ours = in != nullptr &&
                      std::fgets(first, sizeof first, in) != nullptr &&
                      std::string_view(first).substr(0, kRecordHeader.size()) ==
                          kRecordHeader;
    bool ended = true;
    if (ours && std::fseek(in, -1, SEEK_END) == 0) ended = std::fgetc(in) == '\n';
    if (in != nullptr) std::fclose(in);
    if (!ours) {
      std::fclose(file);
      why = "it is not a zrvmon log (its first line is not the log's header)";
      return false;
    }
    if (!ended) head = "\n";
  } else {
    head = std::string(kRecordHeader) + "\n";
  }
  int error = 0;
  if (!head.empty() && !WriteFlushed(file, head, error)) {
    std::fclose(file);
    why = ErrorText(error);
    return false;
  }
  g_log = new Log;
  g_log->file = file;
  g_log->path = path;
  g_log->writer = std::thread(WriterLoop, g_log);
  return true;
}

void RecordStarted() {
  g_run = Run{};
  g_run.started = true;
  g_run.startedMs = g_run.lastCycleMs = plat::GetTickCount64();
  g_run.atStart = g_run.atLastCycle = LinkCounts;
  MetricsStarted();
}

void RecordCycle() {
  if (!g_run.started) return;
  // A cycle cut short by Esc read nothing more: it is no reading.
  if (AbortFlag) return;
  ++g_run.cycles;
  g_run.lastCycleMs = plat::GetTickCount64();
  const CycleSnapshot shot = TakeSnapshot();
  const LinkTally& now = LinkCounts;
  const std::int64_t usable = (now.Requests - g_run.atLastCycle.Requests) -
                              (now.Unanswered - g_run.atLastCycle.Unanswered) -
                              (now.Unusable - g_run.atLastCycle.Unusable);
  MetricsCycle(shot, usable > 0,
               LinkTally{now.Requests - g_run.atStart.Requests,
                         now.Unanswered - g_run.atStart.Unanswered,
                         now.Unusable - g_run.atStart.Unusable},
               g_run.cycles);
  if (g_log != nullptr) {
    std::string row = CycleRow(shot);
    std::lock_guard<std::mutex> hold(g_log->lock);
    if (!g_log->stopped) {
      if (g_log->waiting.size() >= kMaxWaitingRows) {
        StopLocked(*g_log, "writing to it did not keep up (the file system "
                           "does not answer)");
      } else {
        g_log->waiting.push_back(std::move(row));
        g_log->wake.notify_all();
      }
    }
  }
  g_run.atLastCycle = LinkCounts;
  plat::ShowOnExit(EndText().c_str());
}

void RecordFinish() {
  MetricsFinish();
  bool finished = true;
  if (g_log != nullptr) {
    std::unique_lock<std::mutex> hold(g_log->lock);
    g_log->closing = true;
    g_log->wake.notify_all();
    finished = g_log->wake.wait_for(hold, kFinishWait, [] { return g_log->done; });
    if (!finished) StopLocked(*g_log, "writing to it hung");
  }
  const std::string text = EndText();
  if (!plat::ShowOnExit(text.c_str()) && g_log != nullptr && finished &&
      g_run.started) {
    // Where nothing can be shown after the end, the log keeps the summary.
    int error = 0;
    std::lock_guard<std::mutex> hold(g_log->lock);
    if (!g_log->stopped) WriteFlushed(g_log->file, "# " + Summary() + "\n", error);
  }
  if (g_log != nullptr) {
    if (finished) {
      g_log->writer.join();
      std::fclose(g_log->file);
      delete g_log;
    } else {
      g_log->writer.detach();
    }
    g_log = nullptr;
  }
}

void ResetRecordForTests() {
  if (g_log != nullptr) RecordFinish();
  ResetMetricsForTests();
  g_run = Run{};
}
