#include "report.hpp"

#include <algorithm>
#include <cstdio>
#include <functional>
#include <optional>

namespace e2e {

namespace {

struct Stats {
    double median = 0;
    double min = 0;
    double max = 0;
};

std::optional<Stats> stats(std::vector<double> values) {
    if (values.empty()) return std::nullopt;
    std::sort(values.begin(), values.end());
    const std::size_t mid = values.size() / 2;
    const double median = values.size() % 2 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
    return Stats{median, values.front(), values.back()};
}

std::optional<double> median(const std::vector<double>& values) {
    const auto s = stats(values);
    return s ? std::optional<double>(s->median) : std::nullopt;
}

std::string fixed(double value, int digits) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", digits, value);
    return text;
}

// "141.2 (117.9–160.1)": the median and the range of the runs; the median
// alone when there is one run.
std::string spread(const std::vector<double>& values, int digits, const std::string& unit = "") {
    const auto s = stats(values);
    if (!s) return "n/a";
    if (s->median >= 1000) digits = 0;  // keeps the widest figures within their column
    if (values.size() == 1) return fixed(s->median, digits) + unit;
    return fixed(s->median, digits) + unit + " (" + fixed(s->min, digits) + "–" + fixed(s->max, digits) + ")";
}

std::string pad(const std::string& text, std::size_t width) {
    // Column widths count characters, not bytes ('µ', '–').
    std::size_t shown = 0;
    for (unsigned char c : text) shown += (c & 0xC0) != 0x80;
    return shown >= width ? " " + text : std::string(width - shown, ' ') + text;
}

std::string left(const std::string& text, std::size_t width) {
    std::size_t shown = 0;
    for (unsigned char c : text) shown += (c & 0xC0) != 0x80;
    return shown >= width ? text + " " : text + std::string(width - shown, ' ');
}

std::optional<double> ratio(std::optional<double> a, std::optional<double> b) {
    if (!a || !b || *b <= 0) return std::nullopt;
    return *a / *b;
}

// Appends item to a list, after sep unless it is the first.
void append_item(std::string& list, const char* sep, const std::string& item) {
    if (!list.empty()) list += sep;
    list += item;
}

std::string ratio_text(std::optional<double> r) { return r ? fixed(*r, 2) + "x" : "n/a"; }

constexpr std::size_t kLabel = 28;
constexpr std::size_t kColumn = 22;
constexpr std::size_t kCheckLabel = 26;

template <typename Run>
std::vector<double> collect(const std::vector<Run>& runs, const std::function<std::optional<double>(const Run&)>& get) {
    std::vector<double> values;
    for (const Run& run : runs) {
        if (const auto value = get(run)) values.push_back(*value);
    }
    return values;
}

// Runtime run i against pass-through run i, measured back to back.
template <typename Run>
std::vector<double> paired(const std::vector<Run>& runtime, const std::vector<Run>& passthrough,
                           const std::function<std::optional<double>(const Run&, const Run&)>& get) {
    std::vector<double> values;
    for (std::size_t i = 0; i < std::min(runtime.size(), passthrough.size()); ++i) {
        if (runtime[i].ok && passthrough[i].ok) {
            if (const auto value = get(runtime[i], passthrough[i])) values.push_back(*value);
        }
    }
    return values;
}

class Report {
public:
    Report(const Results& results, std::ostream& out) : r_(results), out_(out) {}

    bool print() {
        header();
        relay();
        fire_hose();
        paced();
        round_trip();
        memory();
        idle();
        checks();
        targets();
        return all_checks_passed_;
    }

private:
    const Cell& cell(Relay relay, std::size_t shape) const {
        return r_.cells[static_cast<std::size_t>(relay)][shape];
    }
    std::optional<double> med(Relay relay, std::size_t shape) const { return median(cell(relay, shape).mbps); }

    const std::vector<FireHoseRun>& hose(std::size_t side, std::size_t shape) const { return r_.fire_hose[side][shape]; }

    // Requests per second of the counted fire-hose runs: every request the
    // relay took, delivered or refused.
    std::vector<double> hose_rate(std::size_t side, std::size_t shape, double scale) const {
        const double count = static_cast<double>(r_.fire_hose_shapes[shape].count);
        return collect<FireHoseRun>(hose(side, shape), [&](const FireHoseRun& run) -> std::optional<double> {
            if (!run.ok || run.seconds <= 0) return std::nullopt;
            return count / run.seconds / scale;
        });
    }

