// SPDX-License-Identifier: MIT
#include "platform/shared/end_notes.h"

#include <chrono>
#include <cstdio>
#include <mutex>
#include <vector>

namespace plat {

namespace {

struct EndLines {
  std::timed_mutex lock;
  std::vector<std::string> notes;  // the last few only
  std::string text;
};

// Never destroyed: the lines are printed from exit handlers.
EndLines& TheEndLines() {
  static EndLines* lines = new EndLines;
  return *lines;
}

}  // namespace

void NoteForUser(const std::string& line) {
  EndLines& e = TheEndLines();
  std::lock_guard<std::timed_mutex> lock(e.lock);
  if (e.notes.size() >= 8) e.notes.erase(e.notes.begin());
  e.notes.push_back(line);
}

void SetExitText(const char* text) {
  EndLines& e = TheEndLines();
  std::lock_guard<std::timed_mutex> lock(e.lock);
  e.text = text != nullptr ? text : "";
}

void PrintEndLines() {
  EndLines& e = TheEndLines();
  std::unique_lock<std::timed_mutex> lock(e.lock, std::defer_lock);
  if (!lock.try_lock_for(std::chrono::milliseconds(200))) return;
  for (const std::string& line : e.notes) {
    std::fprintf(stderr, "zrvmon: %s\n", line.c_str());
  }
  std::fputs(e.text.c_str(), stderr);
  e.notes.clear();
  e.text.clear();
  std::fflush(stderr);
}

}  // namespace plat
