#include "options.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>

#include "report.h"

namespace vmcapture {

namespace {

const OptionSpec kHelpOption = {"help", 'h', nullptr, "show this help and exit"};

const OptionSpec* FindLong(const std::vector<OptionSpec>& specs, const std::string& name) {
    for (const OptionSpec& spec : specs)
        if (name == spec.name) return &spec;
    return nullptr;
}

const OptionSpec* FindShort(const std::vector<OptionSpec>& specs, char name) {
    for (const OptionSpec& spec : specs)
        if (spec.shortName != 0 && spec.shortName == name) return &spec;
    return nullptr;
}

bool IsDigits(const std::string& text) {
    if (text.empty()) return false;
    for (char c : text)
        if (c < '0' || c > '9') return false;
    return true;
}

}  // namespace

std::string ParsedArgs::Value(const std::string& name) const {
    auto found = values_.find(name);
    return found == values_.end() ? std::string() : found->second.back();
}

std::vector<std::string> ParsedArgs::Values(const std::string& name) const {
    auto found = values_.find(name);
    return found == values_.end() ? std::vector<std::string>() : found->second;
}

bool ParseArgs(const std::vector<std::string>& args, const std::vector<OptionSpec>& specs,
               ParsedArgs& parsed, std::string& error) {
    bool optionsEnded = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& word = args[i];
        if (optionsEnded || word.size() < 2 || word[0] != '-') {
            parsed.AddPositional(word);
            continue;
        }
        if (word == "--") {
            optionsEnded = true;
            continue;
        }
        const OptionSpec* spec = nullptr;
        std::string value;
        bool hasInlineValue = false;
        if (word[1] == '-') {
            const size_t equals = word.find('=');
            spec =
                FindLong(specs, word.substr(2, equals == std::string::npos ? equals : equals - 2));
            if (equals != std::string::npos) {
                value = word.substr(equals + 1);
                hasInlineValue = true;
            }
        } else {
            spec = FindShort(specs, word[1]);
            if (word.size() > 2) {
                value = word.substr(2);
                hasInlineValue = true;
            }
        }
        if (spec == nullptr) {
            error = "unknown option " + word;
            return false;
        }
        const std::string shown = std::string("--") + spec->name;
        if (spec->valueName == nullptr) {
            if (hasInlineValue) {
                error = shown + " takes no value";
                return false;
            }
        } else if (!hasInlineValue) {
            if (i + 1 >= args.size()) {
                error = shown + " needs a value (" + spec->valueName + ")";
                return false;
            }
            value = args[++i];
        }
        parsed.Add(spec->name, value);
    }
    return true;
}

int ParseCommandLine(const std::vector<std::string>& args, const CommandSpec& spec,
                     ParsedArgs& parsed) {
    std::vector<OptionSpec> specs = spec.options;
    specs.push_back(kHelpOption);
    std::string error;
    if (!ParseArgs(args, specs, parsed, error)) {
        ReportError(error + " (see --help)");
        return kExitUsage;
    }
    if (parsed.Has("help")) {
        PrintHelp(stdout, spec);
        return kExitOk;
    }
    return -1;
}

void PrintHelp(std::FILE* out, const CommandSpec& spec) {
    std::fprintf(out, "Usage: %s\n\n%s\n", spec.usage, spec.about);
    std::vector<OptionSpec> specs = spec.options;
    specs.push_back(kHelpOption);
    std::fprintf(out, "\nOptions:\n");
    const size_t column = 30, width = 79;
    for (const OptionSpec& option : specs) {
        std::string left = option.shortName ? std::string("-") + option.shortName + ", " : "    ";
        left += std::string("--") + option.name;
        if (option.valueName) left += std::string(" ") + option.valueName;
        std::string line = "  " + left;
        if (line.size() + 1 > column) {
            std::fprintf(out, "%s\n", line.c_str());
            line.clear();
        }
        // The help text, word-wrapped in its column.
        std::string word;
        const std::string help = std::string(option.help) + " ";
        for (char c : help) {
            if (c != ' ') {
                word += c;
                continue;
            }
            if (line.size() > column && line.size() + 1 + word.size() > width) {
                std::fprintf(out, "%s\n", line.c_str());
                line.clear();
            }
            line.resize(std::max(line.size(), column), ' ');
            if (line.size() > column) line += ' ';
            line += word;
            word.clear();
        }
        std::fprintf(out, "%s\n", line.c_str());
    }
    if (spec.notes) std::fprintf(out, "\n%s\n", spec.notes);
}

bool ParseUnsigned(const std::string& text, uint64_t min, uint64_t max, uint64_t& value) {
    if (!IsDigits(text) || text.size() > 19) return false;
    const uint64_t parsed = std::strtoull(text.c_str(), nullptr, 10);
    if (parsed < min || parsed > max) return false;
    value = parsed;
    return true;
}

bool ParseSeconds(const std::string& text, double& seconds) {
    if (text.empty() || text[0] == '-' || text[0] == '+' || text[0] == ' ') return false;
    char* end = nullptr;
    errno = 0;
    const double parsed = std::strtod(text.c_str(), &end);
    if (errno != 0 || end == nullptr || *end != '\0' || !std::isfinite(parsed)) return false;
    if (parsed <= 0.0 || parsed > 366.0 * 24 * 3600) return false;
    seconds = parsed;
    return true;
}

bool ParseSize(const std::string& text, uint32_t maxSide, uint32_t& width, uint32_t& height) {
    const size_t x = text.find_first_of("xX");
    if (x == std::string::npos) return false;
    uint64_t w = 0, h = 0;
    if (!ParseUnsigned(text.substr(0, x), 1, maxSide, w) ||
        !ParseUnsigned(text.substr(x + 1), 1, maxSide, h))
        return false;
    width = static_cast<uint32_t>(w);
    height = static_cast<uint32_t>(h);
    return true;
}

bool ParseHexColor(const std::string& text, uint32_t& rgb) {
    const std::string digits = !text.empty() && text[0] == '#' ? text.substr(1) : text;
    if (digits.size() != 6) return false;
    uint32_t value = 0;
    for (char c : digits) {
        int nibble;
        if (c >= '0' && c <= '9')
            nibble = c - '0';
        else if (c >= 'a' && c <= 'f')
            nibble = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            nibble = c - 'A' + 10;
        else
            return false;
        value = value << 4 | static_cast<uint32_t>(nibble);
    }
    rgb = value;
    return true;
}

}  // namespace vmcapture