    std::vector<double> hose_ratios(std::size_t shape) const {
        return paired<FireHoseRun>(hose(kRuntimeSide, shape), hose(kPassThroughSide, shape),
                                   [](const FireHoseRun& a, const FireHoseRun& b) -> std::optional<double> {
                                       if (a.seconds <= 0) return std::nullopt;
                                       return b.seconds / a.seconds;  // the same requests: a ratio of rates
                                   });
    }

    std::vector<double> paced_ratios(std::size_t shape) const {
        return paired<PacedRun>(r_.paced[kRuntimeSide][shape], r_.paced[kPassThroughSide][shape],
                                [](const PacedRun& a, const PacedRun& b) -> std::optional<double> {
                                    if (b.requests_per_second <= 0) return std::nullopt;
                                    return a.requests_per_second / b.requests_per_second;
                                });
    }

    std::vector<double> round_trip_ratios(double RoundTrip::*field) const {
        return paired<RoundTrip>(r_.round_trips[kRuntimeSide], r_.round_trips[kPassThroughSide],
                                 [field](const RoundTrip& a, const RoundTrip& b) -> std::optional<double> {
                                     if (b.*field <= 0) return std::nullopt;
                                     return a.*field / b.*field;
                                 });
    }

    void header() {
        out_ << "quern-runtime end-to-end benchmark, " << r_.runs << " runs per cell\n";
        out_ << "every figure: the median of the runs (min–max). Ratios: relay throughput, of the medians;\n"
             << "fire-hose, paced and round trip, the median of the per-run ratios (runtime and pass-through\n"
             << "measured back to back in each run).\n";
        out_ << "relay input:";
        for (std::size_t s = 0; s < kShapeCount; ++s) {
            out_ << (s ? ", " : " ") << r_.shape_names[s] << " "
                 << fixed(static_cast<double>(r_.input_bytes[s]) / 1e6, 2) << " MB in " << r_.lines[s] << " lines ("
                 << fixed(static_cast<double>(r_.input_bytes[s]) / static_cast<double>(r_.lines[s]), 0) << " B/line)";
        }
        out_ << "\nrequests:";
        for (std::size_t s = 0; s < kShapeCount; ++s) {
            const RequestShape& shape = r_.fire_hose_shapes[s];
            out_ << (s ? ", " : " ") << shape.name << " " << shape.count << " of "
                 << fixed(static_cast<double>(shape.bytes) / static_cast<double>(shape.count), 0) << " B ("
                 << fixed(static_cast<double>(shape.bytes) / 1e6, 2) << " MB)";
        }
        out_ << "; paced:";
        for (std::size_t s = 0; s < kPacedShapeCount; ++s) {
            out_ << (s ? ", " : " ") << r_.paced_shapes[s].count << " " << r_.paced_shapes[s].name;
        }
        out_ << "\nload average before: " << r_.load_before << "; after: " << r_.load_after << "\n\n";
    }

    void columns(const std::string& title, std::size_t count, std::size_t width) {
        out_ << left(title, kLabel);
        for (std::size_t s = 0; s < count; ++s) out_ << pad(r_.shape_names[s], width);
        out_ << "\n";
    }

    void row(const std::string& label, std::size_t count, std::size_t width,
             const std::function<std::string(std::size_t)>& text) {
        out_ << left(label, kLabel);
        for (std::size_t s = 0; s < count; ++s) out_ << pad(text(s), width);
        out_ << "\n";
    }

    void relay() {
        out_ << "relay, backend -> front end\n";
        columns("MB/s", kShapeCount, kColumn);
        for (Relay relay : kRelays) {
            row(relay_name(relay), kShapeCount, kColumn, [&](std::size_t s) {
                return cell(relay, s).mbps.empty() ? "FAILED" : spread(cell(relay, s).mbps, 1);
            });
        }
        for (Relay peer : {Relay::RapidJson, Relay::SimdJson, Relay::Jq, Relay::PassThrough}) {
            row(std::string("runtime/") + relay_name(peer), kShapeCount, kColumn,
                [&](std::size_t s) { return ratio_text(ratio(med(Relay::Runtime, s), med(peer, s))); });
        }
        out_ << "\n";
    }

