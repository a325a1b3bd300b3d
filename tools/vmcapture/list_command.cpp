// SPDX-License-Identifier: MIT
// vmcapture list: every source of every device set, as one table.
#include <cstdio>

#include "commands.h"
#include "formats.h"
#include "options.h"
#include "report.h"
#include "sources.h"
#include "tqzenumdevice.h"
#include "world.h"

namespace vmcapture {

using VornCapture::Delivery;
using VornCapture::DeliveryName;
using VornCapture::DeviceFormats;
using VornCapture::Medium;
using VornCapture::SourceEntry;
using VornCapture::SourceKind;
using VornCapture::SourceKinds;

namespace {

const char* MediumName(Medium medium) { return medium == Medium::Video ? "video" : "audio"; }

}  // namespace

int RunList(const std::vector<std::string>& args) {
    CommandDef def{
        "vmcapture list [--kind KIND] [options]",
        "Lists every capture source the library finds: for each device set its\n"
        "sources with their index, kind, medium, delivery method and name. A\n"
        "source is captured with: vmcapture capture KIND INDEX|NAME.",
        {{"kind", 'k', "KIND", "list only this kind: desktop, window, camera or microphone"},
         {"formats", 0, nullptr,
          "also list what each camera and microphone accepts: formats, sizes and "
          "frame rates, or sample formats"}},
        "Examples:\n"
        "  vmcapture list\n"
        "  vmcapture list --kind camera --formats"};
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
    bool kindKnown = onlyKind.empty();
    for (const SourceKind& row : SourceKinds()) kindKnown = kindKnown || onlyKind == row.kind;
    if (!kindKnown) {
        ReportError("--kind wants desktop, window, camera or microphone, not '" + onlyKind + "'");
        return kExitUsage;
    }
    const bool formats = parsed.Has("formats");
    TQZCapture::TQZEnumDevice all;
    const std::string worldName = WorldDescription();
    if (!worldName.empty()) std::printf("World: %s\n", worldName.c_str());
    std::printf("%-20s %5s  %-10s %-6s %-8s %s\n", "SET", "INDEX", "KIND", "MEDIUM", "DELIVERY",
                "NAME");
    for (const SourceKind& row : SourceKinds()) {
        if (!onlyKind.empty() && onlyKind != row.kind) continue;
        for (const SourceEntry& entry : row.list(all)) {
            std::printf("%-20s %5u  %-10s %-6s %-8s %s\n", row.setName, entry.index, row.kind,
                        MediumName(row.medium), DeliveryName(row.delivery), entry.name.c_str());
            // A device is listed once per delivery method; its formats once, after the first.
            if (formats && row.delivery == Delivery::Push)
                for (const std::string& line : DeviceFormats(row, entry.index))
                    std::printf("%29s%s\n", "", line.c_str());
        }
    }
    return std::fflush(stdout) == 0 ? kExitOk : kExitFailure;
}

}  // namespace vmcapture
