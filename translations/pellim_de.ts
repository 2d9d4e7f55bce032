<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE" sourcelanguage="en">
<context>
    <name>ActivityWindow</name>
    <message>
        <source>Activity</source>
        <translation>Aktivität</translation>
    </message>
    <message>
        <source>Journal status</source>
        <translation>Zustand des Journals</translation>
    </message>
    <message>
        <source>Activity entries</source>
        <translation>Einträge der Aktivität</translation>
    </message>
    <message>
        <source>What this run of Pellim wrote to the journal, oldest first</source>
        <translation>Was Pellim in diesem Lauf ins Journal geschrieben hat, die ältesten Einträge zuerst</translation>
    </message>
    <message>
        <source>&amp;Clear</source>
        <translation>&amp;Leeren</translation>
    </message>
    <message>
        <source>Empties this view; the journal keeps its entries</source>
        <translation>Leert diese Ansicht; das Journal behält seine Einträge</translation>
    </message>
</context>
<context>
    <name>FolderAccessWindow</name>
    <message>
        <source>Folder Access</source>
        <translation>Ordnerzugriff</translation>
    </message>
    <message>
        <source>The kernel does not guard these folders on this system: Pellim checks access in its own process only, so code running inside Pellim could change these answers.</source>
        <translation>Auf diesem System bewacht der Kernel diese Ordner nicht: Pellim prüft Zugriffe nur in seinem eigenen Prozess, daher könnte Code, der in Pellim läuft, diese Antworten ändern.</translation>
    </message>
    <message>
        <source>Reset All</source>
        <translation>Alle zurücksetzen</translation>
    </message>
    <message>
        <source>Reset &amp;All</source>
        <translation>&amp;Alle zurücksetzen</translation>
    </message>
    <message>
        <source>&amp;Close</source>
        <translation>Schl&amp;ießen</translation>
    </message>
    <message>
        <source>The guard asks before a program reaches into these folders, or changes a place in your home where programs keep settings and code. Your answers, program by program:</source>
        <translation>Der Wächter fragt, bevor ein Programm in diese Ordner greift oder einen Ort in Ihrem persönlichen Ordner ändert, an dem Programme Einstellungen und Code ablegen. Ihre Antworten, Programm für Programm:</translation>
    </message>
    <message>
        <source>Forget every answer of every program, so that each is asked again</source>
        <translation>Alle Antworten aller Programme vergessen, sodass wieder gefragt wird</translation>
    </message>
    <message>
        <source>There is no runtime folder for your session (XDG_RUNTIME_DIR): what other running programs were granted in a dialog cannot be shown.</source>
        <translation>Ihre Sitzung hat keinen Laufzeitordner (XDG_RUNTIME_DIR): Was andere laufende Programme in einem Dialog erhielten, kann nicht gezeigt werden.</translation>
    </message>
</context>
<context>
    <name>HelpWindow</name>
    <message>
        <source>Pellim Help</source>
        <translation>Pellim-Hilfe</translation>
    </message>
</context>
<context>
    <name>QCommandLineParser</name>
    <message>
        <source>Displays help on commandline options.</source>
        <translation>Zeigt Hilfe zu den Kommandozeilenoptionen an.</translation>
    </message>