    void fire_hose() {
        out_ << "fire-hose requests, front end -> backend\n";
        columns("", kShapeCount, kColumn);
        for (std::size_t side : {kRuntimeSide, kPassThroughSide}) {
            row(side == kRuntimeSide ? "runtime k req/s" : "pass-through k req/s", kShapeCount, kColumn,
                [&](std::size_t s) { return spread(hose_rate(side, s, 1e3), 1); });
        }
        row("runtime/pass-through", kShapeCount, kColumn,
            [&](std::size_t s) { return spread(hose_ratios(s), 2, "x"); });
        for (std::size_t side : {kRuntimeSide, kPassThroughSide}) {
            row(side == kRuntimeSide ? "runtime MB/s" : "pass-through MB/s", kShapeCount, kColumn, [&](std::size_t s) {
                const double bytes_per_request = static_cast<double>(r_.fire_hose_shapes[s].bytes) /
                                                 static_cast<double>(r_.fire_hose_shapes[s].count);
                return spread(hose_rate(side, s, 1e6 / bytes_per_request), 1);
            });
        }
        row("runtime refused", kShapeCount, kColumn, [&](std::size_t s) {
            return spread(collect<FireHoseRun>(hose(kRuntimeSide, s),
                                               [](const FireHoseRun& run) -> std::optional<double> {
                                                   if (!run.ok) return std::nullopt;
                                                   return static_cast<double>(run.refused);
                                               }),
                          0);
        });
        for (std::size_t side : {kRuntimeSide, kPassThroughSide}) {
            row(side == kRuntimeSide ? "runtime CPU µs/request" : "pass-through CPU µs/request", kShapeCount, kColumn,
                [&](std::size_t s) {
                    const double count = static_cast<double>(r_.fire_hose_shapes[s].count);
                    return spread(collect<FireHoseRun>(hose(side, s),
                                                       [&](const FireHoseRun& run) -> std::optional<double> {
                                                           if (!run.ok || run.cpu_ms < 0) return std::nullopt;
                                                           return run.cpu_ms * 1e3 / count;
                                                       }),
                                  2);
                });
        }
        out_ << "(requests per second count every request taken, delivered or refused; CPU is the relay's\n"
             << "own, all its threads, from its start to the end marker's answer, per request sent)\n\n";
    }

    void paced() {
        out_ << "paced requests, at most " << kPacedWindow << " unanswered, to the echo backend and back\n";
        columns("k req/s", kPacedShapeCount, kColumn);
        for (std::size_t side : {kRuntimeSide, kPassThroughSide}) {
            row(side == kRuntimeSide ? "runtime" : "pass-through", kPacedShapeCount, kColumn, [&](std::size_t s) {
                return spread(collect<PacedRun>(r_.paced[side][s],
                                                [](const PacedRun& run) -> std::optional<double> {
                                                    if (!run.ok) return std::nullopt;
                                                    return run.requests_per_second / 1e3;
                                                }),
                              1);
            });
        }
        row("runtime/pass-through", kPacedShapeCount, kColumn,
            [&](std::size_t s) { return spread(paced_ratios(s), 2, "x"); });
        out_ << "\n";
    }

    static std::optional<double> round_trip_field(const RoundTrip& rt, double RoundTrip::*field) {
        if (!rt.ok) return std::nullopt;
        return rt.*field;
    }

    void round_trip() {
        int count = 0;
        for (const auto& side : r_.round_trips) {
            for (const RoundTrip& rt : side) count = std::max(count, rt.count);
        }
        static constexpr double RoundTrip::*kFields[] = {&RoundTrip::median_us, &RoundTrip::p99_us, &RoundTrip::max_us};
        out_ << left("round trip µs (" + std::to_string(count) + " a run)", kLabel) << pad("median", kColumn)
             << pad("p99", kColumn) << pad("max", kColumn) << "\n";
        for (std::size_t side : {kRuntimeSide, kPassThroughSide}) {
            out_ << left(side == kRuntimeSide ? "runtime" : "pass-through", kLabel);
            for (auto field : kFields) {
                out_ << pad(spread(collect<RoundTrip>(r_.round_trips[side],
                                                      [field](const RoundTrip& rt) { return round_trip_field(rt, field); }),
                                   1),
                            kColumn);
            }
            out_ << "\n";
        }
        out_ << left("runtime/pass-through", kLabel);
        for (auto field : kFields) out_ << pad(spread(round_trip_ratios(field), 2, "x"), kColumn);
        out_ << "\n\n";
    }

