<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE" sourcelanguage="en_US">
<context>
    <name></name>
    <message id="MSG_APPNAME">
        <source>SC820 Utility</source>
        <translation>SC820 Utility</translation>
    </message>
    <message id="MSG_WARN">
        <source>A SCSI device on the SC820 card is in use, so the card's driver cannot be replaced. Unmount or detach every device on the card and start the utility again.

Nothing has been changed. The utility will now quit.</source>
        <translation>Ein SCSI-Gerät an der SC820-Karte ist in Gebrauch, daher kann der Treiber der Karte nicht ersetzt werden. Werfen Sie alle Geräte an der Karte aus oder trennen Sie sie, und starten Sie das Programm erneut.

Es wurde nichts verändert. Das Programm wird jetzt beendet.</translation>
    </message>
    <message id="MSG_PATHERROR">
        <source>The utility could not run its check program from its own folder, so it cannot start the card's driver tools safely. Nothing has been changed. The utility will now quit.</source>
        <translation>Das Programm konnte sein Prüfprogramm nicht aus dem eigenen Ordner starten und kann die Treiberwerkzeuge der Karte daher nicht sicher aufrufen. Es wurde nichts verändert. Das Programm wird jetzt beendet.</translation>
    </message>
    <message id="MSG_CHECKPATH">
        <source>Make sure the utility is complete and that its folder path holds only plain ASCII characters, without quotes, $, ` or \. The utility is located at: </source>
        <translation>Prüfen Sie, ob das Programm vollständig ist und der Pfad seines Ordners nur einfache ASCII-Zeichen enthält, ohne Anführungszeichen, $, ` oder \. Das Programm liegt hier: </translation>
    </message>
    <message id="MSG_START">
        <source>The utility will now unload the card's SCSI driver and load its own driver to reach the card. SCSI devices on the card stay unavailable until the computer is restarted.

Continue?</source>
        <translation>Das Programm entlädt jetzt den SCSI-Treiber der Karte und lädt seinen eigenen Treiber, um auf die Karte zuzugreifen. SCSI-Geräte an der Karte bleiben bis zum Neustart des Computers nicht verfügbar.

Fortfahren?</translation>
    </message>
    <message id="MSG_SLOTERROR">
        <source>The system's device registry could not be searched for the SC820 card. The utility will now quit.</source>
        <translation>Die Geräteregistrierung des Systems konnte nicht nach der SC820-Karte durchsucht werden. Das Programm wird jetzt beendet.</translation>
    </message>
    <message id="MSG_INITIALIZE">
        <source>The SC820 card's utility driver could not be found or opened. The card may be missing, or its driver was not loaded. The utility will now quit.</source>
        <translation>Der Dienstprogramm-Treiber der SC820-Karte wurde nicht gefunden oder konnte nicht geöffnet werden. Die Karte fehlt möglicherweise, oder ihr Treiber wurde nicht geladen. Das Programm wird jetzt beendet.</translation>
    </message>
    <message id="MSG_ERASE">
        <source>Erase the SCSI BIOS in the card's flash memory?

The card cannot boot from SCSI devices until a BIOS image is written again.</source>
        <translation>Das SCSI-BIOS im Flash-Speicher der Karte löschen?

Die Karte kann erst wieder von SCSI-Geräten starten, wenn ein BIOS-Abbild geschrieben wurde.</translation>
    </message>
    <message id="MSG_WRITE">
        <source>Write a SCSI BIOS image file into the card's flash memory?

You choose the image file next.</source>
        <translation>Eine SCSI-BIOS-Abbilddatei in den Flash-Speicher der Karte schreiben?

Als Nächstes wählen Sie die Abbilddatei.</translation>
    </message>
    <message id="MSG_WRITESTART">
        <source>The chosen image will now be written into the flash memory and verified; an image of 4,096 bytes or more is written after the flash memory has been erased. Do not turn off the computer until this is finished.

Continue?</source>
        <translation>Das gewählte Abbild wird jetzt in den Flash-Speicher geschrieben und geprüft; ein Abbild ab 4.096 Bytes wird geschrieben, nachdem der Flash-Speicher gelöscht wurde. Schalten Sie den Computer nicht aus, bevor der Vorgang abgeschlossen ist.