</context>
<context>
    <name>ViewController</name>
    <message>
        <source>&amp;Protected folder:</source>
        <translation>&amp;Geschützter Ordner:</translation>
    </message>
    <message>
        <source>Protected folder</source>
        <translation>Geschützter Ordner</translation>
    </message>
    <message>
        <source>The folder the two protected-folder tests use. Pick one, or type the full path of any folder, ending in “/”: /home/you/Reports/ is the folder Reports, while /home/you/Reports, without the final “/”, names the folder it is in, /home/you.</source>
        <translation>Der Ordner, den die beiden Tests mit dem geschützten Ordner verwenden. Wählen Sie einen aus, oder geben Sie den vollständigen Pfad eines beliebigen Ordners ein, mit „/“ am Ende: /home/sie/Berichte/ ist der Ordner Berichte, /home/sie/Berichte ohne das abschließende „/“ dagegen bezeichnet den Ordner, in dem er liegt, /home/sie.</translation>
    </message>
    <message>
        <source>The folder the two protected-folder tests use: pick one, or type the full path of a folder, ending in a slash, for example /home/you/Reports/.</source>
        <translation>Der Ordner, den die beiden Tests mit dem geschützten Ordner verwenden: Wählen Sie einen aus, oder geben Sie den vollständigen Pfad eines Ordners ein, mit einem Schrägstrich am Ende, zum Beispiel /home/sie/Berichte/.</translation>
    </message>
    <message>
        <source>Write a test file</source>
        <translation>Eine Testdatei schreiben</translation>
    </message>
    <message>
        <source>Save with a dialog…</source>
        <translation>Mit einem Dialog speichern …</translation>
    </message>
    <message>
        <source>Writes a test file where you choose in a Save dialog.</source>
        <translation>Schreibt eine Testdatei dorthin, wo Sie es in einem Speichern-Dialog wählen.</translation>
    </message>
    <message>
        <source>Save with a dialog</source>
        <translation>Mit einem Dialog speichern</translation>
    </message>
    <message>
        <source>Save into a chosen folder…</source>
        <translation>In einen gewählten Ordner speichern …</translation>
    </message>
    <message>
        <source>Writes a test file into a folder you choose in an Open dialog.</source>
        <translation>Schreibt eine Testdatei in einen Ordner, den Sie in einem Öffnen-Dialog wählen.</translation>
    </message>
    <message>
        <source>Save into a chosen folder</source>
        <translation>In einen gewählten Ordner speichern</translation>
    </message>
    <message>
        <source>Save into the protected folder</source>
        <translation>In den geschützten Ordner speichern</translation>
    </message>
    <message>
        <source>Writes a test file straight into the protected folder, without a dialog.</source>
        <translation>Schreibt eine Testdatei direkt in den geschützten Ordner, ohne Dialog.</translation>
    </message>
    <message>
        <source>Read a text file</source>
        <translation>Eine Textdatei lesen</translation>
    </message>
    <message>
        <source>Open with a dialog…</source>
        <translation>Mit einem Dialog öffnen …</translation>
    </message>
    <message>
        <source>Reads a text file you choose in an Open dialog.</source>
        <translation>Liest eine Textdatei, die Sie in einem Öffnen-Dialog wählen.</translation>
    </message>
    <message>
        <source>Open with a dialog</source>
        <translation>Mit einem Dialog öffnen</translation>
    </message>
    <message>
        <source>Open from the protected folder</source>
        <translation>Aus dem geschützten Ordner öffnen</translation>
    </message>
    <message>
        <source>Reads a text file found in the protected folder, without a dialog.</source>
        <translation>Liest eine Textdatei, die im geschützten Ordner gefunden wird, ohne Dialog.</translation>
    </message>
    <message>
        <source>Open from a chosen folder…</source>
        <translation>Aus einem gewählten Ordner öffnen …</translation>
    </message>
    <message>
        <source>Reads a text file found in a folder you choose in an Open dialog.</source>
        <translation>Liest eine Textdatei aus einem Ordner, den Sie in einem Öffnen-Dialog wählen.</translation>
    </message>
    <message>
        <source>Open from a chosen folder</source>
        <translation>Aus einem gewählten Ordner öffnen</translation>
    </message>
    <message>
        <source>Te&amp;xt:</source>
        <translation>Te&amp;xt:</translation>
    </message>
    <message>
        <source>Text</source>
        <translation>Text</translation>
    </message>
    <message>
        <source>The beginning of the text the last reading test read.</source>
        <translation>Der Anfang des Textes, den der letzte Lesetest gelesen hat.</translation>
    </message>
    <message>
        <source>Fi&amp;le:</source>
        <translation>Dat&amp;ei:</translation>
    </message>
    <message>
        <source>File</source>
        <translation>Datei</translation>
    </message>
    <message>
        <source>The path of the file the last reading test read, or why it could not show one.</source>
        <translation>Der Pfad der Datei, die der letzte Lesetest gelesen hat, oder warum er keine zeigen konnte.</translation>
    </message>
    <message>
        <source>&amp;File</source>
        <translation>&amp;Datei</translation>
    </message>
    <message>
        <source>&amp;Tests</source>
        <translation>&amp;Tests</translation>
    </message>
    <message>
        <source>&amp;Help</source>
        <translation>&amp;Hilfe</translation>
    </message>
    <message>
        <source>&amp;Quit</source>
        <translation>&amp;Beenden</translation>
    </message>
    <message>
        <source>Pellim &amp;Help</source>
        <translation>Pellim-&amp;Hilfe</translation>
    </message>
    <message>
        <source>&amp;About Pellim</source>
        <translation>Ü&amp;ber Pellim</translation>
    </message>
</context>
<context>
    <name>pellim-consent</name>
    <message>
        <source>Shows and changes Pellim&apos;s stored answers to its folder access prompts.</source>
        <translation>Zeigt und ändert Pellims gespeicherte Antworten auf seine Fragen nach Ordnerzugriff.</translation>
    </message>
    <message>
        <source>Answers are stored in $XDG_STATE_HOME/pellim (default ~/.local/state/pellim),
but neither XDG_STATE_HOME nor HOME is set to an absolute path.
</source>
        <translation>Die Antworten werden in $XDG_STATE_HOME/pellim gespeichert (sonst ~/.local/state/pellim),
aber weder XDG_STATE_HOME noch HOME ist ein absoluter Pfad.
</translation>
    </message>
    <message>
        <source>Answers are stored in %1
</source>
        <translation>Die Antworten werden gespeichert in %1
