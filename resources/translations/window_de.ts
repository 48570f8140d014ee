<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE" sourcelanguage="en_US">
<context>
    <name>MainWindow</name>
    <message>
        <source>SC820 Utility</source>
        <translation>SC820 Utility</translation>
    </message>
    <message>
        <source>SCSI configuration</source>
        <translation>SCSI-Konfiguration</translation>
    </message>
    <message>
        <source>Host adapter SCSI &amp;ID:</source>
        <translation>SCSI-&amp;ID des Hostadapters:</translation>
    </message>
    <message>
        <source>&amp;Reset recovering time:</source>
        <translation>Wartezeit nach &amp;Reset:</translation>
    </message>
    <message>
        <source>0.5 s</source>
        <translation>0,5 s</translation>
    </message>
    <message>
        <source>1 s</source>
        <translation>1 s</translation>
    </message>
    <message>
        <source>2 s</source>
        <translation>2 s</translation>
    </message>
    <message>
        <source>3 s</source>
        <translation>3 s</translation>
    </message>
    <message>
        <source>5 s</source>
        <translation>5 s</translation>
    </message>
    <message>
        <source>10 s</source>
        <translation>10 s</translation>
    </message>
    <message>
        <source>15 s</source>
        <translation>15 s</translation>
    </message>
    <message>
        <source>20 s</source>
        <translation>20 s</translation>
    </message>
    <message>
        <source>Request-sense de&amp;lay:</source>
        <translation>Request-Sense-&amp;Verzögerung:</translation>
    </message>
    <message>
        <source>None</source>
        <translation>Keine</translation>
    </message>
    <message>
        <source>100 ms</source>
        <translation>100 ms</translation>
    </message>
    <message>
        <source>250 ms</source>
        <translation>250 ms</translation>
    </message>
    <message>
        <source>500 ms</source>
        <translation>500 ms</translation>
    </message>
    <message>
        <source>B&amp;urst transfer</source>
        <translation>B&amp;urst-Übertragung</translation>
    </message>
    <message>
        <source>Enabled</source>
        <translation>Ein</translation>
    </message>
    <message>
        <source>Disabled</source>
        <translation>Aus</translation>
    </message>
    <message>
        <source>SCSI &amp;parity</source>
        <translation>SCSI-&amp;Parität</translation>
    </message>
    <message>
        <source>SCSI &amp;terminators</source>
        <translation>SCSI-&amp;Terminierung</translation>
    </message>
    <message>
        <source>Automatic</source>
        <translation>Automatisch</translation>
    </message>
    <message>
        <source>High byte only</source>
        <translation>Nur oberes Byte</translation>
    </message>
    <message>
        <source>On (low and high byte)</source>
        <translation>Ein (unteres und oberes Byte)</translation>
    </message>
    <message>
        <source>Off</source>
        <translation>Aus</translation>
    </message>
    <message>
        <source>&lt;b&gt;Target ID&lt;/b&gt;</source>
        <translation>&lt;b&gt;Ziel-ID&lt;/b&gt;</translation>
    </message>
    <message>
        <source>&lt;b&gt;Max transfer&lt;/b&gt;</source>
        <translation>&lt;b&gt;Max. Übertragung&lt;/b&gt;</translation>
    </message>
    <message>
        <source>&lt;b&gt;Sync&lt;/b&gt;</source>
        <translation>&lt;b&gt;Synchron&lt;/b&gt;</translation>
    </message>
    <message>
        <source>&lt;b&gt;Wide&lt;/b&gt;</source>
        <translation>&lt;b&gt;Wide&lt;/b&gt;</translation>
    </message>
    <message>
        <source>&lt;b&gt;Disconnect&lt;/b&gt;</source>
        <translation>&lt;b&gt;Disconnect&lt;/b&gt;</translation>
    </message>
    <message>
        <source>Maximum transfer rate of target 0</source>
        <translation>Maximale Übertragungsrate von Ziel 0</translation>
    </message>
    <message>
        <source>40 MB/s</source>
        <translation>40 MB/s</translation>
    </message>
    <message>
        <source>26.6 MB/s</source>
        <translation>26,6 MB/s</translation>
    </message>
    <message>
        <source>20 MB/s</source>
        <translation>20 MB/s</translation>
    </message>
    <message>
        <source>16 MB/s</source>
        <translation>16 MB/s</translation>
    </message>
    <message>
        <source>13.3 MB/s</source>
        <translation>13,3 MB/s</translation>
    </message>
    <message>
        <source>11.4 MB/s</source>
        <translation>11,4 MB/s</translation>
    </message>
    <message>
        <source>10 MB/s</source>
        <translation>10 MB/s</translation>
    </message>
    <message>
        <source>8 MB/s</source>
        <translation>8 MB/s</translation>
    </message>
    <message>
        <source>6.6 MB/s</source>
        <translation>6,6 MB/s</translation>
    </message>
    <message>
        <source>5.7 MB/s</source>
        <translation>5,7 MB/s</translation>
    </message>
    <message>
        <source>5 MB/s</source>
        <translation>5 MB/s</translation>
    </message>
    <message>
        <source>Synchronous transfer for target 0</source>
        <translation>Synchrone Übertragung für Ziel 0</translation>
    </message>
    <message>
        <source>Wide transfer for target 0</source>
        <translation>Wide-Übertragung für Ziel 0</translation>
    </message>
    <message>
        <source>Disconnect for target 0</source>
        <translation>Disconnect für Ziel 0</translation>
    </message>
    <message>
        <source>Maximum transfer rate of target 1</source>
        <translation>Maximale Übertragungsrate von Ziel 1</translation>
    </message>
    <message>
        <source>Synchronous transfer for target 1</source>
        <translation>Synchrone Übertragung für Ziel 1</translation>
    </message>
    <message>
        <source>Wide transfer for target 1</source>
        <translation>Wide-Übertragung für Ziel 1</translation>
    </message>
    <message>
        <source>Disconnect for target 1</source>
        <translation>Disconnect für Ziel 1</translation>
    </message>
    <message>
        <source>Maximum transfer rate of target 2</source>
        <translation>Maximale Übertragungsrate von Ziel 2</translation>
    </message>
    <message>
        <source>Synchronous transfer for target 2</source>
        <translation>Synchrone Übertragung für Ziel 2</translation>
    </message>
    <message>
        <source>Wide transfer for target 2</source>
        <translation>Wide-Übertragung für Ziel 2</translation>
    </message>
    <message>
        <source>Disconnect for target 2</source>
        <translation>Disconnect für Ziel 2</translation>
    </message>
    <message>
        <source>Maximum transfer rate of target 3</source>
        <translation>Maximale Übertragungsrate von Ziel 3</translation>
    </message>
    <message>
        <source>Synchronous transfer for target 3</source>
        <translation>Synchrone Übertragung für Ziel 3</translation>
    </message>
    <message>
        <source>Wide transfer for target 3</source>
        <translation>Wide-Übertragung für Ziel 3</translation>
    </message>
    <message>
        <source>Disconnect for target 3</source>
        <translation>Disconnect für Ziel 3</translation>
    </message>
    <message>
        <source>Maximum transfer rate of target 4</source>
        <translation>Maximale Übertragungsrate von Ziel 4</translation>
    </message>
    <message>
        <source>Synchronous transfer for target 4</source>
        <translation>Synchrone Übertragung für Ziel 4</translation>
    </message>
    <message>
        <source>Wide transfer for target 4</source>
        <translation>Wide-Übertragung für Ziel 4</translation>
    </message>
    <message>
        <source>Disconnect for target 4</source>
        <translation>Disconnect für Ziel 4</translation>
    </message>
    <message>
        <source>Maximum transfer rate of target 5</source>
        <translation>Maximale Übertragungsrate von Ziel 5</translation>
    </message>
    <message>
        <source>Synchronous transfer for target 5</source>
        <translation>Synchrone Übertragung für Ziel 5</translation>
    </message>
    <message>
        <source>Wide transfer for target 5</source>
        <translation>Wide-Übertragung für Ziel 5</translation>
    </message>
    <message>
        <source>Disconnect for target 5</source>
        <translation>Disconnect für Ziel 5</translation>
    </message>
    <message>
        <source>Maximum transfer rate of target 6</source>
        <translation>Maximale Übertragungsrate von Ziel 6</translation>
    </message>
    <message>
        <source>Synchronous transfer for target 6</source>
        <translation>Synchrone Übertragung für Ziel 6</translation>
    </message>
    <message>
        <source>Wide transfer for target 6</source>
        <translation>Wide-Übertragung für Ziel 6</translation>
    </message>
    <message>
        <source>Disconnect for target 6</source>
        <translation>Disconnect für Ziel 6</translation>
    </message>
    <message>
        <source>Maximum transfer rate of target 7</source>
        <translation>Maximale Übertragungsrate von Ziel 7</translation>
    </message>
    <message>
        <source>Synchronous transfer for target 7</source>
        <translation>Synchrone Übertragung für Ziel 7</translation>
    </message>
    <message>
        <source>Wide transfer for target 7</source>
        <translation>Wide-Übertragung für Ziel 7</translation>
    </message>
    <message>
        <source>Disconnect for target 7</source>
        <translation>Disconnect für Ziel 7</translation>
    </message>
    <message>
        <source>Maximum transfer rate of target 8</source>
        <translation>Maximale Übertragungsrate von Ziel 8</translation>
    </message>
    <message>
        <source>Synchronous transfer for target 8</source>
        <translation>Synchrone Übertragung für Ziel 8</translation>
    </message>
    <message>
        <source>Wide transfer for target 8</source>
        <translation>Wide-Übertragung für Ziel 8</translation>
    </message>
    <message>
        <source>Disconnect for target 8</source>
        <translation>Disconnect für Ziel 8</translation>
    </message>
    <message>
        <source>Maximum transfer rate of target 9</source>
        <translation>Maximale Übertragungsrate von Ziel 9</translation>
    </message>
    <message>
        <source>Synchronous transfer for target 9</source>
        <translation>Synchrone Übertragung für Ziel 9</translation>
    </message>
    <message>
        <source>Wide transfer for target 9</source>
        <translation>Wide-Übertragung für Ziel 9</translation>
    </message>
    <message>
        <source>Disconnect for target 9</source>
        <translation>Disconnect für Ziel 9</translation>
    </message>
    <message>
        <source>Maximum transfer rate of target 10</source>
        <translation>Maximale Übertragungsrate von Ziel 10</translation>
    </message>
    <message>
        <source>Synchronous transfer for target 10</source>
        <translation>Synchrone Übertragung für Ziel 10</translation>
    </message>
    <message>
        <source>Wide transfer for target 10</source>
        <translation>Wide-Übertragung für Ziel 10</translation>
    </message>
    <message>
        <source>Disconnect for target 10</source>
        <translation>Disconnect für Ziel 10</translation>
    </message>
    <message>
        <source>Maximum transfer rate of target 11</source>
        <translation>Maximale Übertragungsrate von Ziel 11</translation>
    </message>
    <message>
        <source>Synchronous transfer for target 11</source>
        <translation>Synchrone Übertragung für Ziel 11</translation>
    </message>
    <message>
        <source>Wide transfer for target 11</source>
        <translation>Wide-Übertragung für Ziel 11</translation>
    </message>
    <message>
        <source>Disconnect for target 11</source>
        <translation>Disconnect für Ziel 11</translation>
    </message>
    <message>
        <source>Maximum transfer rate of target 12</source>
        <translation>Maximale Übertragungsrate von Ziel 12</translation>
    </message>
    <message>
        <source>Synchronous transfer for target 12</source>
        <translation>Synchrone Übertragung für Ziel 12</translation>
    </message>
    <message>
        <source>Wide transfer for target 12</source>
        <translation>Wide-Übertragung für Ziel 12</translation>
    </message>
    <message>
        <source>Disconnect for target 12</source>
        <translation>Disconnect für Ziel 12</translation>
    </message>
    <message>
        <source>Maximum transfer rate of target 13</source>
        <translation>Maximale Übertragungsrate von Ziel 13</translation>
    </message>
    <message>
        <source>Synchronous transfer for target 13</source>
        <translation>Synchrone Übertragung für Ziel 13</translation>
    </message>
    <message>
        <source>Wide transfer for target 13</source>
        <translation>Wide-Übertragung für Ziel 13</translation>
    </message>
    <message>
        <source>Disconnect for target 13</source>
        <translation>Disconnect für Ziel 13</translation>
    </message>
    <message>
        <source>Maximum transfer rate of target 14</source>
        <translation>Maximale Übertragungsrate von Ziel 14</translation>
    </message>
    <message>
        <source>Synchronous transfer for target 14</source>
        <translation>Synchrone Übertragung für Ziel 14</translation>
    </message>
    <message>
        <source>Wide transfer for target 14</source>
        <translation>Wide-Übertragung für Ziel 14</translation>
    </message>
    <message>
        <source>Disconnect for target 14</source>
        <translation>Disconnect für Ziel 14</translation>
    </message>
    <message>
        <source>Maximum transfer rate of target 15</source>
        <translation>Maximale Übertragungsrate von Ziel 15</translation>
    </message>
    <message>
        <source>Synchronous transfer for target 15</source>
        <translation>Synchrone Übertragung für Ziel 15</translation>
    </message>
    <message>
        <source>Wide transfer for target 15</source>
        <translation>Wide-Übertragung für Ziel 15</translation>
    </message>
    <message>
        <source>Disconnect for target 15</source>
        <translation>Disconnect für Ziel 15</translation>
    </message>
    <message>
        <source>Versions</source>
        <translation>Versionen</translation>
    </message>
    <message>
        <source>Utility:</source>
        <translation>Programm:</translation>
    </message>
    <message>
        <source>Utility version</source>
        <translation>Version des Programms</translation>
    </message>
    <message>
        <source>Driver extension:</source>
        <translation>Treibererweiterung:</translation>
    </message>
    <message>
        <source>Driver extension version</source>
        <translation>Version der Treibererweiterung</translation>
    </message>
    <message>
        <source>Circuit board:</source>
        <translation>Platine:</translation>
    </message>
    <message>
        <source>Circuit board version</source>
        <translation>Version der Platine</translation>
    </message>
    <message>
        <source>SCSI BIOS:</source>
        <translation>SCSI-BIOS:</translation>
    </message>
    <message>
        <source>SCSI BIOS version</source>
        <translation>Version des SCSI-BIOS</translation>
    </message>
    <message>
        <source>&amp;Default</source>
        <translation>&amp;Standard</translation>
    </message>
    <message>
        <source>Load the card&apos;s factory settings into the form</source>
        <translation>Die Werkseinstellungen der Karte ins Formular laden</translation>
    </message>
    <message>
        <source>&amp;Erase Flash</source>
        <translation>Flash &amp;löschen</translation>
    </message>
    <message>
        <source>Erase the SCSI BIOS in the card&apos;s flash memory</source>
        <translation>Das SCSI-BIOS im Flash-Speicher der Karte löschen</translation>
    </message>
    <message>
        <source>&amp;Write BIOS…</source>
        <translation>BIOS sc&amp;hreiben…</translation>
    </message>
    <message>
        <source>Write a SCSI BIOS image file into the card&apos;s flash memory</source>
        <translation>Eine SCSI-BIOS-Abbilddatei in den Flash-Speicher der Karte schreiben</translation>
    </message>
    <message>
        <source>&amp;OK</source>
        <translation>&amp;OK</translation>
    </message>
    <message>
        <source>&amp;Cancel</source>
        <translation>&amp;Abbrechen</translation>
    </message>
    <message>
        <source>Quit without storing the configuration</source>
        <translation>Beenden, ohne die Konfiguration zu speichern</translation>
    </message>
    <message>
        <source>Administrator Password</source>
        <translation>Administratorpasswort</translation>
    </message>
    <message>
        <source>Enter an administrator&apos;s &amp;password:</source>
        <translation>&amp;Passwort eines Administrators:</translation>
    </message>
    <message>
        <source>Administrator password</source>
        <translation>Administratorpasswort</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
