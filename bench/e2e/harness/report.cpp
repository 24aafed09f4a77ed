#include "report.hpp"

#include <algorithm>
#include <cstdio>
#include <optional>

namespace e2e {

namespace {

std::optional<double> median(std::vector<double> values) {
    if (values.empty()) return std::nullopt;
    std::sort(values.begin(), values.end());
    const std::size_t mid = values.size() / 2;
    return values.size() % 2 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
}

std::optional<double> minimum(const std::vector<double>& values) {
    if (values.empty()) return std::nullopt;
    return *std::min_element(values.begin(), values.end());
}

std::string format(const char* pattern, double value) {
    char text[64];
    std::snprintf(text, sizeof text, pattern, value);
    return text;
}

std::string pad(const std::string& text, std::size_t width) {
    // Column widths count characters; the only multi-byte one used is 'µ'.
    std::size_t shown = 0;
    for (unsigned char c : text) shown += (c & 0xC0) != 0x80;
    return shown >= width ? text : std::string(width - shown, ' ') + text;
}

std::string left(const std::string& text, std::size_t width) {
    return text.size() >= width ? text : text + std::string(width - text.size(), ' ');
}

std::optional<double> ratio(std::optional<double> a, std::optional<double> b) {
    if (!a || !b || *b <= 0) return std::nullopt;
    return *a / *b;
}

std::string ratio_text(std::optional<double> r) { return r ? format("%.2fx", *r) : "n/a"; }

class Report {
public:
    Report(const Results& results, std::ostream& out) : r_(results), out_(out) {}

