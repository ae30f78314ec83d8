// SPDX-License-Identifier: MIT
// Pieces of the POSIX backend shared between its files, and the pure parts
// (glyphs, colours, key decoding, port names) that are tested on their own.
#pragma once

#include <poll.h>
#include <termios.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/shared/codepage.h"
#include "platform/shared/com_names.h"

namespace plat::posix {

// ---- code page 850 ---------------------------------------------------------
using plat::Cp850Glyph;
using plat::UnicodeToCp850;
void AppendUtf8(std::string& out, char32_t c);
// The printable ASCII character (0x20-0x7E) standing in for a byte's glyph
// on a terminal that does not take UTF-8: letters lose their accents, lines
// and blocks become + - | and shades, other symbols '?'.
char AsciiGlyph(std::uint8_t byte);

// How the terminal is spoken to. A terminal that is not UTF-8 may take the
// bytes 0x80-0x9F inside a UTF-8 glyph as C1 controls, so it gets 7-bit
// ASCII only.
enum class Charset { kUtf8, kAscii };
bool CodesetIsUtf8(const char* codeset);
// `codeset` is the user's own (nl_langinfo after setlocale from the
// environment), `term` and `tmux` the TERM and TMUX variables (null when
// unset). A multiplexer's pane speaks UTF-8 whatever the locale says.
Charset ChooseCharset(const char* codeset, const char* term, const char* tmux);

// A console title: control bytes (below 0x20, 0x7F) dropped, the rest as
// their glyphs (UTF-8) or ASCII stand-ins, so nothing in it can start or
// end a terminal control sequence.
std::string SanitiseTitle(const char* title, Charset charset = Charset::kUtf8);
// Whether a terminal of this TERM name takes the OSC 0 title sequence.
bool TermNameHasTitle(const char* term);

// ---- colours ----------------------------------------------------------------
// A console colour (bit 0 blue, 1 green, 2 red, 3 intensity) as a terminal
// colour number (red 1, green 2, blue 4, +8 bright).
int ConsoleToTermColour(int consoleColour);
struct TermColours {
  short fg;
  short bg;
  bool bold;  // bright foreground shown as bold where only 8 colours exist
};
// Foreground from bits 0-3 of the attribute, background from bits 4-7.
TermColours MapAttribute(std::uint16_t attribute, int colours);

// ---- keys -------------------------------------------------------------------
// A lone ESC with nothing after it for this long is the Esc key.
inline constexpr std::int64_t kEscTimeoutMs = 25;

// Input records the console holds for the program at most: keys typed
// (or pasted) beyond that are dropped, as a full keyboard buffer drops them.
inline constexpr std::uint32_t kMaxQueuedRecords = 4096;

// The key event that the key map reads as the byte `cp850` (letters keep
// their case through the event character). False when no key types it.
bool KeyEventFor(std::uint8_t cp850, KEY_EVENT_RECORD* event);

// How bytes from 0x80 up are read: as UTF-8, as Latin-1 characters (one
// byte each), or dropped one by one where the terminal's encoding is not
// known to give characters the console has.
enum class InputBytes { kUtf8, kLatin1, kDrop };
InputBytes ChooseInputBytes(Charset charset, const char* codeset);

// Turns raw terminal input into key-down/key-up records.
class KeyDecoder {
 public:
  void SetInputBytes(InputBytes mode) { input_ = mode; }
  void Feed(const std::uint8_t* bytes, std::size_t n, std::int64_t nowMs);
  // Appends the records of every complete key. An escape sequence left
  // unfinished for kEscTimeoutMs is taken as typed (a lone ESC is Esc).
  void Decode(std::int64_t nowMs, std::vector<INPUT_RECORD>& out);
  // Milliseconds until Decode can resolve an unfinished sequence; -1 if
  // none is waiting.
  int PendingTimeoutMs(std::int64_t nowMs) const;
  bool Empty() const { return pending_.empty(); }
  // Bytes held back for a key still incomplete.
  std::size_t PendingBytes() const { return pending_.size(); }

 private:
  std::string pending_;
  InputBytes input_ = InputBytes::kUtf8;
  std::int64_t lastFeedMs_ = 0;
  bool skipping_ = false;  // inside a sequence too long to be a key
};

// ---- serial port names ------------------------------------------------------
using plat::ParseComName;
// Serial devices in COM order: the ttyS devices with a UART behind them,
// then the ttyUSB, then the ttyACM devices under /dev, missing numbers
// skipped. `exists` tells a /dev path is there; a ttyS port has a UART when
// sysfs under `sysRoot` shows its driver (a placeholder port of the 8250
// platform device, or one sysfs does not show, only when `uartKnown` says
// the kernel found a UART type for the device).
std::vector<std::string> ListSerialDevices(
    const std::function<bool(const std::string&)>& exists,
    const std::string& sysRoot,
    const std::function<bool(const std::string&)>& uartKnown);
std::vector<std::string> ListSerialDevices();
// The device for a port: ZRVMON_COM<n> when set, else its place in the list.
// Empty when there is none.
std::string DeviceForPort(int port, const std::vector<std::string>& devices);
std::uint32_t ErrnoToWin32(int err);

// ---- handles
// ------------------------------------------------------------------
inline constexpr Handle kConsoleInput = 0x10001;
inline constexpr Handle kConsoleOutput = 0x10002;

bool IsSerialHandle(Handle h);
// A pseudo-terminal rather than a serial line.
bool IsPseudoTerminal(int fd);
// Adds the open ports a poll's pause may wake for: those whose last status
// query found their queue empty. A port with bytes already waiting would
// end the pause at once, and the caller reads those bytes anyway.
void AddSerialWaits(std::vector<pollfd>& fds);
// After such a wait, with the ports' entries of it: notes which hung up;
// true when bytes arrived at one.
bool NoteSerialWaits(const pollfd* fds, std::size_t n);
Handle OpenSerial(const char* name);  // sets the last error
int CloseSerial(Handle h);

// ---- console and process ----------------------------------------------------
// Takes over the terminal (once); false when there is none. Headless, the
// console is kept in memory only and no terminal is needed.
bool StartConsole();
// From now on the console runs headless (before StartConsole).
void SetHeadless();
bool Headless();
// A signal asked a headless run to end: the console input gets an Esc.
void RequestStop();
bool TakeStopRequest();
// A signal asked a headless run to reopen its files: runs the program's
// reopen handler, on the calling thread.
void RunReopenHandler();
// Gives the terminal back as it was found; safe to call more than once and
// from the signal thread.
void RestoreTerminal();
// A console control event (CTRL_BREAK_EVENT, CTRL_CLOSE_EVENT) for the
// registered handler; ends the process with `exitCode` when nobody handles it.
void DispatchCtrlEvent(std::uint32_t event, int exitCode);

// Signals: SIGHUP, SIGTERM, SIGINT and SIGWINCH go to a thread of their own;
// crash signals (and SIGQUIT and the other core-dumping ones) reset the
// terminal and die as they would have.
void StartSignalThread();
void InstallCrashHandlers(int ttyFd, const std::string& resetSequence,
                          const termios& saved);
void DisarmCrashHandlers();
bool OnSignalThread();
// Set by the signal thread on SIGWINCH; the wake pipe's read end is polled
// by every console wait.
bool TakeResizeRequest();
int WakeFd();

std::int64_t MonotonicMs();
std::int64_t MonotonicNs();

}  // namespace plat::posix