</translation>
    </message>
    <message>
        <source>cannot tell where the answers are stored: neither XDG_STATE_HOME nor HOME is set to an absolute path</source>
        <translation>unklar, wo die Antworten gespeichert sind: weder XDG_STATE_HOME noch HOME ist ein absoluter Pfad</translation>
    </message>
    <message>
        <source>(see pellim-consent --help)</source>
        <translation>(siehe pellim-consent --help)</translation>
    </message>
    <message>
        <source>note: the stored answers are ignored: %1; every folder counts as not decided, and no answer can be stored</source>
        <translation>Hinweis: Die gespeicherten Antworten werden nicht beachtet: %1; jeder Ordner gilt als nicht entschieden, und keine Antwort kann gespeichert werden</translation>
    </message>
    <message>
        <source>note: the stored answers are ignored: %1; every folder counts as not decided until the next change</source>
        <translation>Hinweis: Die gespeicherten Antworten werden nicht beachtet: %1; jeder Ordner gilt bis zur nächsten Änderung als nicht entschieden</translation>
    </message>
    <message>
        <source>(no such folder)</source>
        <translation>(kein solcher Ordner)</translation>
    </message>
    <message>
        <source>%1 (the home folder itself: not guarded)</source>
        <translation>%1 (der persönliche Ordner selbst: nicht bewacht)</translation>
    </message>
    <message>
        <source>no command given</source>
        <translation>kein Befehl angegeben</translation>
    </message>
    <message>
        <source>list takes no folder</source>
        <translation>list nimmt keinen Ordner</translation>
    </message>
    <message>
        <source>unknown command &apos;%1&apos;</source>
        <translation>unbekannter Befehl „%1“</translation>
    </message>
    <message>
        <source>%1 needs a folder: documents, desktop or downloads</source>
        <translation>%1 braucht einen Ordner: documents, desktop oder downloads</translation>
    </message>
    <message>
        <source>too many arguments</source>
        <translation>zu viele Argumente</translation>
    </message>
    <message>
        <source>unknown folder &apos;%1&apos;: use documents, desktop, downloads or all</source>
        <translation>unbekannter Ordner „%1“: documents, desktop, downloads oder all verwenden</translation>
    </message>
    <message>
        <source>unknown folder &apos;%1&apos;: use documents, desktop or downloads</source>
        <translation>unbekannter Ordner „%1“: documents, desktop oder downloads verwenden</translation>
    </message>
    <message>
        <source>%1 (guarded before; release it to stop)</source>
        <translation>%1 (früher geschützt; mit release freigeben)</translation>
    </message>
    <message>
        <source>%1 is the folder the desktop&apos;s settings name now: it stays guarded</source>
        <translation>%1 ist der Ordner, den die Einstellungen der Arbeitsumgebung jetzt nennen: er bleibt geschützt</translation>
    </message>
    <message>
        <source>%1: released</source>
        <translation>%1: freigegeben</translation>
    </message>
    <message>
        <source>release needs the path of one folder</source>
        <translation>release braucht den Pfad eines Ordners</translation>
    </message>
    <message>
        <source>note: the answers file could not be used; it was kept as %1</source>
        <translation>Hinweis: Die Antwortdatei war nicht verwendbar; sie wurde als %1 aufbewahrt</translation>
    </message>
    <message>
        <source>note: %1 holds earlier answers that could not be used; Pellim does not read it</source>
        <translation>Hinweis: %1 enthält frühere Antworten, die nicht verwendbar waren; Pellim liest diese Datei nicht</translation>
    </message>
    <message>
        <source>COMMAND</source>
        <translation>BEFEHL</translation>
    </message>
    <message>
        <source>FOLDER</source>
        <translation>ORDNER</translation>
    </message>
    <message>
        <source>allowed</source>
        <translation>erlaubt</translation>
    </message>
    <message>
        <source>denied</source>
        <translation>verweigert</translation>
    </message>
    <message>
        <source>not decided</source>
        <translation>nicht entschieden</translation>
    </message>
    <message>
        <source>Act on the answers of PROGRAM, a path or a command name as the shell finds it, instead of Pellim&apos;s.</source>
        <translation>Statt der Antworten von Pellim die von PROGRAMM bearbeiten: ein Pfad oder ein Befehlsname, wie die Shell ihn findet.</translation>
    </message>
    <message>
        <source>PROGRAM</source>
        <translation>PROGRAMM</translation>
    </message>
    <message>
        <source>documents, desktop or downloads; with --program, also the path of a place in the home where it keeps settings</source>
        <translation>documents, desktop oder downloads; mit --program auch der Pfad eines Ortes im persönlichen Ordner, an dem es Einstellungen ablegt</translation>
    </message>
    <message>
        <source>no program &apos;%1&apos;: %2</source>
        <translation>kein Programm „%1“: %2</translation>
    </message>
    <message>
        <source>%1 is not a place where programs keep settings: name a hidden entry of the home (~/.npm) or an entry of ~/.config, ~/.local/share, ~/.local/state or ~/.cache (~/.config/git)</source>
        <translation>%1 ist kein Ort, an dem Programme Einstellungen ablegen: Nennen Sie einen versteckten Eintrag des persönlichen Ordners (~/.npm) oder einen Eintrag von ~/.config, ~/.local/share, ~/.local/state oder ~/.cache (~/.config/git)</translation>
    </message>
    <message>
        <source>every answer</source>
        <translation>alle Antworten</translation>
    </message>
    <message>
        <source>%1 needs a folder (documents, desktop or downloads) or the path of a place in the home</source>
        <translation>%1 braucht einen Ordner (documents, desktop oder downloads) oder den Pfad eines Ortes im persönlichen Ordner</translation>
    </message>
    <message>
        <source>Pellim&apos;s settings in the home are read-only, with no answer to change; name another program with --program</source>
        <translation>Pellims Einstellungen im persönlichen Ordner sind schreibgeschützt, ohne Antwort zum Ändern; nennen Sie ein anderes Programm mit --program</translation>
    </message>
    <message>
        <source>%1 stays read-only whatever the answer: it starts programs or decides what the session does</source>
        <translation>%1 bleibt schreibgeschützt, wie auch immer die Antwort lautet: Es startet Programme oder bestimmt, was die Sitzung tut</translation>
    </message>
    <message>
        <source>release takes no --program</source>
        <translation>release nimmt kein --program</translation>
    </message>
    <message>
        <source>list, allow, deny, reset, release or revoke</source>
        <translation>list, allow, deny, reset, release oder revoke</translation>
    </message>
    <message>
        <source>Commands:
  list            show each folder, its path and its stored answer, for
                  Pellim and then every other program with an answer,
                  and what each running program was granted in a dialog
  allow FOLDER    let Pellim reach into FOLDER without asking
  deny FOLDER     refuse Pellim access to FOLDER without asking
  reset FOLDER    forget the answer, so that Pellim asks again
  reset all       forget the answers for every folder
  release PATH    stop guarding a folder that was guarded before and that
                  the desktop&apos;s settings no longer name
  reset --program PROGRAM
                  forget every answer of PROGRAM
  revoke [--program PROGRAM] PATH
                  take back what was chosen as PATH in a dialog of the
                  running PROGRAM (Pellim without --program)