    static std::string mib(double kib) { return kib < 0 ? "n/a" : fixed(kib / 1024.0, 1); }

    static std::vector<double> mib_values(const std::vector<double>& kib) {
        std::vector<double> values;
        for (double k : kib) {
            if (k >= 0) values.push_back(k / 1024.0);
        }
        return values;
    }

    template <typename Run>
    static std::vector<double> rss_of(const std::vector<Run>& runs, long Run::*field) {
        std::vector<double> kib;
        for (const Run& run : runs) kib.push_back(static_cast<double>(run.*field));
        return mib_values(kib);
    }

    void memory() {
        constexpr std::size_t kRss = 18;
        columns("peak RSS MiB", kShapeCount, kRss);
        for (Relay relay : kRelays) {
            row(std::string("relay: ") + relay_name(relay), kShapeCount, kRss,
                [&](std::size_t s) { return spread(mib_values(cell(relay, s).maxrss_kib), 1); });
        }
        row("relay: runtime's own VmHWM", kShapeCount, kRss,
            [&](std::size_t s) { return spread(mib_values(cell(Relay::Runtime, s).hwm_kib), 1); });
        row("fire-hose: runtime", kShapeCount, kRss,
            [&](std::size_t s) { return spread(rss_of(hose(kRuntimeSide, s), &FireHoseRun::maxrss_kib), 1); });
        row("fire-hose: runtime's VmHWM", kShapeCount, kRss,
            [&](std::size_t s) { return spread(rss_of(hose(kRuntimeSide, s), &FireHoseRun::hwm_kib), 1); });
        row("fire-hose: pass-through", kShapeCount, kRss,
            [&](std::size_t s) { return spread(rss_of(hose(kPassThroughSide, s), &FireHoseRun::maxrss_kib), 1); });
        row("paced: runtime", kPacedShapeCount, kRss,
            [&](std::size_t s) { return spread(rss_of(r_.paced[kRuntimeSide][s], &PacedRun::maxrss_kib), 1); });
        out_ << left("round trip: runtime", kLabel)
             << pad(spread(rss_of(r_.round_trips[kRuntimeSide], &RoundTrip::maxrss_kib), 1), kRss) << "\n";
        out_ << "(ru_maxrss from wait4; it also covers the runtime's reaped backend and starts from what the\n"
             << "spawning harness holds at the start, about " << mib(static_cast<double>(r_.harness_hwm_kib))
             << " MiB. VmHWM: the runtime's own peak, read just before it is told to stop.)\n\n";
    }

    double per_10s(const IdleCpu& idle, double ms) const { return idle.seconds > 0 ? ms * 10.0 / idle.seconds : ms; }

    std::vector<double> idle_values(double IdleCpu::*field) const {
        return collect<IdleCpu>(r_.idle, [&](const IdleCpu& idle) -> std::optional<double> {
            if (!idle.ok || idle.*field < 0) return std::nullopt;
            return per_10s(idle, idle.*field);
        });
    }

    void idle() {
        const auto seconds = collect<IdleCpu>(r_.idle, [](const IdleCpu& idle) -> std::optional<double> {
            if (!idle.ok) return std::nullopt;
            return idle.seconds;
        });
        if (seconds.empty()) {
            out_ << "idle CPU: FAILED\n\n";
            return;
        }
        out_ << "idle CPU of the runtime, ms per 10 s: " << spread(idle_values(&IdleCpu::sched_ms), 2)
             << " (schedstat, all threads), " << spread(idle_values(&IdleCpu::tick_ms), 0)
             << " (utime+stime, 10 ms ticks); " << seconds.size() << " runs of " << spread(seconds, 1) << " s\n\n";
    }

    void check_row(const std::string& name, const std::string& what, std::size_t count,
                   const std::function<std::pair<std::size_t, std::size_t>(std::size_t)>& passed_of) {
        out_ << "  " << left(name, kCheckLabel) << left(what, 38);
        for (std::size_t s = 0; s < count; ++s) {
            const auto [passed, total] = passed_of(s);
            out_ << " " << r_.shape_names[s] << " " << passed << "/" << total;
            if (passed != total || total == 0) all_checks_passed_ = false;
        }
        out_ << "\n";
    }

    template <typename Run>
    static std::pair<std::size_t, std::size_t> passed(const std::vector<Run>& runs) {
        return {static_cast<std::size_t>(std::count_if(runs.begin(), runs.end(), [](const Run& run) { return run.ok; })),
                runs.size()};
    }

