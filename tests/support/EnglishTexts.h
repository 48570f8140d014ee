// The English texts of the alert keys, written out so that tests compare what the program
// showed with what a person reads, not with what the string table lookup returns.
#pragma once

#include <map>
#include <string>

inline const std::map<std::string, std::string> kEnglishText = {
    {"MSG_APPNAME", "SC820 Utility"},
    {"MSG_WARN",
     "A SCSI device on the SC820 card is in use, so the card's driver cannot be replaced. Unmount "
     "or detach every device on the card and start the utility again.\n\nNothing has been changed. "
     "The utility will now quit."},
    {"MSG_PATHERROR",
     "The utility could not run its check program from its own folder, so it cannot start the "
     "card's driver tools safely. Nothing has been changed. The utility will now quit."},
    {"MSG_CHECKPATH",
     "Make sure the utility is complete and that its folder path holds only plain ASCII "
     "characters, without quotes, $, ` or \\. The utility is located at: "},
    {"MSG_START",
     "The utility will now unload the card's SCSI driver and load its own driver to reach the "
     "card. SCSI devices on the card stay unavailable until the computer is "
     "restarted.\n\nContinue?"},
    {"MSG_SLOTERROR",
     "The system's device registry could not be searched for the SC820 card. The utility will now "
     "quit."},
    {"MSG_INITIALIZE",
     "The SC820 card's utility driver could not be found or opened. The card may be missing, or "
     "its driver was not loaded. The utility will now quit."},
    {"MSG_ERASE",
     "Erase the SCSI BIOS in the card's flash memory?\n\nThe card cannot boot from SCSI devices "
     "until a BIOS image is written again."},
    {"MSG_WRITE",
     "Write a SCSI BIOS image file into the card's flash memory?\n\nYou choose the image file "
     "next."},
    {"MSG_WRITESTART",
     "The chosen image will now be written into the flash memory and verified; an image of 4,096 "
     "bytes or more is written after the flash memory has been erased. Do not turn off the "
     "computer until this is finished.\n\nContinue?"},
    {"MSG_WRITEFAIL",
     "The flash memory read back differs from the image file. The flash memory will now be erased, "
     "so that the card does not start from an image that failed. Write the image again before you "
     "restart the computer."},
    {"MSG_WRITESUCCESS", "The SCSI BIOS image has been written and verified."},
    {"MSG_SUCCESS",
     "The configuration has been stored on the card. The new settings take effect when the "
     "computer is restarted."},
    {"MSG_READFAIL",
     "The card's configuration could not be read. Nothing on the card has been changed. The "
     "utility will now quit."},
    {"MSG_STOREFAIL",
     "The card refused the configuration, so it has not been stored. The window stays open: check "
     "the settings and close the window again to store them."},
    {"MSG_DEFAULTFAIL",
     "The card's factory settings could not be loaded. The form still shows the previous "
     "settings."},
    {"MSG_ERASEFAIL", "The card refused to erase the flash memory. The SCSI BIOS is as it was."},
    {"MSG_FILEERROR",
     "The chosen file cannot be used as a SCSI BIOS image. The flash memory has not been "
     "changed."},
    {"MSG_HOSTINIT",
     "If no emulated host has been set up for you yet, run “sc820-host init” once, then start the "
     "utility again."},
    {"MSG_FILEUNREADABLE",
     "It cannot be read: it is missing, it is not a regular file, or you may not read it."},
    {"MSG_FILEEMPTY", "It is empty."},
    {"MSG_FILETOOLARGE", "It is larger than 69,536 bytes."},
    {"MSG_FILEUNVERIFIABLE",
     "Its bytes from offset 68,000 on are not all zero. The card reads back 68,000 bytes, so this "
     "image could never be verified."},
    {"MSG_WRITEERASEFAIL",
     "The card refused to erase the flash memory after the failed write. The flash memory holds an "
     "image that failed verification: write a BIOS image again, and do not restart the computer "
     "until it has been verified."},
    {"MSG_NOBACKUP",
     "The card's present contents could not be copied to the backups folder before this change, "
     "so the change could not be undone. Go on without a copy?"},
};