FOLDER is documents, desktop or downloads, in any letter case.
With --program, list, allow, deny and reset act on the answers of a program
run with pellim-guard instead of Pellim&apos;s: PROGRAM is its path or the name
the shell finds it by. Besides a folder they take the path of a place in
the home where it keeps settings, as the guard asks about it:
  pellim-consent deny --program git ~/.gitconfig
Changes count at once, even while Pellim runs. Each change is an entry in
the journal, as in Folder Access: journalctl SUBSYSTEM=org.pellim.FolderGuard

Exit status: 0 done, 1 the answers could not be stored or shown, 2 a usage error.
</source>
        <translation>Befehle:
  list            jeden Ordner zeigen, mit Pfad und gespeicherter Antwort, für
                  Pellim und dann jedes andere Programm mit einer Antwort,
                  und was jedes laufende Programm in einem Dialog erhielt
  allow ORDNER    Pellim ohne Nachfrage in ORDNER lassen
  deny ORDNER     Pellim ohne Nachfrage aus ORDNER fernhalten
  reset ORDNER    die Antwort vergessen, sodass Pellim wieder fragt
  reset all       die Antworten für alle Ordner vergessen
  release PFAD    einen früher geschützten Ordner freigeben, den die
                  Einstellungen der Arbeitsumgebung nicht mehr nennen
  reset --program PROGRAMM
                  alle Antworten von PROGRAMM vergessen
  revoke [--program PROGRAMM] PFAD
                  zurücknehmen, was als PFAD in einem Dialog des laufenden
                  PROGRAMMS gewählt wurde (ohne --program: Pellim)

ORDNER ist documents, desktop oder downloads, in beliebiger Schreibung.
Mit --program bearbeiten list, allow, deny und reset statt der Antworten von
Pellim die eines Programms, das mit pellim-guard läuft: PROGRAMM ist sein Pfad
oder der Name, unter dem die Shell es findet. Neben einem Ordner nehmen sie
den Pfad eines Ortes im persönlichen Ordner, an dem es Einstellungen ablegt,
so wie der Wächter danach fragt:
  pellim-consent deny --program git ~/.gitconfig
Änderungen gelten sofort, auch während Pellim läuft. Jede Änderung ist ein
Eintrag im Journal, wie im Ordnerzugriff: journalctl SUBSYSTEM=org.pellim.FolderGuard

Rückgabewert: 0 erledigt, 1 die Antworten ließen sich nicht speichern oder zeigen, 2 ein Bedienfehler.
</translation>
    </message>
    <message>
        <source>note: there is no runtime folder (XDG_RUNTIME_DIR): what running programs were granted in a dialog is not shown</source>
        <translation>Hinweis: Es gibt keinen Laufzeitordner (XDG_RUNTIME_DIR): Was laufende Programme in einem Dialog erhielten, wird nicht gezeigt</translation>
    </message>
    <message>
        <source>Chosen in a dialog, open until %1 quits: %2</source>
        <translation>In einem Dialog gewählt, offen bis %1 beendet wird: %2</translation>
    </message>
    <message>
        <source>%1: %2: revoked</source>
        <translation>%1: %2: zurückgenommen</translation>
    </message>
    <message>
        <source>%1 holds nothing chosen in a dialog as %2 now</source>
        <translation>%1 hat jetzt nichts, das in einem Dialog als %2 gewählt wurde</translation>
    </message>
    <message>
        <source>revoke needs the path of one item</source>
        <translation>revoke braucht den Pfad eines Eintrags</translation>
    </message>
</context>
<context>
    <name>pellim::ActivityWindow</name>
    <message>
        <source>Error</source>
        <translation>Fehler</translation>
    </message>
    <message>
        <source>Warning</source>
        <translation>Warnung</translation>
    </message>
    <message>
        <source>Notice</source>
        <translation>Hinweis</translation>
    </message>
    <message>
        <source>Info</source>
        <translation>Info</translation>
    </message>
    <message>
        <source>Debug</source>
        <translation>Debug</translation>
    </message>
    <message>
        <source>Folder guard</source>
        <translation>Ordnerwächter</translation>
    </message>
    <message>
        <source>Time</source>
        <translation>Zeit</translation>
    </message>
    <message>
        <source>Level</source>
        <translation>Stufe</translation>
    </message>
    <message>
        <source>Source</source>
        <translation>Quelle</translation>
    </message>
    <message>
        <source>Message</source>
        <translation>Meldung</translation>
    </message>
    <message>
        <source>&amp;Copy</source>
        <translation>&amp;Kopieren</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Schließen</translation>
    </message>
    <message>
        <source>Pellim cannot read the journal because no journal service is running; start it (sudo systemctl start systemd-journald) and choose Window &gt; Activity again, and until then Pellim writes its entries to standard error.</source>
        <translation>Pellim kann das Journal nicht lesen, weil kein Journal-Dienst läuft; starten Sie ihn (sudo systemctl start systemd-journald) und wählen Sie erneut Fenster &gt; Aktivität. Bis dahin schreibt Pellim seine Einträge auf die Standardfehlerausgabe.</translation>
    </message>
    <message>
        <source>Pellim cannot read the journal because you may not read it; add yourself to the systemd-journal group (sudo usermod -aG systemd-journal $USER), log in again and restart Pellim, and until then its entries are still recorded in the journal for those who may read it.</source>
        <translation>Pellim kann das Journal nicht lesen, weil Sie es nicht lesen dürfen; fügen Sie sich der Gruppe systemd-journal hinzu (sudo usermod -aG systemd-journal $USER), melden Sie sich erneut an und starten Sie Pellim neu. Bis dahin werden seine Einträge weiter im Journal aufgezeichnet, für alle, die es lesen dürfen.</translation>
    </message>
    <message>
        <source>Pellim cannot read the journal because the journal service keeps no files here; set Storage=auto or persistent in journald.conf and restart the service, and until then the journal does not keep Pellim&apos;s entries.</source>
        <translation>Pellim kann das Journal nicht lesen, weil der Journal-Dienst hier keine Dateien anlegt; setzen Sie Storage=auto oder persistent in journald.conf und starten Sie den Dienst neu. Bis dahin behält das Journal Pellims Einträge nicht.</translation>
    </message>
    <message>
        <source>Pellim cannot read the journal (%1); check the journal service and choose Window &gt; Activity again, and until then Pellim&apos;s entries still go to the journal.</source>
        <translation>Pellim kann das Journal nicht lesen (%1); prüfen Sie den Journal-Dienst und wählen Sie erneut Fenster &gt; Aktivität. Bis dahin gehen Pellims Einträge weiter ins Journal.</translation>
    </message>
