<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US" sourcelanguage="en_US">
<context>
    <name></name>
    <message id="MSG_APPNAME">
        <source>SC820 Utility</source>
        <translation>SC820 Utility</translation>
    </message>
    <message id="MSG_WARN">
        <source>A SCSI device on the SC820 card is in use, so the card's driver cannot be replaced. Unmount or detach every device on the card and start the utility again.

Nothing has been changed. The utility will now quit.</source>
        <translation>A SCSI device on the SC820 card is in use, so the card's driver cannot be replaced. Unmount or detach every device on the card and start the utility again.

Nothing has been changed. The utility will now quit.</translation>
    </message>
    <message id="MSG_PATHERROR">
        <source>The utility could not run its check program from its own folder, so it cannot start the card's driver tools safely. Nothing has been changed. The utility will now quit.</source>
        <translation>The utility could not run its check program from its own folder, so it cannot start the card's driver tools safely. Nothing has been changed. The utility will now quit.</translation>
    </message>
    <message id="MSG_CHECKPATH">
        <source>Make sure the utility is complete and that its folder path holds only plain ASCII characters, without quotes, $, ` or \. The utility is located at: </source>
        <translation>Make sure the utility is complete and that its folder path holds only plain ASCII characters, without quotes, $, ` or \. The utility is located at: </translation>
    </message>
    <message id="MSG_START">
        <source>The utility will now unload the card's SCSI driver and load its own driver to reach the card. SCSI devices on the card stay unavailable until the computer is restarted.

Continue?</source>
        <translation>The utility will now unload the card's SCSI driver and load its own driver to reach the card. SCSI devices on the card stay unavailable until the computer is restarted.

Continue?</translation>
    </message>
    <message id="MSG_SLOTERROR">
        <source>The system's device registry could not be searched for the SC820 card. The utility will now quit.</source>
        <translation>The system's device registry could not be searched for the SC820 card. The utility will now quit.</translation>
    </message>
    <message id="MSG_INITIALIZE">
        <source>The SC820 card's utility driver could not be found or opened. The card may be missing, or its driver was not loaded. The utility will now quit.</source>
        <translation>The SC820 card's utility driver could not be found or opened. The card may be missing, or its driver was not loaded. The utility will now quit.</translation>
    </message>
    <message id="MSG_ERASE">
        <source>Erase the SCSI BIOS in the card's flash memory?

The card cannot boot from SCSI devices until a BIOS image is written again.</source>
        <translation>Erase the SCSI BIOS in the card's flash memory?

The card cannot boot from SCSI devices until a BIOS image is written again.</translation>
    </message>
    <message id="MSG_WRITE">
        <source>Write a SCSI BIOS image file into the card's flash memory?

You choose the image file next.</source>
        <translation>Write a SCSI BIOS image file into the card's flash memory?

You choose the image file next.</translation>
    </message>
    <message id="MSG_WRITESTART">
        <source>The chosen image will now be written into the flash memory and verified; an image of 4,096 bytes or more is written after the flash memory has been erased. Do not turn off the computer until this is finished.

Continue?</source>
        <translation>The chosen image will now be written into the flash memory and verified; an image of 4,096 bytes or more is written after the flash memory has been erased. Do not turn off the computer until this is finished.

Continue?</translation>
    </message>
    <message id="MSG_WRITEFAIL">
        <source>The flash memory read back differs from the image file. The flash memory will now be erased, so that the card does not start from an image that failed. Write the image again before you restart the computer.</source>
        <translation>The flash memory read back differs from the image file. The flash memory will now be erased, so that the card does not start from an image that failed. Write the image again before you restart the computer.</translation>
    </message>
    <message id="MSG_WRITESUCCESS">
        <source>The SCSI BIOS image has been written and verified.</source>
        <translation>The SCSI BIOS image has been written and verified.</translation>
    </message>
    <message id="MSG_SUCCESS">
        <source>The configuration has been stored on the card. The new settings take effect when the computer is restarted.</source>
        <translation>The configuration has been stored on the card. The new settings take effect when the computer is restarted.</translation>
    </message>
    <message id="MSG_READFAIL">
        <source>The card's configuration could not be read. Nothing on the card has been changed. The utility will now quit.</source>
        <translation>The card's configuration could not be read. Nothing on the card has been changed. The utility will now quit.</translation>
    </message>
    <message id="MSG_STOREFAIL">
        <source>The card refused the configuration, so it has not been stored. The window stays open: check the settings and close the window again to store them.</source>
        <translation>The card refused the configuration, so it has not been stored. The window stays open: check the settings and close the window again to store them.</translation>
    </message>
    <message id="MSG_DEFAULTFAIL">
        <source>The card's factory settings could not be loaded. The form still shows the previous settings.</source>
        <translation>The card's factory settings could not be loaded. The form still shows the previous settings.</translation>
    </message>
    <message id="MSG_ERASEFAIL">
        <source>The card refused to erase the flash memory. The SCSI BIOS is as it was.</source>
        <translation>The card refused to erase the flash memory. The SCSI BIOS is as it was.</translation>
    </message>
    <message id="MSG_FILEERROR">
        <source>The chosen file cannot be used as a SCSI BIOS image. The flash memory has not been changed.</source>
        <translation>The chosen file cannot be used as a SCSI BIOS image. The flash memory has not been changed.</translation>
    </message>
    <message id="MSG_WRITEERASEFAIL">
        <source>The card refused to erase the flash memory after the failed write. The flash memory holds an image that failed verification: write a BIOS image again, and do not restart the computer until it has been verified.</source>
        <translation>The card refused to erase the flash memory after the failed write. The flash memory holds an image that failed verification: write a BIOS image again, and do not restart the computer until it has been verified.</translation>
    </message>
    <message id="MSG_NOBACKUP">
        <source>The card's present contents could not be copied to the backups folder before this change, so the change could not be undone. Go on without a copy?</source>
        <translation>The card's present contents could not be copied to the backups folder before this change, so the change could not be undone. Go on without a copy?</translation>
    </message>
    <message id="MSG_HOSTINIT">
        <source>If no emulated host has been set up for you yet, run “sc820-host init” once, then start the utility again.</source>
        <translation>If no emulated host has been set up for you yet, run “sc820-host init” once, then start the utility again.</translation>
    </message>
    <message id="MSG_FILEUNREADABLE">
        <source>It cannot be read: it is missing, it is not a regular file, or you may not read it.</source>
        <translation>It cannot be read: it is missing, it is not a regular file, or you may not read it.</translation>
    </message>
    <message id="MSG_FILEEMPTY">
        <source>It is empty.</source>
        <translation>It is empty.</translation>
    </message>
    <message id="MSG_FILETOOLARGE">
        <source>It is larger than 69,536 bytes.</source>
        <translation>It is larger than 69,536 bytes.</translation>
    </message>
    <message id="MSG_FILEUNVERIFIABLE">
        <source>Its bytes from offset 68,000 on are not all zero. The card reads back 68,000 bytes, so this image could never be verified.</source>
        <translation>Its bytes from offset 68,000 on are not all zero. The card reads back 68,000 bytes, so this image could never be verified.</translation>
    </message>
    <message id="MSG_BYTES">
        <source>bytes</source>
        <translation>bytes</translation>
    </message>
</context>
</TS>
