// SPDX-License-Identifier: MIT
// The virtual platform: options that set up its display before the capture.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "autoworld.h"
#include "bmp.h"
#include "image.h"
#include "report.h"
#include "vorn/control/display.h"
#include "vorn/control/media.h"
#include "vorn/control/world.h"
#include "world.h"

namespace vmcapture {

using VornCapture::ImageView;
using VornCapture::kMaxSide;
using VornCapture::PutWorldInForce;

namespace {

bool ParsePoint(const std::string& text, int64_t limit, int& x, int& y) {
    const size_t comma = text.find(',');
    if (comma == std::string::npos) return false;
    const auto parse = [limit](const std::string& part, int& value) {
        const bool negative = !part.empty() && part[0] == '-';
        uint64_t magnitude = 0;
        if (!ParseUnsigned(negative ? part.substr(1) : part, 0, static_cast<uint64_t>(limit),
                           magnitude))
            return false;
        value = static_cast<int>(negative ? -static_cast<int64_t>(magnitude) : magnitude);
        return true;
    };
    return parse(text.substr(0, comma), x) && parse(text.substr(comma + 1), y);
}

bool ShowPicture(const std::string& path, std::string& error) {
    std::vector<uint8_t> file;
    ImageView picture;
    if (!ReadBmpFile(path, file, picture, error)) return false;
    std::vector<uint32_t> pixels(static_cast<size_t>(picture.width) * picture.height);
    for (uint32_t y = 0; y < picture.height; ++y)
        for (uint32_t x = 0; x < picture.width; ++x)
            pixels[static_cast<size_t>(y) * picture.width + x] = picture.Pixel(x, y);
    if (!VornWorld::SetScreenPicture(pixels.data(), static_cast<int>(picture.width),
                                     static_cast<int>(picture.height))) {
        error = path + ": the virtual screen does not take this picture";
        return false;
    }
    return true;
}

// TITLE@X,Y,WxH[#RRGGBB]: a window of the tool's own process at the top of the Z order.
bool AddWindow(const std::string& text, std::string& error) {
    error = "--virtual-window wants TITLE@X,Y,WxH[#RRGGBB], not '" + text + "'";
    const size_t at = text.rfind('@');
    if (at == std::string::npos) return false;
    std::string geometry = text.substr(at + 1);
    uint32_t client = 0;
    const size_t hash = geometry.find('#');
    if (hash != std::string::npos) {
        if (!ParseHexColor(geometry.substr(hash), client)) return false;
        geometry.resize(hash);
    }
    const size_t comma = geometry.rfind(',');
    int x = 0, y = 0;
    uint32_t width = 0, height = 0;
    if (comma == std::string::npos || !ParsePoint(geometry.substr(0, comma), kMaxSide, x, y) ||
        !ParseSize(geometry.substr(comma + 1), kMaxSide, width, height))
        return false;
    const RECT outer = {x, y, x + static_cast<LONG>(width), y + static_cast<LONG>(height)};
    HWND window = VornWorld::AddWindow(text.substr(0, at).c_str(), outer);
    if (window == nullptr) {
        error = "the virtual display refused the window '" + text + "'";
        return false;
    }
    if (hash != std::string::npos) VornWorld::SetWindowColor(window, 0x808080, client);
    return true;
}

// The window a new user finds in the virtual world: an editor with a blue title bar and a
// white page of grey text lines, so that a window capture shows what it takes.
void AddDefaultWindow() {
    constexpr int kLeft = 160, kTop = 120, kWidth = 640, kHeight = 480;
    const RECT outer = {kLeft, kTop, kLeft + kWidth, kTop + kHeight};
    HWND window = VornWorld::AddWindow(kDefaultWindowTitle, outer);
    if (window == nullptr) return;
    const RECT inset = VornWorld::kDefaultInset;
    std::vector<uint32_t> pixels(static_cast<size_t>(kWidth) * kHeight);
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            uint32_t colour = 0xFFFFFF;  // the page
            if (y < inset.top)
                colour = 0x2B579A;  // title bar
            else if (x < inset.left || x >= kWidth - inset.right || y >= kHeight - inset.bottom)
                colour = 0xA0A0A0;  // border
            else {
                // Lines of text: 10 pixels high every 20, of lengths that vary line by line.
                const int cx = x - inset.left - 12, cy = y - inset.top - 12, line = cy / 20;
                if (cx >= 0 && cy >= 0 && cy % 20 < 10 && cx < 200 + (line * 97) % 380)
                    colour = (cx / 8) % 5 == 4 ? 0xFFFFFF : 0x404040;  // words and gaps
            }
            pixels[static_cast<size_t>(y) * kWidth + x] = colour;
        }
    VornWorld::SetWindowPixels(window, pixels.data(), kWidth, kHeight);
}

bool PlaceCursor(const std::string& text, std::string& error) {
    int x = 0, y = 0;
    if (!ParsePoint(text, kMaxSide, x, y)) {
        error = "--virtual-cursor wants X,Y, not '" + text + "'";
        return false;
    }
    VornWorld::SetCursorPosition(x, y);
    return true;
}

}  // namespace

