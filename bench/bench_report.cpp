#include "bench_report.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <thread>

namespace bench {

namespace {

std::string readLoadavg() {
    std::ifstream in("/proc/loadavg");
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A whole decimal number of at least `least`; nothing otherwise.
std::optional<int> wholeNumber(const char* text, int least) {
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || value < least || value > 1000000) {
        return std::nullopt;
    }
    return static_cast<int>(value);
}

std::string formatLoad(double load) {
    if (load < 0) {
        return "unknown";
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", load);
    return text;
}

}  // namespace

std::optional<Spread> spreadOf(std::vector<double> values) {
    if (values.empty()) {
        return std::nullopt;
    }
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    const double median =
        values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
    return Spread{values.front(), median, values.back()};
}

std::string formatSpread(const std::vector<double>& values, int decimals) {
    const std::optional<Spread> spread = spreadOf(values);
    if (!spread) {
        return "-";
    }
    char text[128];
    std::snprintf(text, sizeof text, "%.*f / %.*f / %.*f", decimals, spread->min, decimals,
                  spread->median, decimals, spread->max);
    return text;
}

std::vector<double> ratios(const std::vector<double>& figures, const std::vector<double>& floors) {
    std::vector<double> out;
    for (std::size_t i = 0; i < figures.size() && i < floors.size(); ++i) {
        if (figures[i] > 0 && floors[i] > 0) {
            out.push_back(figures[i] / floors[i]);
        }
    }
    return out;
}

double parseLoad(const std::string& loadavg) {
    std::istringstream in(loadavg);
    double load = -1;
    if (!(in >> load) || load < 0) {
        return -1;
    }
    return load;
}

bool busy(double load) {
    return load > QUIET_LOAD;
}

bool takeOptions(int& argc, char** argv, Options& options, std::string& error) {
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        const bool runs = std::strcmp(argv[i], "--runs") == 0;
        const bool settle = std::strcmp(argv[i], "--settle") == 0;
        if (std::strcmp(argv[i], "--strict") == 0) {
            options.strict = true;
        } else if (runs || settle) {
            const std::optional<int> value =
                i + 1 < argc ? wholeNumber(argv[i + 1], runs ? 1 : 0) : std::nullopt;
            if (!value) {
                error = std::string(argv[i]) + (runs ? " wants a number of runs of 1 or more"
                                                     : " wants a number of seconds of 0 or more");
                return false;
            }
            (runs ? options.runs : options.settleSeconds) = *value;
            ++i;
        } else {
            argv[kept++] = argv[i];
        }
    }
    argc = kept;
    argv[argc] = nullptr;
    return true;
}

std::string optionsText(const Options& options) {
    const Options defaults;
    std::string text = " --runs " + std::to_string(options.runs);
    if (options.settleSeconds != defaults.settleSeconds) {
        text += " --settle " + std::to_string(options.settleSeconds);
    }
    if (options.strict) {
        text += " --strict";
    }
    return text;
}

std::string commandText(const std::vector<std::string>& words) {
    std::string text;
    for (const std::string& word : words) {
        const bool plain = !word.empty() && word.find_first_not_of(
                                                "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRS"
                                                "TUVWXYZ0123456789_-+=.,/:@%") == std::string::npos;
        text += text.empty() ? "" : " ";
        if (plain) {
            text += word;
            continue;
        }
        text += '\'';
        for (char c : word) {
            text += c == '\'' ? std::string("'\\''") : std::string(1, c);
        }
        text += '\'';
    }
    return text;
}

int usage(const std::string& error, const std::string& synopsis) {
    std::fprintf(stderr, "%s%susage: %s [--runs N] [--strict] [--settle S]\n", error.c_str(),
                 error.empty() ? "" : "\n", synopsis.c_str());
    return 2;
}

Report::Report(std::string program, Options options)
    : program_(std::move(program)), options_(options) {}

bool Report::start() {
    std::printf("load average before: %s\n", loadAverageText().c_str());
    std::fflush(stdout);
    if (options_.strict && busy(settle())) {
        std::fprintf(stderr, "the 1-minute load is %s, above %.1f: not starting (--strict)\n",
                     formatLoad(oneMinuteLoad()).c_str(), QUIET_LOAD);
        return false;
    }
    return true;
}

std::optional<double> Report::beforeRun() {
    const double load = settle();
    if (busy(load) && options_.strict) {
        std::fprintf(stderr, "the 1-minute load is %s, above %.1f: stopping (--strict)\n",
                     formatLoad(load).c_str(), QUIET_LOAD);
        return std::nullopt;
    }
    return load;
}

int Report::measure(std::size_t items,
                    const std::function<bool(int run, std::size_t item, double load)>& measure) {
    if (!start()) {
        return 3;
    }
    for (int run = 0; run < options_.runs; ++run) {
        for (std::size_t item = 0; item < items; ++item) {
            const std::optional<double> load = beforeRun();
            if (!load) {
                return 3;
            }
            if (!measure(run, item, *load)) {
                return 1;
            }
        }
    }
    return 0;
}

double Report::settle() {
    double load = oneMinuteLoad();
    const auto until =
        std::chrono::steady_clock::now() + std::chrono::seconds(options_.settleSeconds);
    if (busy(load) && options_.settleSeconds > 0) {
        std::fprintf(stderr, "waiting up to %d s for the 1-minute load (%s) to fall to %.1f\n",
                     options_.settleSeconds, formatLoad(load).c_str(), QUIET_LOAD);
    }
    while (busy(load) && std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(std::chrono::seconds(1));
        load = oneMinuteLoad();
    }
    return load;
}

std::string Report::loadCell(const std::vector<double>& loads) const {
    const bool above = std::any_of(loads.begin(), loads.end(), busy);
    return formatSpread(loads, 2) + (above ? " **above 1.0**" : "");
}

void Report::finish(const std::vector<std::string>& arguments) const {
    std::vector<std::string> words = {program_};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::printf(
        "\nmin / median / max of %d runs; load: the 1-minute load average at each run's start "
        "(figures from a run above %.1f are not to be trusted)\n",
        options_.runs, QUIET_LOAD);
    std::printf("load average after: %s (the benchmark's own work is in it)\n",
                loadAverageText().c_str());
    std::printf("repeat: `%s%s`\n", commandText(words).c_str(), optionsText(options_).c_str());
    std::fflush(stdout);
}

void Table::print(std::FILE* out) const {
    auto line = [out](const std::vector<std::string>& cells) {
        std::fprintf(out, "|");
        for (const std::string& cell : cells) {
            std::fprintf(out, " %s |", cell.c_str());
        }
        std::fprintf(out, "\n");
    };
    std::fprintf(out, "\n");
    line(headings_);
    std::fprintf(out, "|");
    for (std::size_t i = 0; i < headings_.size(); ++i) {
        std::fprintf(out, "---|");
    }
    std::fprintf(out, "\n");
    for (const std::vector<std::string>& row : rows_) {
        line(row);
    }
    std::fflush(out);
}

std::string loadAverageText() {
    std::istringstream in(readLoadavg());
    std::string one, five, fifteen;
    if (!(in >> one >> five >> fifteen)) {
        return "unknown";
    }
    return one + " " + five + " " + fifteen;
}

double oneMinuteLoad() {
    return parseLoad(readLoadavg());
}

}  // namespace bench
