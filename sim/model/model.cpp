// SPDX-License-Identifier: MIT
// The host-link protocol on top of the unit, and the line faults around it.
#include "sim/model/model.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>

#include "sim/model/random.h"

namespace zrvsim {
namespace {

// A cursor over one request, upper-cased and stripped of surrounding blanks.
struct Scanner {
  std::string text;
  std::size_t pos = 0;

  bool AtEnd() const { return pos >= text.size(); }
  int SkipBlanks() {
    int n = 0;
    while (pos < text.size() && (text[pos] == ' ' || text[pos] == '\t')) {
      ++pos;
      ++n;
    }
    return n;
  }
  bool Take(std::string_view word) {
    if (text.compare(pos, word.size(), word) != 0) return false;
    pos += word.size();
    return true;
  }
  // Decimal digits; saturates so that huge numbers still read as too big.
  std::optional<std::uint32_t> Number() {
    if (pos >= text.size() || !std::isdigit(static_cast<unsigned char>(text[pos]))) {
      return std::nullopt;
    }
    std::uint64_t value = 0;
    while (pos < text.size() && std::isdigit(static_cast<unsigned char>(text[pos]))) {
      value = std::min<std::uint64_t>(value * 10 + std::uint64_t(text[pos] - '0'), 0xFFFFFFFFull);
      ++pos;
    }
    return static_cast<std::uint32_t>(value);
  }
};

Scanner Normalise(std::string_view request) {
  Scanner s;
  s.text.reserve(request.size());
  for (char c : request) {
    s.text.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
  }
  const auto blank = [](char c) { return c == ' ' || c == '\t'; };
  while (!s.text.empty() && blank(s.text.back())) s.text.pop_back();
  std::size_t start = 0;
  while (start < s.text.size() && blank(s.text[start])) ++start;
  s.text.erase(0, start);
  return s;
}

// A whole number of up to nine digits, nothing else.
bool ParseCount(std::string_view text, int& out) {
  if (text.empty() || text.size() > 9) return false;
  int v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
  }
  out = v;
  return true;
}

constexpr const char* kMalformed = "E1";
constexpr const char* kOutOfRange = "E2";

}  // namespace

Controller::Controller(const Options& options)
    : options_(options), unit_(options.unit), rng_(options.unit.seed ^ 0x5EEDFA17ull) {}

double Controller::Uniform() { return ToUnit(NextBits(rng_)); }

std::string Controller::Garbage(int count) {
  std::string bytes;
  for (int i = 0; i < count; ++i) bytes.push_back(static_cast<char>(NextBits(rng_) & 0xFF));
  return bytes;
}

std::string Controller::Answer(std::string_view request) {
  Scanner s = Normalise(request);
  if (s.text == "CR") return "CC";
  if (s.text == "CQ") return "OK";

  if (s.Take("RD")) {
    s.SkipBlanks();
    if (s.Take("DM")) {
      s.SkipBlanks();
      const auto address = s.Number();
      s.SkipBlanks();
      if (!address || !s.AtEnd()) return kMalformed;
      if (*address > 0xFFFF) return kOutOfRange;
      return std::to_string(unit_.Dm(*address));
    }
    if (s.Take("T")) {
      s.SkipBlanks();
      const auto number = s.Number();
      s.SkipBlanks();
      if (!number || !s.AtEnd()) return kMalformed;
      const auto timer = number <= 0xFFFF ? unit_.Timer(int(*number)) : std::nullopt;
      if (!timer) return kOutOfRange;
      char text[32];
      std::snprintf(text, sizeof text, "OK%05d %05d", timer->current, timer->preset);
      return text;
    }
    const auto number = s.Number();
    s.SkipBlanks();
    if (!number || !s.AtEnd()) return kMalformed;
    const auto relay = number <= 0xFFFF ? unit_.Relay(int(*number)) : std::nullopt;
    if (!relay) return kOutOfRange;
    return *relay ? "1" : "0";
  }

  if (s.Take("WR")) {
    s.SkipBlanks();
    if (!s.Take("DM")) return kMalformed;
    s.SkipBlanks();
    const auto address = s.Number();
    if (!address || s.SkipBlanks() == 0) return kMalformed;
    const auto value = s.Number();
    s.SkipBlanks();
    if (!value || !s.AtEnd()) return kMalformed;
    if (*address > 0xFFFF || *value > 0xFFFF) return kOutOfRange;
    unit_.WriteDm(static_cast<std::uint16_t>(*address), static_cast<std::uint16_t>(*value));
    return "OK";
  }
  return kMalformed;
}

