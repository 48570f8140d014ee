// The program entry hands control to the window system, which loads the main window, creates
// the controller and runs the event loop.
#include "platform/window/AppKit.h"

int main(int argc, char** argv) {
    return NSApplicationMain(argc, argv);
}