</context>
<context>
    <name>pellim::Alert</name>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
</context>
<context>
    <name>pellim::AppDelegate</name>
    <message>
        <source>nowhere: neither XDG_STATE_HOME nor HOME is set to an absolute path</source>
        <translation>nirgends: weder XDG_STATE_HOME noch HOME ist ein absoluter Pfad</translation>
    </message>
    <message>
        <source>About Pellim</source>
        <translation>Über Pellim</translation>
    </message>
    <message>
        <source>&lt;h3&gt;Pellim %1&lt;/h3&gt;&lt;p&gt;Watch how the system guards your own folders.&lt;/p&gt;</source>
        <translation>&lt;h3&gt;Pellim %1&lt;/h3&gt;&lt;p&gt;Sehen Sie zu, wie das System Ihre eigenen Ordner bewacht.&lt;/p&gt;</translation>
    </message>
    <message>
        <source>&amp;Window</source>
        <translation>&amp;Fenster</translation>
    </message>
    <message>
        <source>&amp;Activity</source>
        <translation>&amp;Aktivität</translation>
    </message>
    <message>
        <source>&amp;Folder Access…</source>
        <translation>&amp;Ordnerzugriff …</translation>
    </message>
    <message>
        <source>&lt;p&gt;Your answers to the folder guard are kept in&lt;br&gt;&lt;tt&gt;%1&lt;/tt&gt;&lt;br&gt;where Pellim itself cannot reach them. Change them in Window › Folder Access… or with &lt;tt&gt;%3&lt;/tt&gt;.&lt;/p&gt;&lt;p&gt;Pellim is free software under the GNU General Public License, version 3 or later. Built with Qt %2.&lt;/p&gt;</source>
        <translation>&lt;p&gt;Ihre Antworten an den Ordnerwächter liegen in&lt;br&gt;&lt;tt&gt;%1&lt;/tt&gt;&lt;br&gt;wo Pellim selbst sie nicht erreicht. Ändern Sie sie unter Fenster › Ordnerzugriff … oder mit &lt;tt&gt;%3&lt;/tt&gt;.&lt;/p&gt;&lt;p&gt;Pellim ist freie Software unter der GNU General Public License, Version 3 oder später. Erstellt mit Qt %2.&lt;/p&gt;</translation>
    </message>
</context>
<context>
    <name>pellim::Application</name>
    <message>
        <source>Folder guard: enforced by the kernel</source>
        <translation>Ordnerwächter: vom Kernel durchgesetzt</translation>
    </message>
    <message>
        <source>Folder guard: checks in Pellim only (%1)</source>
        <translation>Ordnerwächter: prüft nur in Pellim selbst (%1)</translation>
    </message>
    <message>
        <source>The folder guard could not start.</source>
        <translation>Der Ordnerwächter konnte nicht starten.</translation>
    </message>
    <message>
        <source>%1. Pellim cannot reach files without it.</source>
        <translation>%1. Ohne ihn kann Pellim keine Dateien erreichen.</translation>
    </message>
    <message>
        <source>The folder guard stopped.</source>
        <translation>Der Ordnerwächter wurde beendet.</translation>
    </message>
    <message>
        <source>Pellim cannot reach files without its guard, so it quits now.</source>
        <translation>Ohne seinen Wächter kann Pellim keine Dateien erreichen und wird deshalb jetzt beendet.</translation>
    </message>
    <message>
        <source>display X11: any program on this display can answer the prompts and make other programs load its code</source>
        <translation>unter X11 kann jedes Programm auf diesem Bildschirm die Rückfragen beantworten und andere Programme seinen Code laden lassen</translation>
    </message>
    <message>
        <source>display Wayland, whose compositor offers every program %1: any program on this display can answer the prompts</source>
        <translation>unter Wayland, dessen Compositor jedem Programm %1 anbietet, kann jedes Programm auf diesem Bildschirm die Rückfragen beantworten</translation>
    </message>
    <message>
        <source>display Wayland: only the person at the keyboard can answer the prompts</source>
        <translation>unter Wayland kann nur die Person an der Tastatur die Rückfragen beantworten</translation>
    </message>
</context>
<context>
    <name>pellim::CommandLine</name>
    <message>
        <source>Watch how the system guards your own folders: six tests write or read a file in your Documents, Desktop or Downloads folder, by intent or by consent, and every step goes to the systemd journal.</source>
        <translation>Sehen Sie zu, wie das System Ihre eigenen Ordner bewacht: Sechs Tests schreiben oder lesen eine Datei in Ihrem Ordner Dokumente, Schreibtisch oder Downloads, durch Ihre Wahl oder mit Ihrer Zustimmung, und jeder Schritt geht ins systemd-Journal.</translation>
    </message>
    <message>
        <source>Try &apos;pellim --help&apos;.