Fortfahren?</translation>
    </message>
    <message id="MSG_WRITEFAIL">
        <source>The flash memory read back differs from the image file. The flash memory will now be erased, so that the card does not start from an image that failed. Write the image again before you restart the computer.</source>
        <translation>Der zurückgelesene Flash-Speicher weicht von der Abbilddatei ab. Der Flash-Speicher wird jetzt gelöscht, damit die Karte nicht von einem fehlerhaften Abbild startet. Schreiben Sie das Abbild erneut, bevor Sie den Computer neu starten.</translation>
    </message>
    <message id="MSG_WRITESUCCESS">
        <source>The SCSI BIOS image has been written and verified.</source>
        <translation>Das SCSI-BIOS-Abbild wurde geschrieben und geprüft.</translation>
    </message>
    <message id="MSG_SUCCESS">
        <source>The configuration has been stored on the card. The new settings take effect when the computer is restarted.</source>
        <translation>Die Konfiguration wurde auf der Karte gespeichert. Die neuen Einstellungen gelten nach dem Neustart des Computers.</translation>
    </message>
    <message id="MSG_READFAIL">
        <source>The card's configuration could not be read. Nothing on the card has been changed. The utility will now quit.</source>
        <translation>Die Konfiguration der Karte konnte nicht gelesen werden. Auf der Karte wurde nichts verändert. Das Programm wird jetzt beendet.</translation>
    </message>
    <message id="MSG_STOREFAIL">
        <source>The card refused the configuration, so it has not been stored. The window stays open: check the settings and close the window again to store them.</source>
        <translation>Die Karte hat die Konfiguration abgelehnt; sie wurde nicht gespeichert. Das Fenster bleibt geöffnet: Prüfen Sie die Einstellungen und schließen Sie das Fenster erneut, um sie zu speichern.</translation>
    </message>
    <message id="MSG_DEFAULTFAIL">
        <source>The card's factory settings could not be loaded. The form still shows the previous settings.</source>
        <translation>Die Werkseinstellungen der Karte konnten nicht geladen werden. Das Formular zeigt weiterhin die bisherigen Einstellungen.</translation>
    </message>
    <message id="MSG_ERASEFAIL">
        <source>The card refused to erase the flash memory. The SCSI BIOS is as it was.</source>
        <translation>Die Karte hat das Löschen des Flash-Speichers abgelehnt. Das SCSI-BIOS ist unverändert.</translation>
    </message>
    <message id="MSG_FILEERROR">
        <source>The chosen file cannot be used as a SCSI BIOS image. The flash memory has not been changed.</source>
        <translation>Die gewählte Datei kann nicht als SCSI-BIOS-Abbild verwendet werden. Der Flash-Speicher wurde nicht verändert.</translation>
    </message>
    <message id="MSG_WRITEERASEFAIL">
        <source>The card refused to erase the flash memory after the failed write. The flash memory holds an image that failed verification: write a BIOS image again, and do not restart the computer until it has been verified.</source>
        <translation>Die Karte hat das Löschen des Flash-Speichers nach dem fehlgeschlagenen Schreiben abgelehnt. Der Flash-Speicher enthält ein Abbild, das die Prüfung nicht bestanden hat: Schreiben Sie erneut ein BIOS-Abbild und starten Sie den Computer erst neu, wenn es geprüft wurde.</translation>
    </message>
    <message id="MSG_NOBACKUP">
        <source>The card's present contents could not be copied to the backups folder before this change, so the change could not be undone. Go on without a copy?</source>
        <translation>Der aktuelle Inhalt der Karte konnte vor dieser Änderung nicht in den Sicherungsordner kopiert werden; die Änderung ließe sich nicht rückgängig machen. Ohne Kopie fortfahren?</translation>
    </message>
    <message id="MSG_HOSTINIT">
        <source>If no emulated host has been set up for you yet, run “sc820-host init” once, then start the utility again.</source>
        <translation>Falls für Sie noch kein emulierter Host eingerichtet ist, führen Sie einmal „sc820-host init“ aus und starten Sie das Programm dann erneut.</translation>
    </message>
    <message id="MSG_FILEUNREADABLE">
        <source>It cannot be read: it is missing, it is not a regular file, or you may not read it.</source>
        <translation>Sie kann nicht gelesen werden: Sie fehlt, ist keine gewöhnliche Datei, oder Sie dürfen sie nicht lesen.</translation>
    </message>
    <message id="MSG_FILEEMPTY">
        <source>It is empty.</source>
        <translation>Sie ist leer.</translation>
    </message>
    <message id="MSG_FILETOOLARGE">
        <source>It is larger than 69,536 bytes.</source>
        <translation>Sie ist größer als 69.536 Byte.</translation>
    </message>
    <message id="MSG_FILEUNVERIFIABLE">
        <source>Its bytes from offset 68,000 on are not all zero. The card reads back 68,000 bytes, so this image could never be verified.</source>
        <translation>Ihre Bytes ab Position 68.000 sind nicht alle null. Die Karte liest 68.000 Byte zurück, daher könnte dieses Abbild nie verifiziert werden.</translation>
    </message>
    <message id="MSG_BYTES">
        <source>bytes</source>
        <translation>Byte</translation>
    </message>
</context>
</TS>
