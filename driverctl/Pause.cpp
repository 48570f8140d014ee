#include "driverctl/Pause.h"

// One helper serves every pause: the start-up pauses give the authorization service and the
// freshly loaded extension time to settle, the flash pauses give the card time to finish a
// sweep. The count, not a clock, defines the pause.
uint32_t BusyPause(uint32_t count) {
    volatile uint32_t counter = 0;
    while (counter < count) {
        // A plain assignment statement: ++ and += on a volatile are deprecated in C++20.
        counter = counter + 1;
    }
    return counter;
}