</source>
        <translation>Siehe „pellim --help“.
</translation>
    </message>
    <message>
        <source>Unexpected argument &apos;%1&apos;.</source>
        <translation>Unerwartetes Argument „%1“.</translation>
    </message>
</context>
<context>
    <name>pellim::ConsentDialog</name>
    <message>
        <source>Pellim: allow folder access?</source>
        <translation>Pellim: Ordnerzugriff erlauben?</translation>
    </message>
    <message>
        <source>&amp;Allow</source>
        <translation>&amp;Erlauben</translation>
    </message>
    <message>
        <source>&amp;Don&apos;t Allow</source>
        <translation>&amp;Nicht erlauben</translation>
    </message>
    <message>
        <source>Allow changes to %1?</source>
        <translation>Änderungen an %1 erlauben?</translation>
    </message>
    <message>
        <source>Allow folder access?</source>
        <translation>Ordnerzugriff erlauben?</translation>
    </message>
</context>
<context>
    <name>pellim::ConsentPrompter</name>
    <message>
        <source>An answer is remembered for the whole folder until it is changed. A file or folder you choose in a file dialog stays granted until Pellim quits, whatever the answer for its folder.</source>
        <translation>Eine Antwort gilt für den ganzen Ordner, bis sie geändert wird. Eine Datei oder ein Ordner, die Sie in einem Dateidialog wählen, bleibt freigegeben, bis Pellim beendet wird, was immer die Antwort für ihren Ordner ist.</translation>
    </message>
    <message>
        <source>Pellim wants to access your %1 folder.</source>
        <translation>Pellim möchte auf Ihren Ordner „%1“ zugreifen.</translation>
    </message>
    <message>
        <source>It is trying to write to this file:</source>
        <translation>Es versucht, in diese Datei zu schreiben:</translation>
    </message>
    <message>
        <source>It is trying to read this file:</source>
        <translation>Es versucht, diese Datei zu lesen:</translation>
    </message>
    <message>
        <source>It is trying to list this folder:</source>
        <translation>Es versucht, den Inhalt dieses Ordners aufzulisten:</translation>
    </message>
    <message>
        <source>%1
%2

%3 To change the answer later, use Folder Access or “%4”.</source>
        <translation>%1
%2

%3 Um die Antwort später zu ändern, verwenden Sie den Ordnerzugriff oder „%4“.</translation>
    </message>
    <message>
        <source>“%1” (%2) wants to change files in your %3 folder.</source>
        <translation>„%1“ (%2) möchte Dateien in Ihrem Ordner „%3“ ändern.</translation>
    </message>
    <message>
        <source>“%1” (%2) wants to read files in your %3 folder.</source>
        <translation>„%1“ (%2) möchte Dateien in Ihrem Ordner „%3“ lesen.</translation>
    </message>
    <message>
        <source>“%1” (%2) wants to see which files are in your %3 folder.</source>
        <translation>„%1“ (%2) möchte sehen, welche Dateien in Ihrem Ordner „%3“ liegen.</translation>
    </message>
    <message>
        <source>“%1” (%2) wants to change %3, where programs keep settings and code that can run later.</source>
        <translation>„%1“ (%2) möchte %3 ändern, wo Programme Einstellungen und Code ablegen, der später ausgeführt werden kann.</translation>
    </message>
    <message>
        <source>It is trying to change:</source>
        <translation>Es versucht, dies zu ändern:</translation>
    </message>
    <message>
        <source>An answer is remembered for this program and %1 until it is changed.</source>
        <translation>Eine Antwort gilt für dieses Programm und %1, bis sie geändert wird.</translation>
    </message>
    <message>
        <source>An answer is remembered for this program and the whole folder until it is changed.</source>
        <translation>Eine Antwort gilt für dieses Programm und den ganzen Ordner, bis sie geändert wird.</translation>
    </message>
</context>
<context>
    <name>pellim::FileDialogs</name>
    <message>
        <source>Select Folder</source>
        <translation>Ordner wählen</translation>
    </message>
    <message>
        <source>Text files (%1)</source>
        <translation>Textdateien (%1)</translation>
    </message>
    <message>
        <source>Pellim: choose a folder to read from</source>
        <translation>Pellim: einen Ordner zum Lesen wählen</translation>
    </message>
    <message>
        <source>Pellim: choose a folder to save into</source>
        <translation>Pellim: einen Ordner zum Speichern wählen</translation>
    </message>
    <message>
        <source>Pellim: choose a text file to read</source>
        <translation>Pellim: eine Textdatei zum Lesen wählen</translation>
    </message>
    <message>
        <source>Pellim: choose where to save the test file</source>
        <translation>Pellim: wählen, wo die Testdatei gespeichert wird</translation>
    </message>
    <message>
        <source>Select File</source>
        <translation>Datei wählen</translation>
    </message>
    <message>
        <source>choose where to save</source>
        <translation>wählen, wo gespeichert wird</translation>
    </message>
    <message>
        <source>choose a folder</source>
        <translation>einen Ordner wählen</translation>
    </message>
    <message>
        <source>choose a file</source>
        <translation>eine Datei wählen</translation>
    </message>
    <message>
        <source>%1: %2</source>
        <translation>%1: %2</translation>
    </message>
    <message>
        <source>Open</source>
        <translation>Öffnen</translation>
    </message>