Response Controller::Handle(std::string_view request) {
  ++requests_;
  Response response;
  const FaultOptions& faults = options_.faults;
  if (silent_) {
    response.fault = "silent";
    return response;
  }
  if (!dead_ && ((faults.deadAfterTime >= 0 && Now() >= faults.deadAfterTime) ||
                 (faults.deadAfterRequests >= 0 && requests_ > faults.deadAfterRequests))) {
    dead_ = true;
  }
  if (dead_) {
    response.fault = "dead";
    return response;
  }

  // Gather what the rules and the dice say about this request.
  std::vector<std::pair<FaultKind, std::string>> chosen;
  for (FaultRule& rule : options_.faults.rules) {
    if (!GlobMatch(rule.match, request)) continue;
    ++rule.seen;
    if (rule.seen <= rule.after) continue;
    if (rule.every > 1 && (rule.seen - rule.after) % rule.every != 0) continue;
    if (rule.times >= 0 && rule.applied >= rule.times) continue;
    if (rule.probability < 1.0 && Uniform() >= rule.probability) continue;
    ++rule.applied;
    chosen.emplace_back(rule.kind, rule.arg);
  }
  if (faults.rate > 0.0 && !faults.randomKinds.empty() && Uniform() < faults.rate) {
    const auto pick = static_cast<std::size_t>(Uniform() * double(faults.randomKinds.size()));
    chosen.emplace_back(faults.randomKinds[std::min(pick, faults.randomKinds.size() - 1)], "");
  }

  bool carriedOut = true, lost = false, noEnd = false;
  std::optional<std::string> replaced;
  int garbage = -1;
  Micros extra = 0;
  const auto argNumber = [](const std::string& arg, int fallback) {
    int n = 0;
    return ParseCount(arg, n) ? n : fallback;
  };
  for (const auto& [kind, arg] : chosen) {
    if (!response.fault.empty()) response.fault += ' ';
    response.fault += FaultKindName(kind);
    switch (kind) {
      case FaultKind::kDead:
        dead_ = true;
        return response;
      case FaultKind::kSilence:
        return response;
      case FaultKind::kLost:
        lost = true;
        break;
      case FaultKind::kLatency:
        extra += argNumber(arg, 30) * kMillisecond;
        break;
      case FaultKind::kLate:
        extra += argNumber(arg, 1000) * kMillisecond;
        break;
      case FaultKind::kNoEnd:
        noEnd = true;
        break;
      case FaultKind::kBabble:
        replaced = std::string(static_cast<std::size_t>(argNumber(arg, 3000)), 'A');
        carriedOut = false;
        noEnd = true;
        break;
      case FaultKind::kGarbage:
        garbage = std::min(argNumber(arg, 8), 255);
        break;
      case FaultKind::kError:
        replaced = arg.empty() ? std::string(kMalformed) : arg;
        carriedOut = false;
        break;
      case FaultKind::kReply:
        replaced = arg;
        carriedOut = false;
        break;
    }
  }

  std::string text = carriedOut ? Answer(request) : *replaced;
  if (lost) return response;
  if (garbage >= 0) text = Garbage(garbage);
  if (!noEnd) text += "\r\n";
  response.sent = true;
  response.bytes = std::move(text);
  response.delay = options_.latency + extra;
  if (options_.jitter > 0) response.delay += Micros(Uniform() * double(options_.jitter));
  return response;
}

// ---- helpers --------------------------------------------------------------------

std::optional<std::string> LineCollector::Push(std::uint8_t byte) {
  if (byte == '\r' || (byte == '\n' && !line_.empty())) {
    std::string line = std::move(line_);
    line_.clear();
    return line;
  }
  if (byte == '\n' || byte == 0) return std::nullopt;
  if (byte == 8 || byte == 127) {
    if (!line_.empty()) line_.pop_back();
    return std::nullopt;
  }
  if (line_.size() < kMaxLine) line_.push_back(static_cast<char>(byte));
  return std::nullopt;
}

bool GlobMatch(std::string_view pattern, std::string_view text) {
  const auto same = [](char a, char b) {
    return std::toupper(static_cast<unsigned char>(a)) == std::toupper(static_cast<unsigned char>(b));
  };
  // Iterative matcher with one backtrack point for the last star.
  std::size_t p = 0, t = 0, star = std::string_view::npos, mark = 0;
  while (t < text.size()) {
    if (p < pattern.size() && (pattern[p] == '?' || (pattern[p] != '*' && same(pattern[p], text[t])))) {
      ++p;
      ++t;
    } else if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      mark = t;
    } else if (star != std::string_view::npos) {
      p = star + 1;
      t = ++mark;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

std::string Unescape(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 >= text.size()) {
      out.push_back(text[i]);
      continue;
    }
    const char c = text[++i];
    switch (c) {
      case 'e': case 'E': out.push_back('\x1b'); break;
      case 'r': out.push_back('\r'); break;
      case 'n': out.push_back('\n'); break;
      case 't': out.push_back('\t'); break;
      case 'a': out.push_back('\a'); break;
      case 'b': out.push_back('\b'); break;
      case 'x': {
        int value = 0, digits = 0;
        while (digits < 2 && i + 1 < text.size() &&
               std::isxdigit(static_cast<unsigned char>(text[i + 1]))) {
          const char h = static_cast<char>(std::tolower(static_cast<unsigned char>(text[++i])));
          value = value * 16 + (h <= '9' ? h - '0' : h - 'a' + 10);
          ++digits;
        }
        if (digits == 0) {
          out.push_back('x');
        } else {
          out.push_back(static_cast<char>(value));
        }
        break;
      }
      default:
        if (c >= '0' && c <= '7') {
          int value = c - '0', digits = 1;
          while (digits < 3 && i + 1 < text.size() && text[i + 1] >= '0' && text[i + 1] <= '7') {
            value = value * 8 + (text[++i] - '0');
            ++digits;
          }
          out.push_back(static_cast<char>(value & 0xFF));
        } else {
          out.push_back(c);  // \\ and anything unknown
        }
    }
  }
  return out;
}