const std::vector<OptionDef>& WorldOptions() {
    static const std::vector<OptionDef> options = {
        {"world", 0, "auto|host|virtual",
         "the world to capture: the host's own screen (X display or Wayland portal), sound "
         "server and cameras, or the virtual one; auto (the default, unless VORN_WORLD is set) "
         "takes the host's where it has a display or a sound server, and says which"},
        {"virtual-screen", 0, "WxH", "virtual display: screen size (default 1920x1080)"},
        {"virtual-picture", 0, "FILE.bmp",
         "virtual display: show this still picture (24- or 32-bit BMP); the screen takes its "
         "size"},
        {"virtual-window", 0, "TITLE@X,Y,WxH[#RRGGBB]",
         "virtual display: add a window of this process (repeatable), optionally with a client "
         "colour; without this option and --virtual-picture the display shows the window "
         "'Untitled - Editor' at 160,120, 640x480"},
        {"virtual-cursor", 0, "X,Y",
         "virtual display: move the mouse cursor (captures draw it in; -100,-100 keeps it out)"},
    };
    return options;
}

int ApplyWorldOptions(const ParsedArgs& parsed) {
    std::string error, used, why;
    // Put in force before the first platform call, which fixes it.
    const std::string asked = parsed.Has("world") ? parsed.Value("world") : std::string();
    if (!PutWorldInForce(asked, used, why, error)) {
        ReportError("--world: " + error);
        return kExitUsage;
    }
    const char* variable = std::getenv("VORN_WORLD");
    if (asked == "auto" || (asked.empty() && (variable == nullptr || *variable == '\0')))
        ReportNotice("capturing the " + used + " world (" + why + ")");
    if (VornWorld::CurrentWorld() == VornWorld::WorldKind::Host) {
        for (const OptionDef& option : WorldOptions()) {
            if (option.name != std::string("world") && parsed.Has(option.name)) {
                ReportError(std::string("--") + option.name +
                            " shapes the virtual world; the host world is in force");
                return kExitUsage;
            }
        }
    }
    uint32_t width = 0, height = 0;
    if (parsed.Has("virtual-screen")) {
        if (!ParseSize(parsed.Value("virtual-screen"), VornWorld::kMaxScreenSide, width, height) ||
            !VornWorld::SetScreenSize(static_cast<int>(width), static_cast<int>(height))) {
            ReportError("--virtual-screen wants WxH, each side 1 to " +
                        std::to_string(VornWorld::kMaxScreenSide));
            return kExitUsage;
        }
    }
    if (parsed.Has("virtual-picture") && !ShowPicture(parsed.Value("virtual-picture"), error)) {
        ReportError(error);
        return kExitFailure;
    }
    for (const std::string& window : parsed.Values("virtual-window")) {
        if (!AddWindow(window, error)) {
            ReportError(error);
            return kExitUsage;
        }
    }
    if (parsed.Has("virtual-cursor") && !PlaceCursor(parsed.Value("virtual-cursor"), error)) {
        ReportError(error);
        return kExitUsage;
    }
    // A world the user does not shape has the default window.
    if (!parsed.Has("virtual-window") && !parsed.Has("virtual-picture") &&
        VornWorld::CurrentWorld() == VornWorld::WorldKind::Virtual)
        AddDefaultWindow();
    return kExitOk;
}

void StopWorldWaits() { VornWorld::StopAskingTheUser(); }

uint64_t LargestCapturePixels() {
    // The virtual display makes bitmaps of at most 2^27 pixels.
    return VornWorld::CurrentWorld() == VornWorld::WorldKind::Virtual ? uint64_t{1} << 27 : 0;
}

std::string WorldDescription() {
    const VornWorld::WorldKind kind = VornWorld::CurrentWorld();
    std::string text = VornWorld::WorldName(kind);
    if (kind == VornWorld::WorldKind::Host && VornWorld::HostScreenFromPortal()) {
        text += " (Wayland session: the screen through the ScreenCast portal)";
    } else if (kind == VornWorld::WorldKind::Host) {
        const char* display = std::getenv("DISPLAY");
        text += std::string(" (X display ") + (display != nullptr ? display : "unset") + ")";
    }
    return text;
}

}  // namespace vmcapture