</context>
<context>
    <name>Terminal</name>
    <message>
        <source>arrows</source>
        <translation>Pfeiltasten</translation>
    </message>
    <message>
        <source>Tab/%1 move · Space toggle · Enter open/press · %2 · Esc cancel</source>
        <translation>Tab/%1 wechseln · Leertaste wählt · Eingabe öffnet · %2 · Esc zurück</translation>
    </message>
    <message>
        <source>F10/Ctrl-W close: stores the form on the card · Ctrl-C quit</source>
        <translation>F10/Strg-W schließen: speichert auf der Karte · Strg-C beenden</translation>
    </message>
    <message>
        <source>Cannot list %1: %2</source>
        <translation>%1 kann nicht gelesen werden: %2</translation>
    </message>
    <message>
        <source>No name starts with that</source>
        <translation>Kein Name beginnt so</translation>
    </message>
    <message>
        <source>No such file: %1</source>
        <translation>Datei nicht gefunden: %1</translation>
    </message>
    <message>
        <source>This name is not UTF-8 text and cannot be opened here; rename the file.</source>
        <translation>Dieser Name ist kein UTF-8-Text und kann hier nicht geöffnet werden; Datei umbenennen.</translation>
    </message>
    <message>
        <source>Open</source>
        <translation>Öffnen</translation>
    </message>
    <message>
        <source>Folder: </source>
        <translation>Ordner: </translation>
    </message>
    <message>
        <source>File: </source>
        <translation>Datei: </translation>
    </message>
    <message>
        <source>↑↓ pick · Enter open/choose · Tab complete · Esc cancel</source>
        <translation>↑↓ wählen · Eingabe öffnen/übernehmen · Tab ergänzen · Esc abbrechen</translation>
    </message>
    <message>
        <source>(%1 more)</source>
        <translation>(%1 weitere)</translation>
    </message>
</context>
</TS>