    template <typename Run>
    void first_error(const std::string& name, const std::vector<Run>& runs) {
        for (const Run& run : runs) {
            if (!run.ok) {
                out_ << "  " << name << ": " << run.error << "\n";
                return;
            }
        }
    }

    void checks() {
        out_ << "output checks (runs that passed / runs):\n";
        for (Relay relay : kRelays) {
            const char* what = relay == Relay::Jq || relay == Relay::SimdJson ? "every line arrived"
                               : relay == Relay::PassThrough                  ? "equal to the input"
                                                                              : "equal to the expected canonical text";
            check_row(std::string("relay: ") + relay_name(relay), what, kShapeCount, [&](std::size_t s) {
                const Cell& c = cell(relay, s);
                return std::pair(c.mbps.size(), c.mbps.size() + c.errors.size());
            });
        }
        for (std::size_t side : {kRuntimeSide, kPassThroughSide}) {
            check_row(side == kRuntimeSide ? "fire-hose: runtime" : "fire-hose: pass-through",
                      "counted + refused = sent", kShapeCount, [&](std::size_t s) { return passed(hose(side, s)); });
        }
        for (std::size_t side : {kRuntimeSide, kPassThroughSide}) {
            check_row(side == kRuntimeSide ? "paced: runtime" : "paced: pass-through", "every answer, in order",
                      kPacedShapeCount, [&](std::size_t s) { return passed(r_.paced[side][s]); });
        }
        for (std::size_t side : {kRuntimeSide, kPassThroughSide}) {
            const auto [ok, total] = passed(r_.round_trips[side]);
            out_ << "  " << left(side == kRuntimeSide ? "round trip: runtime" : "round trip: pass-through", kCheckLabel)
                 << left("every answer", 38) << " " << ok << "/" << total << "\n";
            if (ok != total || total == 0) all_checks_passed_ = false;
        }
        const auto [idle_ok, idle_total] = passed(r_.idle);
        out_ << "  " << left("idle: runtime", kCheckLabel) << left("measured, exited cleanly", 38) << " " << idle_ok << "/" << idle_total
             << "\n";
        if (idle_ok != idle_total || idle_total == 0) all_checks_passed_ = false;

        for (Relay relay : kRelays) {
            for (std::size_t s = 0; s < kShapeCount; ++s) {
                const Cell& c = cell(relay, s);
                if (!c.errors.empty()) {
                    out_ << "  " << relay_name(relay) << " " << r_.shape_names[s] << ": " << c.errors.front() << "\n";
                }
                if (c.stderr_lines > 0) {
                    out_ << "  " << relay_name(relay) << " " << r_.shape_names[s] << " wrote " << c.stderr_lines
                         << " stderr lines, e.g. " << c.stderr_first << "\n";
                }
            }
        }
        for (std::size_t side : {kRuntimeSide, kPassThroughSide}) {
            const std::string who = side == kRuntimeSide ? "runtime" : "pass-through";
            for (std::size_t s = 0; s < kShapeCount; ++s) {
                first_error(who + " fire-hose " + r_.shape_names[s], hose(side, s));
                for (const FireHoseRun& run : hose(side, s)) {
                    if (run.stderr_lines > 0) {
                        out_ << "  " << who << " fire-hose " << r_.shape_names[s] << " wrote " << run.stderr_lines
                             << " stderr lines, e.g. " << run.stderr_first << "\n";
                        break;
                    }
                }
            }
            for (std::size_t s = 0; s < kPacedShapeCount; ++s) {
                first_error(who + " paced " + r_.shape_names[s], r_.paced[side][s]);
            }
            first_error(who + " round trip", r_.round_trips[side]);
        }
        first_error("idle", r_.idle);
        out_ << "\n";
    }

    void verdict(bool pass, const std::string& target, const std::string& measured) {
        out_ << (pass ? "PASS  " : "FAIL  ") << left(target, 62) << measured << "\n";
        passed_ += pass;
        ++targets_;
    }

    // Holds on every listed shape; a shape without a measurement fails.
    void relay_target(Relay peer, double at_least, const std::string& target) {
        bool pass = true;
        std::string measured;
        for (std::size_t s = 0; s < kShapeCount; ++s) {
            const auto r = ratio(med(Relay::Runtime, s), med(peer, s));
            pass = pass && r && *r >= at_least;
            append_item(measured, ", ", r_.shape_names[s] + " " + ratio_text(r));
        }
        verdict(pass, target, measured);
    }