</context>
<context>
    <name>pellim::FolderAccessWindow</name>
    <message>
        <source>Close</source>
        <translation>Schließen</translation>
    </message>
    <message>
        <source>(no such folder)</source>
        <translation>(kein solcher Ordner)</translation>
    </message>
    <message>
        <source>%1 (the home folder itself: not guarded)</source>
        <translation>%1 (der persönliche Ordner selbst: nicht bewacht)</translation>
    </message>
    <message>
        <source>%1: %2</source>
        <translation>%1: %2</translation>
    </message>
    <message>
        <source>The stored answers are ignored: %1. Every folder counts as not decided, and no answer can be stored.</source>
        <translation>Die gespeicherten Antworten werden nicht beachtet: %1. Jeder Ordner gilt als nicht entschieden, und keine Antwort kann gespeichert werden.</translation>
    </message>
    <message>
        <source>%1 was not changed: %2</source>
        <translation>%1 wurde nicht geändert: %2</translation>
    </message>
    <message>
        <source>The answers were not reset: %1</source>
        <translation>Die Antworten wurden nicht zurückgesetzt: %1</translation>
    </message>
    <message>
        <source>Guarded before, and still guarded though the desktop&apos;s settings no longer name them:</source>
        <translation>Früher geschützt und weiter geschützt, obwohl die Einstellungen der Arbeitsumgebung sie nicht mehr nennen:</translation>
    </message>
    <message>
        <source>Release</source>
        <translation>Freigeben</translation>
    </message>
    <message>
        <source>Release %1</source>
        <translation>%1 freigeben</translation>
    </message>
    <message>
        <source>Stop guarding %1</source>
        <translation>%1 nicht mehr schützen</translation>
    </message>
    <message>
        <source>%1 was not released: %2</source>
        <translation>%1 wurde nicht freigegeben: %2</translation>
    </message>
    <message>
        <source>The folder was chosen in a dialog: it is open until Pellim quits. The stored answer: %1.</source>
        <translation>Der Ordner wurde in einem Dialog gewählt: Er ist offen, bis Pellim beendet wird. Die gespeicherte Antwort: %1.</translation>
    </message>
    <message>
        <source>Chosen in a dialog, open until Pellim quits: %1</source>
        <translation>In einem Dialog gewählt, offen, bis Pellim beendet wird: %1</translation>
    </message>
    <message>
        <source>The stored answers are ignored: %1. Every folder counts as not decided until the next change; before it is stored, the file is kept beside it under a name that says so.</source>
        <translation>Die gespeicherten Antworten werden nicht beachtet: %1. Jeder Ordner gilt bis zur nächsten Änderung als nicht entschieden; bevor sie gespeichert wird, wird die Datei daneben unter einem Namen aufbewahrt, der das sagt.</translation>
    </message>
    <message>
        <source>Earlier answers that could not be used are kept in %1; Pellim does not read that file.</source>
        <translation>Frühere Antworten, die nicht verwendbar waren, sind in %1 aufbewahrt; Pellim liest diese Datei nicht.</translation>
    </message>
    <message>
        <source>The folder was chosen in a dialog: it is open until %2 quits. The stored answer: %1.</source>
        <translation>Der Ordner wurde in einem Dialog gewählt: Er ist offen, bis %2 beendet wird. Die gespeicherte Antwort: %1.</translation>
    </message>
    <message>
        <source>Chosen in a dialog, open until %2 quits: %1</source>
        <translation>In einem Dialog gewählt, offen bis %2 beendet wird: %1</translation>
    </message>
    <message>
        <source>The answers of %1 were not reset: %2</source>
        <translation>Die Antworten von %1 wurden nicht zurückgesetzt: %2</translation>
    </message>
    <message>
        <source>An answer is remembered for the whole folder until it is changed. A file or folder you choose in a file dialog stays granted until %1 quits, whatever the answer for its folder.</source>
        <translation>Eine Antwort gilt für den ganzen Ordner, bis sie geändert wird. Eine Datei oder ein Ordner, die Sie in einem Dateidialog wählen, bleibt freigegeben, bis %1 beendet wird, was immer die Antwort für ihren Ordner ist.</translation>
    </message>
    <message>
        <source>the program has quit</source>
        <translation>das Programm wurde beendet</translation>
    </message>
    <message>
        <source>%1 was not revoked: %2</source>
        <translation>%1 wurde nicht zurückgenommen: %2</translation>
    </message>
</context>
<context>
    <name>pellim::GuardProcess</name>
    <message>
        <source>Pellim&apos;s folder guard: %1</source>
        <translation>Pellims Ordnerwächter: %1</translation>
    </message>
</context>
<context>
    <name>pellim::GuardedFolders</name>
    <message>
        <source>Documents</source>
        <translation>Dokumente</translation>
    </message>
    <message>
        <source>Desktop</source>
        <translation>Schreibtisch</translation>
    </message>
    <message>
        <source>Downloads</source>
        <translation>Downloads</translation>
    </message>
</context>
<context>
    <name>pellim::HelpWindowController</name>
    <message>
        <source>&lt;p&gt;The help text is missing from this build of Pellim.&lt;/p&gt;</source>
        <translation>&lt;p&gt;Der Hilfetext fehlt in diesem Build von Pellim.&lt;/p&gt;</translation>
    </message>
</context>
<context>
    <name>pellim::PortalFileDialogs</name>
    <message>
        <source>Text files</source>
        <translation>Textdateien</translation>
    </message>