    bool print() {
        header();
        throughput();
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

    void header() {
        out_ << "quern-runtime end-to-end benchmark, " << r_.runs << " runs per cell\n";
        out_ << "input:";
        for (std::size_t s = 0; s < kShapeCount; ++s) {
            out_ << (s ? ", " : " ") << r_.shape_names[s] << " "
                 << format("%.2f MB", static_cast<double>(r_.input_bytes[s]) / 1e6) << " in " << r_.lines[s]
                 << " lines (" << format("%.0f B/line", static_cast<double>(r_.input_bytes[s]) /
                                                            static_cast<double>(r_.lines[s]))
                 << ")";
        }
        out_ << "\nload average before: " << r_.load_before << "; after: " << r_.load_after << "\n\n";
    }

    void shape_columns(const std::string& title, std::size_t width) {
        out_ << left(title, 24);
        for (const auto& name : r_.shape_names) out_ << pad(name, width);
        out_ << "\n";
    }

    void throughput() {
        shape_columns("MB/s, median / min", 18);
        for (Relay relay : kRelays) {
            out_ << left(relay_name(relay), 24);
            for (std::size_t s = 0; s < kShapeCount; ++s) {
                const Cell& c = cell(relay, s);
                const auto m = median(c.mbps);
                const auto lo = minimum(c.mbps);
                out_ << pad(m ? format("%.1f", *m) + " / " + pad(format("%.1f", *lo), 6) : "FAILED", 18);
            }
            out_ << "\n";
        }
        for (Relay peer : {Relay::RapidJson, Relay::Jq, Relay::PassThrough}) {
            out_ << left(std::string("runtime/") + relay_name(peer), 24);
            for (std::size_t s = 0; s < kShapeCount; ++s) out_ << pad(ratio_text(ratio(med(Relay::Runtime, s), med(peer, s))), 18);
            out_ << "\n";
        }
        out_ << "\n";
    }

    void round_trip_row(const char* name, const RoundTrip& rt) {
        out_ << left(name, 24);
        if (!rt.ok) {
            out_ << pad("FAILED", 12) << "\n";
            return;
        }
        out_ << pad(format("%.1f", rt.median_us), 12) << pad(format("%.1f", rt.p99_us), 12)
             << pad(format("%.1f", rt.max_us), 12) << "\n";
    }

    void round_trip() {
        const RoundTrip& a = r_.runtime_round_trip;
        const RoundTrip& b = r_.passthrough_round_trip;
        out_ << left("round trip µs (" + std::to_string(std::max(a.count, b.count)) + ")", 24) << pad("median", 12)
             << pad("p99", 12) << pad("max", 12) << "\n";
        round_trip_row("runtime", a);
        round_trip_row("pass-through", b);
        if (a.ok && b.ok) {
            out_ << left("runtime/pass-through", 24) << pad(ratio_text(a.median_us / b.median_us), 12)
                 << pad(ratio_text(a.p99_us / b.p99_us), 12) << pad(ratio_text(a.max_us / b.max_us), 12) << "\n";
        }
        out_ << "\n";
    }

    static std::string mib(long kib) { return kib < 0 ? "n/a" : format("%.1f", static_cast<double>(kib) / 1024.0); }

    void memory() {
        shape_columns("peak RSS MiB (max)", 10);
        for (Relay relay : kRelays) {
            out_ << left(relay_name(relay), 24);
            for (std::size_t s = 0; s < kShapeCount; ++s) out_ << pad(mib(cell(relay, s).maxrss_kib), 10);
            out_ << "\n";
        }
        out_ << left("runtime's own VmHWM", 24);
        for (std::size_t s = 0; s < kShapeCount; ++s) out_ << pad(mib(cell(Relay::Runtime, s).hwm_kib), 10);
        out_ << "\n(ru_maxrss from wait4; it also covers the runtime's reaped backend and starts from the\n"
             << "spawning harness's own peak, " << mib(r_.harness_hwm_kib)
             << " MiB. VmHWM: the runtime's own peak, read just before it is told to stop.)\n\n";
    }

    void idle() {
        const IdleCpu& idle = r_.idle;
        if (!idle.ok) {
            out_ << "idle CPU: FAILED (" << idle.error << ")\n\n";
            return;
        }
        out_ << "idle CPU of the runtime: " << format("%.2f", per_10s(idle.sched_ms)) << " ms per 10 s (schedstat, all threads), "
             << format("%.0f", per_10s(idle.tick_ms)) << " ms per 10 s (utime+stime, 10 ms ticks), measured over "
             << format("%.1f", idle.seconds) << " s\n\n";
    }

    double per_10s(double ms) const { return r_.idle.seconds > 0 ? ms * 10.0 / r_.idle.seconds : ms; }

    void checks() {
        out_ << "output checks (runs that passed / runs):\n";
        for (Relay relay : kRelays) {
            const char* what = relay == Relay::Jq ? "every line arrived"
                               : relay == Relay::PassThrough ? "equal to the input"
                                                             : "equal to the expected canonical text";
            out_ << "  " << left(relay_name(relay), 18) << left(what, 38);
            for (std::size_t s = 0; s < kShapeCount; ++s) {
                const Cell& c = cell(relay, s);
                const std::size_t total = c.mbps.size() + c.errors.size();
                out_ << " " << r_.shape_names[s] << " " << c.mbps.size() << "/" << total;
                if (!c.errors.empty() || c.mbps.empty()) all_checks_passed_ = false;
            }
            out_ << "\n";
        }
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
        for (const RoundTrip* rt : {&r_.runtime_round_trip, &r_.passthrough_round_trip}) {
            if (!rt->ok) {
                all_checks_passed_ = false;
                out_ << "  round trip: " << rt->error << "\n";
            }
        }
        if (!r_.idle.ok) all_checks_passed_ = false;
        out_ << "\n";
    }

    void verdict(bool pass, const std::string& target, const std::string& measured) {
        out_ << (pass ? "PASS  " : "FAIL  ") << left(target, 52) << measured << "\n";
        passed_ += pass;
        ++targets_;
    }

    // Holds on every listed shape; a shape without a measurement fails.
    void ratio_target(Relay peer, double at_least, std::initializer_list<std::size_t> shapes, const std::string& target) {
        bool pass = true;
        std::string measured;
        for (std::size_t s : shapes) {
            const auto r = ratio(med(Relay::Runtime, s), med(peer, s));
            pass = pass && r && *r >= at_least;
            measured += (measured.empty() ? "" : ", ") + r_.shape_names[s] + " " + ratio_text(r);
        }
        verdict(pass, target, measured);
    }

    void targets() {
        out_ << "targets\n";
        ratio_target(Relay::RapidJson, 1.5, {0, 1, 2}, "runtime >= 1.5x rapidjson relay, every shape");
        ratio_target(Relay::Jq, 4.0, {0, 1, 2}, "runtime >= 4x jq, every shape");
        ratio_target(Relay::PassThrough, 0.35, {1, 2}, "runtime >= 0.35x pass-through, medium and large");

        const RoundTrip& a = r_.runtime_round_trip;
        const RoundTrip& b = r_.passthrough_round_trip;
        const bool both = a.ok && b.ok;
        verdict(both && a.median_us <= 1.5 * b.median_us, "round-trip median <= 1.5x pass-through's",
                both ? ratio_text(a.median_us / b.median_us) : "n/a");
        verdict(both && a.p99_us <= 2.0 * b.p99_us, "round-trip p99 <= 2x pass-through's",
                both ? ratio_text(a.p99_us / b.p99_us) : "n/a");

        bool rss_pass = true;
        std::string rss;
        for (std::size_t s = 0; s < kShapeCount; ++s) {
            const long kib = cell(Relay::Runtime, s).maxrss_kib;
            rss_pass = rss_pass && kib >= 0 && kib <= 8 * 1024;
            rss += (s ? ", " : "") + r_.shape_names[s] + " " + mib(kib) + " MiB";
        }
        verdict(rss_pass, "runtime peak RSS <= 8 MiB, every shape", rss);

        const IdleCpu& idle = r_.idle;
        verdict(idle.ok && idle.sched_ms >= 0 && per_10s(idle.sched_ms) < 5.0, "runtime idle CPU < 5 ms per 10 s",
                idle.ok ? format("%.2f ms", per_10s(idle.sched_ms)) : "n/a");
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