std::string EscapeBytes(std::string_view bytes) {
  std::string out;
  for (char ch : bytes) {
    const auto c = static_cast<unsigned char>(ch);
    switch (c) {
      case '\r': out += "\\r"; break;
      case '\n': out += "\\n"; break;
      case 0x1b: out += "\\e"; break;
      case '\\': out += "\\\\"; break;
      default:
        if (c < 0x20 || c >= 0x7f) {
          char hex[8];
          std::snprintf(hex, sizeof hex, "\\x%02X", c);
          out += hex;
        } else {
          out.push_back(ch);
        }
    }
  }
  return out;
}

namespace {
constexpr std::pair<FaultKind, std::string_view> kKindNames[] = {
    {FaultKind::kSilence, "silence"}, {FaultKind::kLost, "lost"},
    {FaultKind::kLatency, "latency"}, {FaultKind::kLate, "late"},
    {FaultKind::kNoEnd, "noend"},     {FaultKind::kGarbage, "garbage"},
    {FaultKind::kBabble, "babble"},
    {FaultKind::kError, "error"},     {FaultKind::kReply, "reply"},
    {FaultKind::kDead, "dead"},
};
}  // namespace

std::optional<FaultKind> ParseFaultKind(std::string_view name) {
  std::string lower;
  for (char c : name) lower.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
  for (const auto& [kind, n] : kKindNames) {
    if (lower == n) return kind;
  }
  return std::nullopt;
}

std::string_view FaultKindName(FaultKind kind) {
  for (const auto& [k, n] : kKindNames) {
    if (k == kind) return n;
  }
  return "?";
}

std::optional<FaultRule> ParseFaultRule(std::string_view text, std::string& error) {
  const auto colon = text.find(':');
  if (colon == std::string_view::npos) {
    error = "fault needs MATCH:KIND";
    return std::nullopt;
  }
  FaultRule rule;
  rule.match = std::string(text.substr(0, colon));
  // Not assign("*"): GCC 12 warns falsely about it (-Wrestrict) at -O2.
  if (rule.match.empty()) rule.match.assign(1, '*');
  std::string_view rest = text.substr(colon + 1);
  std::string_view kindPart = rest;
  const auto argColon = rest.find(':');
  if (argColon != std::string_view::npos) {
    kindPart = rest.substr(0, argColon);
    rule.arg = Unescape(rest.substr(argColon + 1));
  }
  // KIND[,after=N][,times=N][,every=N][,p=P]
  std::size_t pos = 0;
  bool first = true;
  while (pos <= kindPart.size()) {
    auto comma = kindPart.find(',', pos);
    if (comma == std::string_view::npos) comma = kindPart.size();
    const std::string_view item = kindPart.substr(pos, comma - pos);
    pos = comma + 1;
    if (first) {
      const auto kind = ParseFaultKind(item);
      if (!kind) {
        error = "unknown fault kind '" + std::string(item) + "'";
        return std::nullopt;
      }
      rule.kind = *kind;
      first = false;
      continue;
    }
    const auto eq = item.find('=');
    const std::string_view key = item.substr(0, eq);
    const std::string_view value = eq == std::string_view::npos ? "" : item.substr(eq + 1);
    if (key == "after" && ParseCount(value, rule.after)) continue;
    if (key == "times" && ParseCount(value, rule.times)) continue;
    if (key == "every" && ParseCount(value, rule.every) && rule.every > 0) continue;
    if (key == "p") {
      char* end = nullptr;
      const std::string v(value);
      const double p = std::strtod(v.c_str(), &end);
      if (!v.empty() && end && *end == '\0' && p >= 0.0 && p <= 1.0) {
        rule.probability = p;
        continue;
      }
    }
    error = "bad fault option '" + std::string(item) + "'";
    return std::nullopt;
  }
  if (rule.kind == FaultKind::kLatency || rule.kind == FaultKind::kLate ||
      rule.kind == FaultKind::kGarbage || rule.kind == FaultKind::kBabble) {
    int n = 0;
    if (!rule.arg.empty() && !ParseCount(rule.arg, n)) {
      error = "fault argument must be a whole number: '" + rule.arg + "'";
      return std::nullopt;
    }
  }
  return rule;
}

std::optional<FaultRule> ParseReplyRule(std::string_view text, std::string& error) {
  const auto eq = text.find('=');
  if (eq == std::string_view::npos || eq == 0) {
    error = "reply needs REQUEST=TEXT";
    return std::nullopt;
  }
  FaultRule rule;
  rule.match = std::string(text.substr(0, eq));
  rule.kind = FaultKind::kReply;
  rule.arg = Unescape(text.substr(eq + 1));
  return rule;
}

}  // namespace zrvsim
