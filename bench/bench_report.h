#pragma once

// What every benchmark of the real programs reports the same way: each figure
// as the min / median / max of its runs (3 by default, --runs N), the
// 1-minute load average read before every run beside the figures and flagged
// above 1.0 (with --strict the benchmark refuses to start, or stops, then),
// the load before and after, and the exact command that repeats it, all as
// Markdown on standard output.
//
// A benchmark's own work raises the load it reads: before each run the
// harness waits (at most --settle S seconds, 120 by default) for the load to
// fall back to 1.0, so that the previous run's load is not taken for another
// user's.

#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace bench {

inline constexpr double QUIET_LOAD = 1.0;

struct Spread {
    double min = 0;
    double median = 0;
    double max = 0;
};

// Of one value or more; nothing for none. The median of an even count is the
// mean of the middle two.
std::optional<Spread> spreadOf(std::vector<double> values);
// "1.0 / 2.0 / 3.0" with the decimals given; "-" for no values.
std::string formatSpread(const std::vector<double>& values, int decimals);
// Each value of `figures` divided by the one of `floors` at the same index
// (the same run), where both are above 0.
std::vector<double> ratios(const std::vector<double>& figures, const std::vector<double>& floors);

// The 1-minute load from the text of /proc/loadavg; -1 when it is not there.
double parseLoad(const std::string& loadavg);
// True when the load is known and above QUIET_LOAD.
bool busy(double load);

struct Options {
    int runs = 3;
    bool strict = false;
    int settleSeconds = 120;
};

// Takes --runs N, --strict and --settle S out of argv (closing the gap, so
// that the benchmark parses what is left). False with the reason when a value
// is missing or not a number (runs at least 1, settle at least 0).
bool takeOptions(int& argc, char** argv, Options& options, std::string& error);
// The harness's options as they go on a command line, each with a space
// before it; the defaults are left out but --runs.
std::string optionsText(const Options& options);
// The text of a command line: words with a character a shell would read
// other than plainly are single-quoted.
std::string commandText(const std::vector<std::string>& words);
// Prints the reason (when there is one) and "usage: SYNOPSIS" with the
// harness's options after it on standard error; returns 2, the exit status.
int usage(const std::string& error, const std::string& synopsis);

class Report {
  public:
    Report(std::string program, Options options);

    int runs() const { return options_.runs; }
    // Prints the load average before, then for each run and within it each
    // of `items` (sizes of a benchmark, say) waits for the load to settle and
    // calls measure(run, item, load) with it, for the run's row. Returns the
    // exit status: 0; 1 when a measurement failed (returned false); 3 when
    // --strict refused to start, or stopped before a run, the machine busy.
    int measure(std::size_t items,
                const std::function<bool(int run, std::size_t item, double load)>& measure);
    // A table cell of the loads the runs started at: "0.12 / 0.20 / 0.31",
    // and "**above 1.0**" after it when one of them was.
    std::string loadCell(const std::vector<double>& loads) const;
    // Prints the load after, the rule, and the command that repeats the
    // benchmark (its own arguments, then the harness's options).
    void finish(const std::vector<std::string>& arguments) const;

  private:
    // Prints the load average; false (after a message on standard error)
    // under --strict when the machine is busy even after the settling wait.
    bool start();
    // Before each run: waits for the load to settle and returns it. Nothing
    // under --strict when the machine stays busy.
    std::optional<double> beforeRun();
    double settle();

    std::string program_;
    Options options_;
};

// A Markdown table: headings, then rows of as many cells.
class Table {
  public:
    explicit Table(std::vector<std::string> headings) : headings_(std::move(headings)) {}
    void add(std::vector<std::string> cells) { rows_.push_back(std::move(cells)); }
    void print(std::FILE* out = stdout) const;

  private:
    std::vector<std::string> headings_;
    std::vector<std::vector<std::string>> rows_;
};

// The three fields of /proc/loadavg ("unknown" when it cannot be read).
std::string loadAverageText();
double oneMinuteLoad();

}  // namespace bench
