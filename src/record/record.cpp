// SPDX-License-Identifier: MIT
#include "record/record.h"

#include <cerrno>
#include <algorithm>
#include <atomic>
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
#include <utility>
#include <vector>

#include "console/keyboard.h"
#include "console/screen.h"
#include "link/host_link.h"
#include "monitor/indicators.h"
#include "monitor/link_state.h"
#include "monitor/rows.h"
#include "monitor/state.h"
#include "platform/platform.h"
#include "record/control.h"
#include "record/metrics.h"
#include "record/mqtt.h"

namespace {

// Rows the writer may fall behind by before rows are lost; at a cycle a
// second that is minutes of a file system that does not answer.
constexpr std::size_t kMaxWaitingRows = 600;
// How long the end waits for the last rows to reach the file.
constexpr std::chrono::seconds kFinishWait{3};
// While the log is paused a row is offered at least this often, so that
// writing resumes within a minute of space coming back.
constexpr std::uint64_t kPausedRowEveryMs = 30000;
// Read from the end of a log that is there, to find its last line.
constexpr long kTailBytes = 4096;

// Set on the polling thread, read by the writer's.
std::atomic<void (*)(const std::string&)> g_news{nullptr};

// A row for the writer: the rows lost just before it that never reached the
// queue, and whether it was due (a row offered early to try a paused log
// again is no loss when it cannot go in).
struct Waiting {
  std::string row;  // without its rows_lost field
  std::string writes;  // the set point writes since the row before
  std::int64_t droppedBefore = 0;
  bool due = true;
};

// The writer runs on its own thread so that a slow or hung file system
// never holds up polling. A row goes into the file whole or not at all; a
// row that cannot go in is counted as lost, and the next one tries again.
struct Log {
  std::FILE* file = nullptr;  // the writer's own once it runs
  std::string reopenCause;    // the writer's: a reopening not yet done
  std::string path;
  std::thread writer;
  std::mutex lock;
  std::condition_variable wake;
  std::deque<Waiting> waiting;
  bool closing = false;
  bool done = false;  // the writer has ended
  bool reopen = false;  // asked for: opened again before the next row
  bool paused = false;
  std::string pauseReason;
  bool stopped = false;  // only at the end, when the writer hung
  std::string stopReason;
  std::int64_t rowsWritten = 0;  // rows safely in the file
  std::int64_t rowsLost = 0;
  std::int64_t lostSinceRow = 0;  // the writer's count since its last row
  std::int64_t dropped = 0;       // not queued since the last row queued
  std::int64_t lostAtPause = 0;
  std::int64_t reopenings = 0;
};

struct Run {
  bool started = false;
  std::uint64_t startedMs = 0;
  std::uint64_t lastCycleMs = 0;
  std::int64_t cycles = 0;
  LinkTally atStart;
  LinkTally atLastCycle;  // counts after a cut-short cycle are quitting's
  LinkTally atLastRow;
  std::int64_t intervalMs = 0;
  bool rowDone = false;  // a row was offered to the log
  std::uint64_t lastRowMs = 0;
  std::int64_t lastRowCycle = 0;
};

Log* g_log = nullptr;  // kept alive to the end: a hung writer may hold it
Run g_run;

std::string ErrorText(int error) {
  return error != 0 ? std::strerror(error) : "a write failed";
}

// With control, the writes go last: a log of either layout is begun again
// below a header of its own when the other is asked for.
std::string LogHeader() {
  std::string header(kRecordHeader);
  if (SetPointControlOn()) header += kRecordWritesColumn;
  return header;
}

std::int64_t FieldCount(std::string_view line) {
  return static_cast<std::int64_t>(std::count(line.begin(), line.end(), ',')) + 1;
}

// What must go into a log that is there before its next row: a line end
// after a row cut short by a crash, and the header when the last line is
// not of this layout (a log begun by release 1.1). False, with the reason,
// when the file is no log of ours.
bool ContinueExisting(const std::string& path, std::uintmax_t size,
                      std::string& head, std::string& why) {
  std::FILE* in = std::fopen(path.c_str(), "rb");
  if (in == nullptr) {
    why = ErrorText(errno);
    return false;
  }
  char first[kRecordHeader.size() + 2] = {};
  const bool ours = std::fgets(first, sizeof first, in) != nullptr &&
                    std::string_view(first).substr(0, kRecordHeader11.size()) ==
                        kRecordHeader11;
  std::string tail;
  // Seeking back from the end: an offset from the start of a file of some
  // gigabytes does not fit every system's long.
  const bool big = size > static_cast<std::uintmax_t>(kTailBytes);
  if (ours && std::fseek(in, big ? -kTailBytes : 0, big ? SEEK_END : SEEK_SET) == 0) {
    tail.resize(static_cast<std::size_t>(kTailBytes));
    tail.resize(std::fread(tail.data(), 1, tail.size(), in));
  }
  std::fclose(in);
  if (!ours) {
    why = "it is not a zrvmon log (its first line is not the log's header)";
    return false;
  }
  const bool ended = !tail.empty() && tail.back() == '\n';
  head = ended ? "" : "\n";
  // The last row or header, above any comment lines (a summary kept there).
  std::string_view last;
  std::string_view rest = tail;
  while (!rest.empty()) {
    if (rest.back() == '\n') rest.remove_suffix(1);
    const std::size_t start = rest.rfind('\n') == std::string_view::npos ? 0 : rest.rfind('\n') + 1;
    last = rest.substr(start);
    if (!last.empty() && last[0] != '#') break;
    rest = rest.substr(0, start);
    last = {};
  }
  const std::string header = LogHeader();
  if (last != header && FieldCount(last) != FieldCount(header)) {
    head += header + "\n";
  }
  return true;
}

// The size of the file at `path`, or kUnknownSize.
constexpr std::uintmax_t kUnknownSize = ~std::uintmax_t{0};
std::uintmax_t SizeAt(const std::string& path) {
  std::error_code ec;
  const std::uintmax_t size = std::filesystem::file_size(path, ec);
  return ec ? kUnknownSize : size;
}

// Appends the whole text to a file of `before` bytes, or as good as
// nothing: what a failed write left of it is cut off again, so that every
// line of the file stays whole.
bool AppendWhole(std::FILE*& file, const std::string& path, std::uintmax_t before,
                 const std::string& text, std::string& why) {
  errno = 0;
  const bool ok = std::fwrite(text.data(), 1, text.size(), file) == text.size() &&
                  std::fflush(file) == 0;
  if (ok) return true;
  why = ErrorText(errno);
  const bool same = plat::PathNamesFile(path.c_str(), file);
  // Closed first: the stream must hold nothing that a later flush could add.
  std::fclose(file);
  file = nullptr;
  const std::uintmax_t after = SizeAt(path);
  if (same && before != kUnknownSize && after != kUnknownSize && after > before) {
    std::error_code ec;
    std::filesystem::resize_file(path, before, ec);
  }
  return false;
}

// Opens the log at its path, the header or a line end first where needed.
std::FILE* OpenAt(const std::string& path, std::string& why) {
  std::error_code ec;
  const bool regular = std::filesystem::is_regular_file(path, ec);
  const std::uintmax_t size = regular ? SizeAt(path) : 0;
  const bool there = size > 0 && size != kUnknownSize;
  std::string head = LogHeader() + "\n";
  if (there && !ContinueExisting(path, size, head, why)) return nullptr;
  std::FILE* file = std::fopen(path.c_str(), "ab");
  if (file == nullptr) {
    why = ErrorText(errno);
    return nullptr;
  }
  // Unbuffered: each row is one write that the system takes or refuses.
  std::setvbuf(file, nullptr, _IONBF, 0);
  if (!head.empty() && !AppendWhole(file, path, there ? size : 0, head, why)) {
    return nullptr;
  }
  return file;
}

std::string Counted(std::int64_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

std::string PausedLine(const Log& log) {
  return "zrvmon: the log " + log.path + " paused after row " +
         std::to_string(log.rowsWritten) + ": " + log.pauseReason;
}

// Pauses the log, before the row that could not go in is counted; the line
// to say, empty when it was paused already. Called with the lock held.
std::string PauseLocked(Log& log, const std::string& why) {
  if (log.paused) return {};
  log.paused = true;
  log.lostAtPause = log.rowsLost;
  log.pauseReason = why;
  return PausedLine(log);
}

void Join(std::string& lines, const std::string& line) {
  if (!lines.empty() && !line.empty()) lines += "\n";
  lines += line;
}

// One row, or a reopening asked for, off the queue; called with the lock
// held, which it gives up while the file is used.
void WriteNext(Log& log, std::unique_lock<std::mutex>& hold) {
  const bool asked = std::exchange(log.reopen, false);
  std::string row;
  std::string writes;
  bool due = true;
  if (!log.waiting.empty()) {
    Waiting& next = log.waiting.front();
    row = std::move(next.row);
    writes = std::move(next.writes);
    due = next.due;
    log.lostSinceRow += next.droppedBefore;
    log.waiting.pop_front();
  }
  const std::int64_t lost = log.lostSinceRow;
  hold.unlock();
  std::string news;
  std::string why;
  // A log renamed or removed (a rotation) is begun again at its path.
  const bool moved = log.file != nullptr &&
                     !plat::PathNamesFile(log.path.c_str(), log.file);
  if (asked || moved) {
    if (log.file != nullptr) std::fclose(log.file);
    log.file = nullptr;
    log.reopenCause = asked ? " as asked" : ": its file was renamed or removed";
  }
  if (log.file == nullptr) log.file = OpenAt(log.path, why);
  // Said and counted once it is done, which a full disk may put off.
  const bool reopened = log.file != nullptr && !log.reopenCause.empty();
  if (reopened) {
    news = "zrvmon: the log " + log.path + " was reopened" + log.reopenCause;
    log.reopenCause.clear();
  }
  bool written = false;
  if (!row.empty() && log.file != nullptr) {
    std::string text = row + "," + std::to_string(lost) +
                       (SetPointControlOn() ? "," + writes : "") + "\n";
    // Emptied in place (a copytruncate rotation): the rows go on below a
    // header of their own.
    const std::uintmax_t size = SizeAt(log.path);
    if (size == 0) {
      text = LogHeader() + "\n" + text;
      if (news.empty()) news = "zrvmon: the log " + log.path + " was emptied: it goes on";
    }
    written = AppendWhole(log.file, log.path, size, text, why);
  }
  hold.lock();
  if (reopened) ++log.reopenings;
  if (row.empty()) {
    // Only a reopening: a failed one pauses the log as a failed row would.
    if (log.file == nullptr) Join(news, PauseLocked(log, why));
  } else if (written) {
    ++log.rowsWritten;
    log.lostSinceRow = 0;
    // A writer that fell behind has caught up only once its queue is short.
    if (log.paused && log.waiting.size() < kMaxWaitingRows / 2) {
      log.paused = false;
      Join(news, "zrvmon: the log " + log.path + " resumed at row " +
                     std::to_string(log.rowsWritten) + " after " +
                     Counted(log.rowsLost - log.lostAtPause, "row", "rows") + " lost");
    }
  } else {
    Join(news, PauseLocked(log, why));
    if (due) {
      ++log.lostSinceRow;
      ++log.rowsLost;
    }
  }
  hold.unlock();
  RecordNews(news);
  hold.lock();
}

void WriterLoop(Log* log) {
  std::unique_lock<std::mutex> hold(log->lock);
  for (;;) {
    log->wake.wait(hold, [&] {
      return log->closing || log->reopen || !log->waiting.empty();
    });
    if (log->waiting.empty() && !log->reopen) break;
    WriteNext(*log, hold);
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
         const RowLabel& line, std::initializer_list<ReadOutcome> outcomes) {
  const std::vector<std::string> values =
      Shown(rowText, line.Column, line.Label, outcomes.size());
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
  Put(shot, kSystemColumn, ShownRow(kSystemLine.Row), kSystemLine,
      {Outcome(kSystemValue)});
  Put(shot, kTempColumn, ShownRow(kTempLine.Row), kTempLine,
      {Outcome(kTempValue), Beside(kTempValue, Outcome(kTempSetValue)),
       AverageOutcome(kTempValue, TempSamples)});
  Put(shot, kRhColumn, ShownRow(kRhLine.Row), kRhLine,
      {Outcome(kRhValue), Beside(kRhValue, Outcome(kRhSetValue)),
       AverageOutcome(kRhValue, RhSamples)});
  Put(shot, kCo2Column, ShownRow(kCo2Line.Row), kCo2Line,
      {Outcome(kCo2Value), Beside(kCo2Value, Outcome(kCo2SetValue))});
  Put(shot, kEvapColumn, ShownRow(kEvapLine.Row), kEvapLine, {Outcome(kEvapValue)});

  // The defrost line: its time, the unit of that time, and its target.
  const std::string defrostRow = ShownRow(kDefrostLine.Row);
  const ReadOutcome defrost = Outcome(kDefrostValue);
  std::string unit = "h";
  Put(shot, kDefrostColumn, defrostRow, kDefrostLine, {defrost, defrost});
  if (Shown(defrostRow, kDefrostLine.Column, kDefrostLine.Label, 2).empty()) {
    static_assert(kNextDefrostLine.Row == kDefrostLine.Row);
    Put(shot, kDefrostColumn, defrostRow, kNextDefrostLine, {defrost, defrost});
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

  Put(shot, kCounterColumn, ShownRow(kTotalLine.Row), kTotalLine,
      {Outcome(kTotalValue)});
  for (std::int32_t i = 0; i < kComponentCount; ++i) {
    const Str255 label = ComponentLabel(i);
    const RowLabel line{kComponentLine.Row + i, kComponentLine.Column, label.view()};
    Put(shot, kCounterColumn + 1 + static_cast<std::size_t>(i), ShownRow(line.Row),
        line, {Outcome(static_cast<Quantity>(kComponentValue + i))});
  }
  const std::string timers = ShownRow(kT106Field.Row);
  Put(shot, kTimerColumn, timers, kT106Field, {Outcome(kT106Value)});
  static_assert(kT107Field.Row == kT106Field.Row);
  Put(shot, kTimerColumn + 1, timers, kT107Field, {Outcome(kT107Value)});
  return shot;
}

namespace {

// The counters page's values (the system number, the counters, the timer
// minima), and the cycle that read them.
constexpr std::size_t kCountersGroup[] = {
    kSystemColumn,      kCounterColumn,     kCounterColumn + 1,
    kCounterColumn + 2, kCounterColumn + 3, kCounterColumn + 4,
    kCounterColumn + 5, kTimerColumn,       kTimerColumn + 1};

struct Latest {
  std::string time;  // when the cycle ended
  CycleSnapshot shot{};
  std::int64_t cycle = 0;
  CycleSnapshot counters{};  // only the group's columns are kept
  std::int64_t countersCycle = 0;
};
Latest g_latest;

bool ReadsCounters(const CycleSnapshot& shot) {
  for (const std::size_t column : kCountersGroup) {
    if (shot[column].outcome != ReadOutcome::kSkipped) return true;
  }
  return false;
}

// The row of the latest cycle, without its rows_lost field: the link's
// requests and failures are those since the last row. With an interval, the
// counters page comes from the last cycle that read it.
std::string LatestRow() {
  CycleSnapshot shot = g_latest.shot;
  std::int64_t countersCycle = ReadsCounters(shot) ? g_latest.cycle : 0;
  if (g_run.intervalMs > 0) {
    for (const std::size_t column : kCountersGroup) {
      shot[column] = g_latest.counters[column];
    }
    countersCycle = g_latest.countersCycle;
  }
  std::string row = g_latest.time;
  for (const Reading& r : shot) AddField(row, r.text);
  const LinkTally& now = g_run.atLastCycle;
  for (const std::int64_t n :
       {now.Requests - g_run.atLastRow.Requests,
        now.Unanswered - g_run.atLastRow.Unanswered,
        now.Unusable - g_run.atLastRow.Unusable, g_latest.cycle}) {
    AddField(row, std::to_string(n));
  }
  AddField(row, countersCycle > 0 ? std::to_string(countersCycle) : "");
  return row;
}

// Hands the latest cycle's row to the writer.
void OfferRow(bool due) {
  g_run.rowDone = true;
  g_run.lastRowMs = g_run.lastCycleMs;
  g_run.lastRowCycle = g_latest.cycle;
  Waiting next{LatestRow(), TakeSetPointWrites(), 0, due};
  g_run.atLastRow = g_run.atLastCycle;
  std::string news;
  {
    std::lock_guard<std::mutex> hold(g_log->lock);
    if (g_log->stopped) return;
    if (g_log->waiting.size() >= kMaxWaitingRows) {
      news = PauseLocked(*g_log, "writing to it does not keep up (the file "
                                 "system does not answer)");
      if (due) {
        ++g_log->dropped;
        ++g_log->rowsLost;
      }
    } else {
      next.droppedBefore = std::exchange(g_log->dropped, 0);
      g_log->waiting.push_back(std::move(next));
      g_log->wake.notify_all();
    }
  }
  RecordNews(news);
}

// Whether the latest cycle's row is due; `retry` when it goes early only to
// try a paused log again.
bool RowDue(bool& retry) {
  retry = false;
  if (g_run.intervalMs <= 0 || !g_run.rowDone) return true;
  const std::uint64_t since = g_run.lastCycleMs - g_run.lastRowMs;
  if (since >= static_cast<std::uint64_t>(g_run.intervalMs)) return true;
  std::lock_guard<std::mutex> hold(g_log->lock);
  retry = g_log->paused && since >= kPausedRowEveryMs;
  return retry;
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

// The run in lines that fit an 80-column terminal.
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
                "zrvmon ran %s: %lld cycles of %s\n"
                "  %lld requests, %lld unanswered (%s), %lld unusable (%s)",
                ran, static_cast<long long>(g_run.cycles), period,
                static_cast<long long>(n.Requests),
                static_cast<long long>(n.Unanswered),
                Share(n.Unanswered, n.Requests).c_str(),
                static_cast<long long>(n.Unusable),
                Share(n.Unusable, n.Requests).c_str());
  std::string lines = text;
  if (g_log != nullptr) {
    std::lock_guard<std::mutex> hold(g_log->lock);
    lines += "\n  log: " + Counted(g_log->rowsWritten, "row", "rows") +
             " written, " + std::to_string(g_log->rowsLost) + " lost, " +
             Counted(g_log->reopenings, "reopening", "reopenings");
  }
  if (const std::string mqtt = MqttSummaryLine(); !mqtt.empty()) lines += "\n" + mqtt;
  return lines;
}

// What the user is left with should the run end at any moment from now.
std::string EndText() {
  std::string text;
  if (g_run.started) text += Summary() + "\n";
  if (g_log != nullptr) {
    std::lock_guard<std::mutex> hold(g_log->lock);
    if (g_log->stopped) {
      text += "zrvmon: the log " + g_log->path + " stopped after row " +
              std::to_string(g_log->rowsWritten) + ": " + g_log->stopReason + "\n";
    } else if (g_log->paused) {
      text += PausedLine(*g_log) + "\n";
    }
  }
  if (!MetricsPausedLine().empty()) text += MetricsPausedLine() + "\n";
  if (!MqttFailureLine().empty()) text += MqttFailureLine() + "\n";
  return text;
}

}  // namespace

void SetRecordNews(void (*tell)(const std::string& line)) { g_news = tell; }

void RecordNews(const std::string& line) {
  void (*tell)(const std::string&) = g_news.load();
  if (tell != nullptr && !line.empty()) tell(line);
}

bool RecordOpen(const std::string& path, std::string& why,
                std::int64_t intervalSeconds) {
  std::FILE* file = OpenAt(path, why);
  if (file == nullptr) return false;
  g_log = new Log;
  g_log->file = file;
  g_log->path = path;
  g_log->writer = std::thread(WriterLoop, g_log);
  g_run.intervalMs = intervalSeconds * 1000;
  return true;
}

void RecordReopen() {
  if (g_log != nullptr) {
    std::lock_guard<std::mutex> hold(g_log->lock);
    g_log->reopen = true;
    g_log->wake.notify_all();
  }
  MetricsWriteNow();
}

void RecordStarted() {
  const std::int64_t interval = g_run.intervalMs;
  g_run = Run{};
  g_run.intervalMs = interval;
  g_latest = Latest{};
  g_run.started = true;
  g_run.startedMs = g_run.lastCycleMs = plat::GetTickCount64();
  g_run.atStart = g_run.atLastCycle = g_run.atLastRow = LinkCounts;
  MetricsStarted();
  MqttStarted();
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
  // Readings that stopped within the cycle make it no live one, even
  // before row 22 has said so.
  const bool live = usable > 0 && ReadingsCome();
  const LinkTally sinceStart{now.Requests - g_run.atStart.Requests,
                             now.Unanswered - g_run.atStart.Unanswered,
                             now.Unusable - g_run.atStart.Unusable};
  MetricsCycle(shot, live, sinceStart, g_run.cycles);
  g_run.atLastCycle = LinkCounts;
  g_latest.time = Timestamp();
  g_latest.shot = shot;
  g_latest.cycle = g_run.cycles;
  MqttCycle(shot, live, sinceStart, g_latest.time);
  if (ReadsCounters(shot)) {
    for (const std::size_t column : kCountersGroup) g_latest.counters[column] = shot[column];
    g_latest.countersCycle = g_run.cycles;
  }
  bool retry = false;
  if (g_log != nullptr && RowDue(retry)) OfferRow(!retry);
  // Only a log's rows carry the writes: without one they are not kept.
  if (g_log == nullptr) TakeSetPointWrites();
  plat::ShowOnExit(EndText().c_str());
}

void RecordFinish() {
  // The cycles since the last row of an interval still get theirs.
  if (g_log != nullptr && g_run.started && g_latest.cycle > g_run.lastRowCycle) {
    OfferRow(true);
  }
  MetricsFinish();
  MqttFinish();
  bool finished = true;
  if (g_log != nullptr) {
    std::unique_lock<std::mutex> hold(g_log->lock);
    g_log->closing = true;
    g_log->wake.notify_all();
    finished = g_log->wake.wait_for(hold, kFinishWait, [] { return g_log->done; });
    if (!finished && !g_log->stopped) {
      g_log->stopped = true;
      g_log->stopReason = "writing to it hung";
      for (const Waiting& w : g_log->waiting) g_log->rowsLost += w.due ? 1 : 0;
      g_log->waiting.clear();
    }
  }
  const std::string text = EndText();
  if (!plat::ShowOnExit(text.c_str()) && g_log != nullptr && finished &&
      g_run.started && g_log->file != nullptr) {
    // Where nothing can be shown after the end, the log keeps the summary.
    std::string comment = "# ";
    for (const char c : Summary()) comment += c == '\n' ? "\n# " : std::string(1, c);
    std::string why;
    AppendWhole(g_log->file, g_log->path, SizeAt(g_log->path), comment + "\n", why);
  }
  if (g_log != nullptr) {
    if (finished) {
      g_log->writer.join();
      if (g_log->file != nullptr) std::fclose(g_log->file);
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
  ResetMqttForTests();
  g_run = Run{};
  g_latest = Latest{};
}
