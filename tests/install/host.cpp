// SPDX-License-Identifier: MIT
// A host of the installed library: every installed header compiles, the library links and
// loads, and an exported class works through its interface.
#include "vmc_all_headers.h"

#include <cstdio>

int main() {
    TQZCapture::TQZLocker locker;
    TQZCapture::IQZLocker& lock = locker;
    lock.Locked();
    lock.Locked();
    lock.UnLocked();
    lock.UnLocked();
    std::puts("vmc_install_host: VornMediaCapture loaded and working");
    return 0;
}
