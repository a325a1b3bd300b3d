// SPDX-License-Identifier: MIT
// Command-line parsing shared by the subcommands: a table of options per command, a parser
// that checks the command line against it, the help text made from it, and the parsers of
// option values (sizes, counts, durations).
#pragma once

#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace vmcapture {

struct OptionDef {
    const char* name;       // long name without the dashes, e.g. "output"
    char shortName;         // 0: none
    const char* valueName;  // null: a flag without a value
    const char* help;
};

struct CommandDef {
    const char* usage;  // e.g. "vmcapture list [options]"
    const char* about;  // what the command does; may span lines
    std::vector<OptionDef> options;
    const char* notes = nullptr;  // examples and details printed after the options
};

class ParsedArgs {
public:
    bool Has(const std::string& name) const { return values_.count(name) != 0; }
    // The last value given for the option; empty for a flag or an option not given.
    std::string Value(const std::string& name) const;
    // Every value given for the option, in command-line order.
    std::vector<std::string> Values(const std::string& name) const;
    const std::vector<std::string>& Positionals() const { return positionals_; }

    void Add(const std::string& name, const std::string& value) { values_[name].push_back(value); }
    void AddPositional(const std::string& value) { positionals_.push_back(value); }

private:
    std::map<std::string, std::vector<std::string>> values_;
    std::vector<std::string> positionals_;
};

// Parses `args` (the words after the command's name). Accepted forms: --name value,
// --name=value, -x value, -xvalue, flags alone; "--" ends the options; a lone "-" is a
// positional. False, with a message in `error`, for an unknown option or a missing value.
bool ParseArgs(const std::vector<std::string>& args, const std::vector<OptionDef>& defs,
               ParsedArgs& parsed, std::string& error);

// Parses a command line against `def`, which gains -h/--help. Returns -1 when the command
// should run; otherwise the exit status to end with (help printed: 0; a usage error reported
// on standard error: 2).
int ParseCommandLine(const std::vector<std::string>& args, const CommandDef& def,
                     ParsedArgs& parsed);

void PrintHelp(std::FILE* out, const CommandDef& def);

// Value parsers: false for text that is not entirely a value in range.
bool ParseUnsigned(const std::string& text, uint64_t min, uint64_t max, uint64_t& value);
bool ParseSeconds(const std::string& text, double& seconds);  // > 0, at most a year
bool ParseSize(const std::string& text, uint32_t maxSide, uint32_t& width, uint32_t& height);
bool ParseHexColor(const std::string& text, uint32_t& rgb);  // RRGGBB, optional leading '#'

}  // namespace vmcapture
