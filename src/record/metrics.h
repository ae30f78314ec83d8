// SPDX-License-Identifier: MIT
// The unit's metrics for Prometheus: a file in the text format (0.0.4)
// that node exporter's textfile collector serves, kept up to date after
// every polling cycle from what the screen showed.
#pragma once

#include <string>
#include <string_view>

#include "record/record.h"

// Keeps metrics at `path` for the unit named `unit` (empty: COM<n>). False,
// with the reason, when the file's folder is not there.
bool MetricsOpen(const std::string& path, const std::string& unit,
                 std::string& why);
// A cycle has ended: its readings, what the link did in it and since the
// start, go into the file at most once a second. A write that fails pauses
// the metrics until a later cycle's write succeeds; polling goes on.
void MetricsCycle(const CycleSnapshot& shot, bool anyReply,
                  const LinkTally& sinceStart, std::int64_t cycles);
// Between cycles' ends: readings stopped coming (or come again), so that
// zrv_up says it now rather than after a cycle of waits.
void MetricsLinkState(bool readingsCome);
// The latest text goes into the file now (a reopening was asked for).
void MetricsWriteNow();
// Start-up is done: zrv_info names the port's device, and the system number
// start-up read until a cycle reads it again (even if that read is lost).
void MetricsStarted();
// The run ends: the file goes, so that the unit's series go stale at once.
void MetricsFinish();
// Why the metrics are paused, as a line for the user, or empty.
std::string MetricsPausedLine();
// A decimal as the screen wrote it ("-12.50"), times 10^shift (negative:
// divided), written exactly; empty when it is no such number.
std::string Scaled(std::string_view text, int shift);
// The time to the next defrost in seconds, from row 7's hours or minutes;
// empty when the row showed none.
std::string DefrostSeconds(const CycleSnapshot& shot);
// The file's text for a cycle (tests).
std::string MetricsText(const CycleSnapshot& shot, bool anyReply,
                        const LinkTally& sinceStart, std::int64_t cycles,
                        double nowSeconds);

// Tests only: no metrics kept.
void ResetMetricsForTests();
