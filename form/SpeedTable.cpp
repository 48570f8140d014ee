#include "form/SpeedTable.h"

#include "driverif/def.h"

int MaxTransferPosition(int32_t syncSpeed, bool wide) {
    if (wide) {
        // Computed modulo 2^32 so that no code, however wild, overflows.
        return static_cast<int>(static_cast<uint32_t>(syncSpeed) - 1u);
    }
    if (syncSpeed == SYNC_13p3MB) return 4;
    if (syncSpeed >= SYNC_10MB && syncSpeed <= SYNC_5MB) return syncSpeed + 3;
    return 2;
}

int32_t SyncSpeedForPosition(int position, bool wide, int32_t formerSpeed) {
    // Position + 1 as an unsigned 16-bit number: no selection (-1) gives 0.
    const uint16_t n = static_cast<uint16_t>(position + 1);
    if (wide) {
        return n <= SYNC_5MB ? static_cast<int32_t>(n) : formerSpeed;
    }
    if (n == 5) return SYNC_13p3MB;
    if (n >= 7 && n <= 11) return static_cast<int32_t>(n) - 4;
    return SYNC_20MB;
}

int TerminatorButtonForMode(int32_t termMode) {
    switch (termMode) {
        case DISABLE_TERM:
            return 3;
        case ENABLE_HIGHTERM:
            return 1;
        case ENABLE_TERM:
            return 2;
        default:
            return 0;
    }
}

int32_t TermModeForButtons(const int states[4], int32_t formerMode) {
    static constexpr int32_t kModeOfButton[4] = {AUTO_TERM, ENABLE_HIGHTERM, ENABLE_TERM,
                                                 DISABLE_TERM};
    for (int i = 0; i < 4; ++i) {
        if (states[i] != 0) return kModeOfButton[i];
    }
    return formerMode;
}
