// SPDX-License-Identifier: MIT
#include "options.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>

#include "report.h"

namespace vmcapture {

namespace {

const OptionDef kHelpOption = {"help", 'h', nullptr, "show this help and exit"};

const OptionDef* FindLong(const std::vector<OptionDef>& defs, const std::string& name) {
    for (const OptionDef& def : defs)
        if (name == def.name) return &def;
    return nullptr;
}

const OptionDef* FindShort(const std::vector<OptionDef>& defs, char name) {
    for (const OptionDef& def : defs)
        if (def.shortName != 0 && def.shortName == name) return &def;
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

bool ParseArgs(const std::vector<std::string>& args, const std::vector<OptionDef>& defs,
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
        const OptionDef* def = nullptr;
        std::string value;
        bool hasInlineValue = false;
        if (word[1] == '-') {
            const size_t equals = word.find('=');
            def = FindLong(defs, word.substr(2, equals == std::string::npos ? equals : equals - 2));
            if (equals != std::string::npos) {
                value = word.substr(equals + 1);
                hasInlineValue = true;
            }
        } else {
            def = FindShort(defs, word[1]);
            if (word.size() > 2) {
                value = word.substr(2);
                hasInlineValue = true;
            }
        }
        if (def == nullptr) {
            error = "unknown option " + word;
            return false;
        }
        const std::string shown = std::string("--") + def->name;
        if (def->valueName == nullptr) {
            if (hasInlineValue) {
                error = shown + " takes no value";
                return false;
            }
        } else if (!hasInlineValue) {
            if (i + 1 >= args.size()) {
                error = shown + " needs a value (" + def->valueName + ")";
                return false;
            }
            value = args[++i];
        }
        parsed.Add(def->name, value);
    }
    return true;
}

int ParseCommandLine(const std::vector<std::string>& args, const CommandDef& def,
                     ParsedArgs& parsed) {
    std::vector<OptionDef> defs = def.options;
    defs.push_back(kHelpOption);
    std::string error;
    if (!ParseArgs(args, defs, parsed, error)) {
        ReportError(error + " (see --help)");
        return kExitUsage;
    }
    if (parsed.Has("help")) {
        PrintHelp(stdout, def);
        return kExitOk;
    }
    return -1;
}

void PrintHelp(std::FILE* out, const CommandDef& def) {
    std::fprintf(out, "Usage: %s\n\n%s\n", def.usage, def.about);
    std::vector<OptionDef> defs = def.options;
    defs.push_back(kHelpOption);
    std::fprintf(out, "\nOptions:\n");
    const size_t column = 30, width = 79;
    for (const OptionDef& option : defs) {
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
    if (def.notes) std::fprintf(out, "\n%s\n", def.notes);
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
