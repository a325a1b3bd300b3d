// SPDX-License-Identifier: MIT
// vorncapture._testing: the virtual world's controls, for the package's own tests. They shape
// the test world only (a fixed screen picture, windows, devices); in the host world they refuse.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <cstdint>
#include <stdexcept>

#include "vorn/control/display.h"
#include "vorn/control/media.h"
#include "vorn/control/world.h"

namespace py = pybind11;

namespace vornpy {

namespace {

void RequireVirtual() {
    if (VornWorld::CurrentWorld() != VornWorld::WorldKind::Virtual)
        throw std::runtime_error("the test controls shape the virtual world only");
}

// Shows `pixels` (height, width) of 0x00RRGGBB on the screen, with the cursor hidden.
void SetScreen(
    const py::array_t<std::uint32_t, py::array::c_style | py::array::forcecast>& pixels) {
    RequireVirtual();
    if (pixels.ndim() != 2) throw py::value_error("pixels must be (height, width) of 0x00RRGGBB");
    VornWorld::SetCursorVisible(false);
    if (!VornWorld::SetScreenPicture(pixels.data(), static_cast<int>(pixels.shape(1)),
                                     static_cast<int>(pixels.shape(0))))
        throw py::value_error("the screen refused the picture's size");
}

std::uintptr_t AddWindow(const std::string& title, int left, int top, int right, int bottom,
                         std::uint32_t client) {
    RequireVirtual();
    const HWND window = VornWorld::AddWindow(title.c_str(), RECT{left, top, right, bottom});
    if (window == nullptr) throw std::runtime_error("no window was made");
    VornWorld::SetWindowColor(window, client, client);
    return reinterpret_cast<std::uintptr_t>(window);
}

bool RemoveWindow(std::uintptr_t window) {
    RequireVirtual();
    return VornWorld::RemoveWindow(reinterpret_cast<HWND>(window));
}

// Removes the device at `position` of its kind ("camera" or "microphone").
bool RemoveDevice(const std::string& kind, std::size_t position) {
    RequireVirtual();
    const auto devices = VornWorld::Devices(kind == "camera" ? VornWorld::MediaKind::Video
                                                             : VornWorld::MediaKind::Audio);
    return position < devices.size() && VornWorld::RemoveDevice(devices[position]);
}

}  // namespace

void AddTestingModule(py::module_& parent) {
    py::module_ m = parent.def_submodule("_testing", "The virtual world's controls, for tests.");
    m.def("set_screen", &SetScreen, py::arg("pixels"));
    m.def("use_test_picture", [] {
        RequireVirtual();
        VornWorld::UseTestPicture();
    });
    m.def("freeze_screen", [](bool frozen) {
        RequireVirtual();
        VornWorld::FreezeScreen(frozen);
    });
    m.def("add_window", &AddWindow, py::arg("title"), py::arg("left"), py::arg("top"),
          py::arg("right"), py::arg("bottom"), py::arg("client") = 0x336699u);
    m.def("remove_window", &RemoveWindow);
    m.def("resize_window", [](std::uintptr_t window, int width, int height) {
        RequireVirtual();
        return VornWorld::ResizeWindowTo(reinterpret_cast<HWND>(window), width, height);
    });
    m.def("remove_device", &RemoveDevice, py::arg("kind"), py::arg("position") = 0);
    m.def("reset_media", [] {
        RequireVirtual();
        VornWorld::ResetMedia();
    });
}

}  // namespace vornpy