</context>
<context>
    <name>pellim::ProgramAnswersView</name>
    <message>
        <source>&amp;Documents</source>
        <translation>&amp;Dokumente</translation>
    </message>
    <message>
        <source>D&amp;esktop</source>
        <translation>&amp;Schreibtisch</translation>
    </message>
    <message>
        <source>Do&amp;wnloads</source>
        <translation>Do&amp;wnloads</translation>
    </message>
    <message>
        <source>Allowed</source>
        <translation>Erlaubt</translation>
    </message>
    <message>
        <source>Denied</source>
        <translation>Verweigert</translation>
    </message>
    <message>
        <source>Not decided</source>
        <translation>Nicht entschieden</translation>
    </message>
    <message>
        <source>Reset Program</source>
        <translation>Programm zurücksetzen</translation>
    </message>
    <message>
        <source>Reset every answer of %1</source>
        <translation>Alle Antworten von %1 zurücksetzen</translation>
    </message>
    <message>
        <source>Forget every answer of %1, so that it is asked again</source>
        <translation>Alle Antworten von %1 vergessen, sodass wieder gefragt wird</translation>
    </message>
    <message>
        <source>Allow %1</source>
        <translation>%1 erlauben</translation>
    </message>
    <message>
        <source>Deny %1</source>
        <translation>%1 verweigern</translation>
    </message>
    <message>
        <source>Reset %1</source>
        <translation>%1 zurücksetzen</translation>
    </message>
    <message>
        <source>Let Pellim into %1 without asking</source>
        <translation>Pellim ohne Nachfrage in %1 lassen</translation>
    </message>
    <message>
        <source>Let %2 into %1 without asking</source>
        <translation>%2 ohne Nachfrage in %1 lassen</translation>
    </message>
    <message>
        <source>Keep Pellim out of %1 without asking</source>
        <translation>Pellim ohne Nachfrage aus %1 fernhalten</translation>
    </message>
    <message>
        <source>Keep %2 out of %1 without asking</source>
        <translation>%2 ohne Nachfrage aus %1 fernhalten</translation>
    </message>
    <message>
        <source>Forget the answer for %1, so that Pellim asks again</source>
        <translation>Die Antwort für %1 vergessen, sodass Pellim wieder fragt</translation>
    </message>
    <message>
        <source>Forget the answer for %1, so that %2 is asked again</source>
        <translation>Die Antwort für %1 vergessen, sodass für %2 wieder gefragt wird</translation>
    </message>
    <message>
        <source>%1 for %2</source>
        <translation>%1 für %2</translation>
    </message>
    <message>
        <source>Allow</source>
        <translation>Erlauben</translation>
    </message>
    <message>
        <source>Deny</source>
        <translation>Verweigern</translation>
    </message>
    <message>
        <source>Reset</source>
        <translation>Zurücksetzen</translation>
    </message>
    <message>
        <source>Open</source>
        <translation>Offen</translation>
    </message>
    <message>
        <source>%1: %2</source>
        <translation>%1: %2</translation>
    </message>
    <message>
        <source>%1: where programs keep settings and code that can run later</source>
        <translation>%1: wo Programme Einstellungen und Code ablegen, der später laufen kann</translation>
    </message>
    <message>
        <source>Allow %1 for %2</source>
        <translation>%1 für %2 erlauben</translation>
    </message>
    <message>
        <source>Deny %1 for %2</source>
        <translation>%1 für %2 verweigern</translation>
    </message>
    <message>
        <source>Reset %1 for %2</source>
        <translation>%1 für %2 zurücksetzen</translation>
    </message>
    <message>
        <source>Let %2 change %1 without asking</source>
        <translation>%2 ohne Nachfrage %1 ändern lassen</translation>
    </message>
    <message>
        <source>Keep %2 from changing %1 without asking</source>
        <translation>%2 ohne Nachfrage daran hindern, %1 zu ändern</translation>
    </message>
    <message>
        <source>Chosen in a dialog, open until %1 quits:</source>
        <translation>In einem Dialog gewählt, offen bis %1 beendet wird:</translation>
    </message>
    <message>
        <source>%1 (the folder and all in it)</source>
        <translation>%1 (der Ordner und alles darin)</translation>
    </message>
    <message>
        <source>Revoke</source>
        <translation>Zurücknehmen</translation>
    </message>
    <message>
        <source>Revoke %1 for %2</source>
        <translation>%1 für %2 zurücknehmen</translation>
    </message>
    <message>
        <source>Take %1 back from %2: what it opens there next is decided by the answer for its folder</source>
        <translation>%1 von %2 zurücknehmen: Was es dort als Nächstes öffnet, entscheidet die Antwort für seinen Ordner</translation>
    </message>
</context>
<context>
    <name>pellim::ViewController</name>
    <message>
        <source>A folder&apos;s full path, ending in “/”: /home/you/Reports/</source>
        <translation>Vollständiger Pfad eines Ordners, mit „/“ am Ende: /home/sie/Berichte/</translation>
    </message>
    <message>
        <source>[Couldn&apos;t get contents of %1 folder]</source>
        <translation>[Inhalt des Ordners %1 nicht erhalten]</translation>
    </message>
    <message>
        <source>Couldn&apos;t get text for %1</source>
        <translation>Kein Text erhalten für %1</translation>
    </message>
    <message>
        <source>[Couldn&apos;t get contents of folder]</source>
        <translation>[Inhalt des Ordners nicht erhalten]</translation>
    </message>
    <message>
        <source>[No files found]</source>
        <translation>[Keine Dateien gefunden]</translation>
    </message>
    <message>
        <source>[Couldn&apos;t find text file]</source>
        <translation>[Keine Textdatei gefunden]</translation>
    </message>
    <message>
        <source>[empty]</source>
        <translation>[leer]</translation>
    </message>
    <message>
        <source>[no filename]</source>
        <translation>[kein Dateiname]</translation>
    </message>
    <message>
        <source>Couldn&apos;t save file to path</source>
        <translation>Datei konnte nicht unter diesem Pfad gespeichert werden</translation>
    </message>
    <message>
        <source>No folder is selected in the folder list.</source>
        <translation>In der Ordnerliste ist kein Ordner gewählt.</translation>
    </message>
</context>
</TS>