    // A ratio per shape, each with its own bound.
    void per_shape_target(const std::function<std::optional<double>(std::size_t)>& ratio_of,
                          const std::array<double, kShapeCount>& at_least, const std::string& target) {
        bool pass = true;
        std::string measured;
        for (std::size_t s = 0; s < kShapeCount; ++s) {
            const auto r = ratio_of(s);
            pass = pass && r && *r >= at_least[s];
            append_item(measured, ", ", r_.shape_names[s] + " " + ratio_text(r));
        }
        verdict(pass, target, measured);
    }

    // The largest ru_maxrss of any run; -1 when a run has none.
    template <typename Run>
    static double worst(const std::vector<Run>& runs, long Run::*field) {
        double kib = runs.empty() ? -1 : 0;
        for (const Run& run : runs) {
            if (run.*field < 0) return -1;
            kib = std::max(kib, static_cast<double>(run.*field));
        }
        return kib;
    }

    void rss_target() {
        bool pass = true;
        const auto note = [&](double kib) {
            pass = pass && kib >= 0 && kib <= 8 * 1024;
            return kib < 0 ? std::string("n/a") : mib(kib);
        };
        std::string relay;
        std::string hose_text;
        std::string paced_text;
        for (std::size_t s = 0; s < kShapeCount; ++s) {
            const auto& kib = cell(Relay::Runtime, s).maxrss_kib;
            const double top = kib.empty() ? -1 : *std::max_element(kib.begin(), kib.end());
            append_item(relay, "/", note(top));
            append_item(hose_text, "/", note(worst(hose(kRuntimeSide, s), &FireHoseRun::maxrss_kib)));
        }
        for (std::size_t s = 0; s < kPacedShapeCount; ++s) {
            append_item(paced_text, "/", note(worst(r_.paced[kRuntimeSide][s], &PacedRun::maxrss_kib)));
        }
        const std::string round_trip = note(worst(r_.round_trips[kRuntimeSide], &RoundTrip::maxrss_kib));
        verdict(pass, "runtime peak RSS <= 8 MiB, every shape and direction",
                "relay " + relay + ", fire-hose " + hose_text + ", paced " + paced_text + ", round trip " + round_trip +
                    " MiB (max)");
    }

    void targets() {
        out_ << "targets\n";
        relay_target(Relay::RapidJson, 2.0, "relay: runtime >= 2x rapidjson relay, every shape");
        relay_target(Relay::SimdJson, 1.5, "relay: runtime >= 1.5x simdjson relay, every shape");
        relay_target(Relay::Jq, 4.0, "relay: runtime >= 4x jq, every shape");
        per_shape_target([&](std::size_t s) { return ratio(med(Relay::Runtime, s), med(Relay::PassThrough, s)); },
                         {0.5, 0.6, 0.6}, "relay: runtime >= 0.5x pass-through small, 0.6x others");
        per_shape_target([&](std::size_t s) { return median(hose_ratios(s)); }, {0.05, 0.25, 0.25},
                         "fire-hose: runtime >= 0.05x pass-through small, 0.25x others");

        const auto rt_median = median(round_trip_ratios(&RoundTrip::median_us));
        const auto rt_p99 = median(round_trip_ratios(&RoundTrip::p99_us));
        verdict(rt_median && *rt_median <= 1.25, "round-trip median <= 1.25x pass-through's", ratio_text(rt_median));
        verdict(rt_p99 && *rt_p99 <= 1.5, "round-trip p99 <= 1.5x pass-through's", ratio_text(rt_p99));
        rss_target();

        const auto idle_ms = median(idle_values(&IdleCpu::sched_ms));
        verdict(idle_ms && *idle_ms < 2.0, "runtime idle CPU < 2 ms per 10 s",
                idle_ms ? fixed(*idle_ms, 2) + " ms" : "n/a");
        verdict(all_checks_passed_, "every output check passed", all_checks_passed_ ? "yes" : "no");
        out_ << passed_ << " of " << targets_ << " targets pass\n";
    }

    const Results& r_;
    std::ostream& out_;
    bool all_checks_passed_ = true;
    int passed_ = 0;
    int targets_ = 0;
};

}  // namespace

bool print_report(const Results& results, std::ostream& out) { return Report(results, out).print(); }

}  // namespace e2e
