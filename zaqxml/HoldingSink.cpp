// SPDX-License-Identifier: Apache-2.0
// HoldingSink.cpp - holding back, then passing on.
#include "HoldingSink.h"

bool HoldingSink::passHeld() {
    iPassing = true;
    const bool ok = iHeld.empty() || iNext.write(iHeld.data(), iHeld.size());
    std::string().swap(iHeld);
    return ok;
}

bool HoldingSink::write(const char* data, std::size_t size) {
    iWritten += size;
    if (iDropped)
        return true;
    if (!iPassing) {
        if (iHeld.size() + size <= iHoldUpTo) {
            iHeld.append(data, size);
            return true;
        }
        if (!passHeld())
            return false;
    }
    return iNext.write(data, size);
}

bool HoldingSink::flush() {
    if (iDropped)
        return true;
    if (!iPassing && !passHeld())
        return false;
    return iNext.flush();
}

void HoldingSink::drop() {
    iDropped = true;
    std::string().swap(iHeld);
}
