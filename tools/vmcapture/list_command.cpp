// vmcapture list: every source of every device set, as one table.
#include <cstdio>

#include "commands.h"
#include "options.h"
#include "report.h"
#include "sources.h"
#include "tqzenumdevice.h"
#include "world.h"

namespace vmcapture {

namespace {

const char* MediumName(Medium medium) { return medium == Medium::Video ? "video" : "audio"; }

}  // namespace

int RunList(const std::vector<std::string>& args) {
    CommandDef def{"vmcapture list [--kind KIND] [options]",
                     "Lists every capture source the library finds: for each device set its\n"
                     "sources with their index, kind, medium, delivery method and name. A\n"
                     "source is captured with: vmcapture capture KIND INDEX|NAME.",
                     {{"kind", 'k', "KIND", "list only this kind (desktop, window, ...)"}}};
    const std::vector<OptionDef>& world = WorldOptions();
    def.options.insert(def.options.end(), world.begin(), world.end());
    ParsedArgs parsed;
    const int parseStatus = ParseCommandLine(args, def, parsed);
    if (parseStatus >= 0) return parseStatus;
    if (!parsed.Positionals().empty()) {
        ReportError("list takes no arguments besides its options (see --help)");
        return kExitUsage;
    }
    const int worldStatus = ApplyWorldOptions(parsed);
    if (worldStatus != kExitOk) return worldStatus;

    const std::string onlyKind = parsed.Value("kind");
    TQZCapture::TQZEnumDevice all;
    const std::string worldName = WorldDescription();
    if (!worldName.empty()) std::printf("World: %s\n", worldName.c_str());
    std::printf("%-20s %5s  %-10s %-6s %-8s %s\n", "SET", "INDEX", "KIND", "MEDIUM", "DELIVERY",
                "NAME");
    for (const SourceKind& row : SourceKinds()) {
        if (!onlyKind.empty() && onlyKind != row.kind) continue;
        for (const SourceEntry& entry : row.list(all))
            std::printf("%-20s %5u  %-10s %-6s %-8s %s\n", row.setName, entry.index, row.kind,
                        MediumName(row.medium), DeliveryName(row.delivery), entry.name.c_str());
    }
    return std::fflush(stdout) == 0 ? kExitOk : kExitFailure;
}

}  // namespace vmcapture
