#include "cli/command_line.h"

#include <getopt.h>

namespace {

// getopt_long reports options by these values: -h and --help by 'h', the
// others past the range of characters, so that an unknown short option (whose
// character getopt_long reports) is not mistaken for one of them.
constexpr int HELP = 'h';
constexpr int VERSION = 256;
constexpr int FIRST_ENTRY = 257;

std::vector<option> longOptions(const std::vector<OptionEntry>& entries) {
    std::vector<option> options;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        options.push_back({entries[i].name, entries[i].takesValue ? required_argument : no_argument,
                           nullptr, FIRST_ENTRY + static_cast<int>(i)});
    }
    options.push_back({"help", no_argument, nullptr, HELP});
    options.push_back({"version", no_argument, nullptr, VERSION});
    options.push_back({nullptr, 0, nullptr, 0});
    return options;
}

std::string nameOf(int value, const std::vector<OptionEntry>& entries) {
    if (value >= FIRST_ENTRY && value < FIRST_ENTRY + static_cast<int>(entries.size())) {
        return std::string("--") + entries[static_cast<std::size_t>(value - FIRST_ENTRY)].name;
    }
    return value == VERSION ? "--version" : "--help";
}

bool takesValue(int value, const std::vector<OptionEntry>& entries) {
    return value >= FIRST_ENTRY && value < FIRST_ENTRY + static_cast<int>(entries.size()) &&
           entries[static_cast<std::size_t>(value - FIRST_ENTRY)].takesValue;
}

}  // namespace

std::optional<CommandLineRequest> parseCommandLine(const std::vector<std::string>& args,
                                                   const std::vector<OptionEntry>& entries,
                                                   std::string& error) {
    // getopt_long may reorder its argv: give it copies.
    std::vector<std::string> storage;
    storage.reserve(args.size() + 1);
    storage.push_back("program");
    storage.insert(storage.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& arg : storage) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    const int argc = static_cast<int>(storage.size());
    const std::vector<option> options = longOptions(entries);

    bool help = false, version = false;
    std::string fault;
    optind = 0;  // a full restart of getopt's scan, for each call
    opterr = 0;  // the messages are ours
    int found;
    while ((found = getopt_long(argc, argv.data(), ":h", options.data(), nullptr)) != -1) {
        const std::string last = argv[optind - 1] != nullptr ? argv[optind - 1] : "";
        if (found == HELP) {
            help = true;
        } else if (found == VERSION) {
            version = true;
        } else if (!fault.empty()) {
            continue;  // only the first fault is told, but --help may still follow
        } else if (found == ':' && takesValue(optopt, entries)) {
            fault = "option " + nameOf(optopt, entries) + " needs a value";
        } else if ((found == ':' || found == '?') && (optopt == HELP || optopt >= VERSION)) {
            // A value given to an option that takes none: the GNU library
            // reports it with '?', others (MinGW's) with ':'.
            fault = "option " + nameOf(optopt, entries) + " takes no value";
        } else if (found == '?' && optopt != 0) {
            fault = std::string("unknown option -") + static_cast<char>(optopt);
        } else if (found == '?') {
            fault = "unknown option " + last.substr(0, last.find('='));
        } else {
            const OptionEntry& entry = entries[static_cast<std::size_t>(found - FIRST_ENTRY)];
            const std::string value = optarg != nullptr ? optarg : "";
            if (!entry.apply(value)) {
                fault = "bad value for --" + std::string(entry.name) + ": \"" + value +
                        "\" (expected " + entry.expected + ")";
            }
        }
    }
    if (help || version) {
        return help ? CommandLineRequest::Help : CommandLineRequest::Version;
    }
    if (fault.empty() && optind < argc) {
        fault = "unexpected argument " + std::string(argv[optind]);
    }
    if (!fault.empty()) {
        error = fault;
        return std::nullopt;
    }
    return CommandLineRequest::Run;
}
