#include "countdown.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "checks.h"
#include "judged.h"
#include "parse.h"
#include "run.h"

namespace check {
namespace {

using wdt::Fixed;

// Reads the countdown into *watch; a check only when the watch itself ended
// in a failed call or a stop.
std::optional<Check> WatchCountdown(Run& run, Watch* watch) {
  Run::Reading last = run.Read();
  if (run.Stop()) return run.Stopped("countdown");
  if (last.status != 0) return CallFailed("countdown", "ReadTimerValue()", last.status);
  const Run::Reading first = last;
  const Clock::time_point end = first.at + kCountdownWindow;
  // A counter that has not moved for kStillFor since the arm or its last
  // change is judged at once: it may be one that shows a value while it runs
  // out unseen.
  Clock::time_point moved = run.learned.armed_at;
  // A counter faster than one unit a second runs out sooner than its value says.
  std::optional<Clock::time_point> fast_expiry;
  for (;;) {
    const Clock::time_point now = run.Now();
    if (run.Stop()) return run.Stopped("countdown");
    if (now - moved >= kStillFor) break;
    if (now >= end) {
      const std::optional<double> resolution = RateResolution(watch->edges, StepOf(watch->edges));
      if (now >= first.at + kCountdownLongest || (resolution && *resolution < run.settings().tolerance_pct / 100)) {
        break;
      }
    }
    if (now >= run.SafeUntil() || (fast_expiry && now >= MarginPlan::SafeUntil(*fast_expiry))) {
      watch->cut = true;
      break;
    }
    run.seam().time.sleep(kCountdownPoll);
    const Run::Reading read = run.Read();
    if (run.Stop()) return run.Stopped("countdown");
    if (read.status != 0) return CallFailed("countdown", "ReadTimerValue()", read.status);
    if (read.value != last.value) {
      // Somewhere between the two reads: halfway, give or take half the time between them.
      watch->edges.push_back({Seconds(last.at - first.at + (read.at - last.at) / 2), read.value,
                              Seconds(read.at - last.at) / 2});
      moved = read.at;
      if (const auto spu = SecondsPerUnit(watch->edges); spu && *spu > 0 && *spu < 1 && read.value > 0) {
        run.SeenCounting(*spu);
        fast_expiry = MarginPlan::FastExpiry(read.at, read.value, *spu);
      }
    }
    last = read;
    if (run.plan().NearEnd(last.value)) {
      watch->cut = true;
      break;
    }
  }
  watch->first = first.value;
  watch->last = last.value;
  watch->observed_s = Seconds(last.at - first.at);
  watch->since_arm_s = Seconds(first.at - run.learned.armed_at);
  return std::nullopt;
}

}  // namespace

Check Countdown(Run& run) {
  if (run.Stop()) return run.Stopped("countdown");
  if (run.armed() != Armed::kKnown) return Skipped("countdown", kNotArmed);
  if (run.LibraryCounts()) {
    return Skipped("countdown", "the driver reports no time left: the value is counted by the library");
  }
  Watch watch;
  watch.pretimeout = run.plan().Before(run.settings().timeout);
  if (std::optional<Check> ended = WatchCountdown(run, &watch)) return *std::move(ended);
  Check judged = JudgeCountdown(watch, run.settings());
  if (judged.result != Result::kSkip) judged.evidence = run.ReadBack();
  return judged;
}

Check JudgeCountdown(const Watch& watch, const Settings& settings) {
  const std::vector<Edge>& edges = watch.edges;
  const auto spu = SecondsPerUnit(edges);
  const double tolerance = settings.tolerance_pct / 100;
  std::vector<Figure> figures = {{"edges", std::to_string(edges.size())},
                                 {"observed_s", Fixed(watch.observed_s, 3)},
                                 {"from", Whole(watch.first)},
                                 {"to", Whole(watch.last)},
                                 {"tolerance_pct", Short(settings.tolerance_pct)}};
  if (spu) figures.insert(figures.begin(), {"seconds_per_unit", Fixed(*spu, 6)});
  const auto failed = [&](std::string why) { return Judged("countdown", false, std::move(why), figures); };
  const std::string edge_count = std::to_string(edges.size()) + (edges.size() == 1 ? " edge" : " edges");
  const std::string in_time = " in " + Fixed(watch.observed_s, 1) + " s";
  for (std::uint32_t before = watch.first; const Edge& edge : edges) {
    if (edge.value > before) return failed("rose from " + Whole(before) + " while armed," + in_time);
    before = edge.value;
  }
  // Right after the arm the time left is at most the timeout: a counter above
  // it counts something else (a model's or a driver's fault), whatever its pace.
  if (watch.first > settings.timeout) {
    return failed("the time left reads " + Whole(watch.first) + ", above the timeout of " + Whole(settings.timeout) +
                  " s: the counter does not count this watchdog");
  }
  const double since_arm = watch.since_arm_s + watch.observed_s;
  if (edges.empty() && since_arm >= Seconds(kStillFor)) {
    return failed("stayed at " + Whole(watch.first) + " for " + Fixed(since_arm, 1) + " s after the arm");
  }

  const double step = StepOf(edges);

  // A fitted rate beyond the tolerance says most about a counter off its
  // pace, but only where the edges resolve it (RateResolution).
  const std::optional<double> resolution = RateResolution(edges, step);
  const bool resolved = spu && resolution && *resolution < tolerance;
  const std::string rate = spu ? Fixed(*spu, 3) + " s per unit over " + edge_count + " (tolerance " +
                                     Short(settings.tolerance_pct) + " %)"
                               : "";
  if (resolution) figures.push_back({"resolution_pct", Fixed(*resolution * 100, 1)});
  if (resolved && std::abs(*spu - 1) > tolerance) return failed(rate);

  // Every stretch without a change, from the arm to the last read, is at
  // most one unit at the slowest rate that the tolerance allows, plus a step
  // for a counter that moves in steps and the time between two reads. Each
  // stretch is taken at its shortest, as the reads bound it.
  const double longest = 1 + tolerance + step + Seconds(kCountdownPoll);
  double from = -watch.since_arm_s;  // the arm
  std::uint32_t value = watch.first;
  for (std::size_t i = 0; i <= edges.size(); ++i) {
    const double until = i < edges.size() ? edges[i].at_s - edges[i].spread_s : watch.observed_s;
    if (until - from > longest) {
      return failed("stayed at " + Whole(value) + " for " + Fixed(until - from, 1) + " s" +
                    (i == 0 ? " after the arm" : "") + ": a unit takes at most " + Fixed(longest, 2) + " s");
    }
    if (i == edges.size()) break;
    from = edges[i].at_s + edges[i].spread_s;
    value = edges[i].value;
  }

  // The fall over the whole watch matches the time it took: each end read
  // may be a unit off (a part of a unit shows either way).
  const double fall = static_cast<double>(watch.first) - static_cast<double>(watch.last);
  if (watch.observed_s > 0 && ((fall + 1) / watch.observed_s < 1 / (1 + tolerance) ||
                               (fall - 1) / watch.observed_s > 1 / (1 - tolerance))) {
    return failed("from " + Whole(watch.first) + " to " + Whole(watch.last) + in_time +
                  ": not one unit a second (tolerance " + Short(settings.tolerance_pct) + " %)");
  }

  if (!spu && watch.cut) {
    return Skipped("countdown", edge_count + in_time + " before the " + Short(Seconds(kMargin)) + " s margin" +
                                    (watch.pretimeout > 0
                                         ? " ahead of the pretimeout (" + Whole(watch.pretimeout) + " s)"
                                         : "") +
                                    ": too short to measure; a longer --timeout gives room");
  }
  if (!spu) return failed(edge_count + in_time);
  if (!resolved) {
    return Judged("countdown", true,
                  "rate not judged: " + edge_count + " in " + Fixed(edges.back().at_s - edges.front().at_s, 1) +
                      " s cannot resolve " + Short(settings.tolerance_pct) + " %; from " + Whole(watch.first) +
                      " to " + Whole(watch.last) + in_time,
                  figures);
  }
  return Judged("countdown", true, rate, figures);
}

std::optional<double> RateResolution(const std::vector<Edge>& edges, double step) {
  if (edges.size() < 2) return std::nullopt;
  // Where no step shows, the step that an honest counter would need to show
  // these stretches: each stretch differs from its units by less than one.
  double unseen = 0;
  for (std::size_t i = 1; i < edges.size(); ++i) {
    const double units = static_cast<double>(edges[i - 1].value) - static_cast<double>(edges[i].value);
    unseen = std::max(unseen, std::abs(edges[i].at_s - edges[i - 1].at_s - units));
  }
  // The most that the fitted slope moves when each edge's instant is off by
  // its spread and by half a step either way around the middle of its lag.
  double mean = 0;
  for (const Edge& e : edges) mean += e.value;
  mean /= static_cast<double>(edges.size());
  double shift = 0;
  double variance = 0;
  for (const Edge& e : edges) {
    shift += std::abs(e.value - mean) * (e.spread_s + std::max(step, unseen) / 2);
    variance += (e.value - mean) * (e.value - mean);
  }
  if (variance == 0) return std::nullopt;
  return shift / variance;
}

double StepOf(const std::vector<Edge>& edges) {
  double step = 0;
  for (std::size_t i = 1; i < edges.size(); ++i) {
    const double gap = edges[i].at_s - edges[i - 1].at_s;
    if (gap < 0.9 && (step == 0 || gap < step)) step = gap;
  }
  return step;
}

std::optional<double> SecondsPerUnit(const std::vector<Edge>& edges) {
  if (edges.size() < 2) return std::nullopt;
  double mean_t = 0;
  double mean_v = 0;
  for (const Edge& e : edges) {
    mean_t += e.at_s;
    mean_v += e.value;
  }
  mean_t /= static_cast<double>(edges.size());
  mean_v /= static_cast<double>(edges.size());
  double covariance = 0;
  double variance = 0;
  for (const Edge& e : edges) {
    covariance += (e.value - mean_v) * (e.at_s - mean_t);
    variance += (e.value - mean_v) * (e.value - mean_v);
  }
  if (variance == 0) return std::nullopt;
  return -covariance / variance;
}

}  // namespace check
