// The program's string tables, English (1033) and German (1031), by id.
// On Windows the same texts are also compiled into string-table resources.

#include "core/StringTable.h"

namespace ordana {

namespace {

struct StringRow {
  std::uint32_t id;
  const char16_t* english;
  const char16_t* german;
};

// Sorted by id.
const StringRow kStrings[] = {
    {102, u"Usage: ordana <input file(s)> [options] [output]\r\n\r\n",
     u"Verwendung: ordana <Quelldatei(en)> [Optionen] [Ausgabe]\r\n\r\n"},
    {104, u"Character set: %s => %s\r\n", u"Zeichensatz: %s => %s\r\n"},
    {105, u"Options:\r\n", u"Optionen:\r\n"},
    {106, u"/i <charset>\tSet source character set, default is AUTO\r\n",
     u"/i <Zeichens.>\tQuell-Zeichensatz festlegen, Standard ist AUTO\r\n"},
    {107, u"Required time: %s", u"Benötigte Zeit: %s"},
    {109, u"Unknown destination character set %d\r\n", u"Unbekannter Ziel-Zeichensatz %d\r\n"},
    {110, u"Do you really want to convert all files in \"%s\" (Y/N)? ",
     u"Sollen wirklich alle Dateien in \"%s\" konvertiert werden (J/N)? "},
    {111, u"Do you really want \"%s\" to be a destination for multiple input files (Y/N)? ",
     u"Soll \"%s\" wirklich als Zielort für mehrere Eingabedateien verwendet werden (J/N)? "},
    {112, u"Output may not be a file for multiple input.\r\n",
     u"Ausgabe darf keine Datei sein für mehrere Eingabedateien.\r\n"},
    {113, u"Directory as input is invalid.\r\n", u"Verzeichnis als Eingabe ist ungültig.\r\n"},
    {114, u"/o <charset>\tSet destination character set, default is UTF-16\r\n",
     u"/o <Zeichens.>\tZiel-Zeichensatz festlegen, Standard ist UTF-16\r\n"},
    {115, u"/output=file\tSet output filename, default is in place conversion\r\n",
     u"/output=ziel\tAusgabedatei/Verzeichnis festlegen, Standard ist Ersetzen\r\n"},
    {116, u"/eol <mode>\tEnd of line character mode (mac, unix or dos)\r\n",
     u"/eol <Modus>\tModus für Zeilenende-Zeichen (mac, unix oder dos)\r\n"},
    {117, u"/listall\tList all supported character sets including alias names\r\n",
     u"/listall\tAuflistung aller unterstützten Zeichensätze inkl. Aliasnamen\r\n"},
    {118, u"/log\t\tWrite error messages into ordana.log\r\n",
     u"/log\t\tProtokolliert Fehlermeldungen in ordana.log\r\n"},
    {119, u"/logto <file>\tWrite error messages into specified log file\r\n",
     u"/logto <Datei>\tProtokolliert Fehlermeldungen in der angegebenen Datei\r\n"},
    {120, u"/nobom\t\tDo never write BOM at the beginning of the file where applicable\r\n",
     u"/nobom\t\tAm Dateianfang wo zutreffend keinen BOM schreiben\r\n"},
    {122, u"/s\t\tDon't produces any output or ask for input (except log file)\r\n",
     u"/s\t\tKeinerlei Ausgaben erzeugen (außer Protokolldatei)\r\n"},
    {123, u"/xml\t\tModification of the XML \"encoding\" attribute in XML PI\r\n",
     u"/xml\t\tAnpassen des XML \"encoding\" Attributes in der XML PI\r\n"},
    {124, u"/y-\t\tDefault answer is \"no\" for all prompts\r\n",
     u"/y-\t\tStandardantwort ist \"nein\" für alle Fragen\r\n"},
    {125, u"\r\nExamples:\r\n\r\n", u"\r\nBeispiele:\r\n\r\n"},
    {126, u"ordana.exe my.txt /i iso8859-1 /o utf-8\r\n",
     u"ordana.exe mein.txt /i iso8859-1 /o utf-8\r\n"},
    {127, u"Conversion of my.txt from iso-8859-1 to utf-8.\r\n\r\n",
     u"Konvertierung der Datei mein.txt von iso-8859-1 nach utf-8.\r\n\r\n"},
    {128, u"ordana.exe *.txt\r\n", u"ordana.exe *.txt\r\n"},
    {129, u"Conversion of all text files in current directory.\r\n\r\n",
     u"Konvertierung aller Textdateien im aktuellen Verzeichnis.\r\n\r\n"},
    {130, u"ordana.exe d:\\*.txt c:\\output\r\n", u"ordana.exe d:\\*.txt c:\\ausgabe\r\n"},
    {131, u"Conversion of all text files in d:\\ and writing to directory c:\\output.\r\n\r\n",
     u"Konvertierung aller Textdateien in d:\\ und speichern in c:\\ausgabe.\r\n\r\n"},
    {132, u"ordana.exe d:\\*.txt testall.txt\r\n", u"ordana.exe d:\\*.txt testall.txt\r\n"},
    {133,
     u"Conversion of all text files in d:\\ and writing multiple input in test.txt by appending "
     u"each converted input file.\r\n\r\n",
     u"Konvertierung aller Textdateien in d:\\ und speichern mehrerer Eingabedateien in test.txt "
     u"in dem jede konvertierte Eingabedatei angehängt wird.\r\n\r\n"},
    {136, u"/html\t\tModification of the HTML meta \"charset\" attribute\r\n",
     u"/html\t\tAnpassen des HTML meta \"charset\" Attributes\r\n"},
    {144, u"Output error for %s: %s\r\n", u"Ausgabefehler für %s: %s\r\n"},
    {145, u"Input error for %s: %s\r\n", u"Eingabefehler für %s: %s\r\n"},
    {146, u"There was an error in filter chain. Not all filters could be applied correctly.\r\n",
     u"Es gab ein Fehler bei der Verarbeitung der Filterkette. Nuicht alle Filter konnten "
     u"angewendet werden.\r\n"},
    {148, u"Error: Path \"%s\" could not be found!\r\n",
     u"Fehler: Der Dateipfad \"%s\" konnte nicht gefunden werden!\r\n"},
    {149,
     u"/r\t\tProcesses the content of all sub directories as well if source is a directory\r\n",
     u"/r\t\tUnterverzeichnisse bei der Konvertierung mit einbeziehen\r\n"},
    {150, u"%d files were processed.\r\n", u"Es wurden %d Dateien verarbeitet.\r\n"},
    {151, u"/htmlentity <x>\tEncoding (enc) or decoding (dec) of HTML Entities\r\n",
     u"/htmlentity <x>\tHTML Entities kodieren (enc) oder dekodieren (dec)\r\n"},
    {152, u"1 file was processed.\r\n", u"Es wurde 1 Datei verarbeitet.\r\n"},
    {153, u"ordana.exe \\\\.\\CONIN$ destination.txt\r\n",
     u"ordana.exe \\\\.\\CONIN$ ziel.txt\r\n"},
    {154,
     u"Reads data from input buffer and writes converted data to \"destination.txt\". For more "
     u"information refer manual.\r\n\r\n",
     u"Liest Daten aus dem Eingabepuffer und schreibt die konvertierten Daten in \"ziel.txt\". "
     u"Weitere Informationen siehe Handbuch.\r\n\r\n"},
    {155, u"ordana.exe source.txt \\\\.\\CONOUT$\r\n", u"ordana.exe quelle.txt \\\\.\\CONOUT$\r\n"},
    {156,
     u"Reads data from \"source.txt\" and writes converted data to output buffer (console "
     u"window).\r\n\r\n",
     u"Liest Daten aus \"quelle.txt\" und schreibt diese in den Ausgabepuffer "
     u"(Konsolenfenster).\r\n\r\n"},
    {157, u"ordana.exe source.txt \\\\.\\pipe\\mypipe\r\n",
     u"ordana.exe quelle.txt \\\\.\\pipe\\mypipe\r\n"},
    {158,
     u"Reads data from \"source.txt\" and writes converted data to the pipe "
     u"\"\\\\.\\pipe\\mypipe\".\r\n\r\n",
     u"Liest Daten aus \"quelle.txt\" und schreibt die konvertierten Daten in die Pipe "
     u"\"\\\\.\\pipe\\mypipe\".\r\n\r\n"},
    {159, u"\r\nFilter specific switches\r\n\r\n", u"\r\nFilterspezifische Schalter\r\n\r\n"},
    {160, u"\r\nGeneral switches\r\n\r\n", u"\r\nAllgemeine Schalter\r\n\r\n"},
    {161, u"/policy <p>\tBehaviour in case of malformed codes (strict, loose)\r\n",
     u"/policy <p>\tVerhalten beim Erkennen fehlerhafter Zeichen (strict, loose)\r\n"},
    {162, u"/csv <file>\tCreates a csv file with conversion status information",
     u"/csv <Datei>\tCSV-Datei erstellen mit Statusinformationen der Konvertierung"},
    // POSIX only: the shell expands patterns unless they are quoted.
    {200,
     u"On Linux, put wildcard patterns in quotes so that ordana expands them, not the "
     u"shell:\r\nordana '*.txt' /o utf-8\r\n\r\n",
     u"Unter Linux Platzhalter in Anführungszeichen setzen, damit ordana sie auswertet und nicht "
     u"die Shell:\r\nordana '*.txt' /o utf-8\r\n\r\n"},
    {201,
     u"Error: %d paths were given, but only an input and an output are possible. Was a wildcard "
     u"pattern expanded by the shell? Put it in quotes, for example '*.txt'.\r\n",
     u"Fehler: Es wurden %d Pfade angegeben, möglich sind nur eine Eingabe und eine Ausgabe. Wurde "
     u"ein Platzhalter von der Shell ausgewertet? Bitte in Anführungszeichen setzen, z.B. "
     u"'*.txt'.\r\n"},
    // Inputs and outputs that fail (exit code 4).
    {210, u"Input error for %s: the file changed while it was converted. It was left as it is.\r\n",
     u"Eingabefehler für %s: Die Datei wurde während der Konvertierung verändert. Sie bleibt "
     u"unverändert.\r\n"},
    {211, u"Input error for %s: only %I64u of %I64u bytes could be read. It was left as it is.\r\n",
     u"Eingabefehler für %s: Nur %I64u von %I64u Bytes konnten gelesen werden. Die Datei bleibt "
     u"unverändert.\r\n"},
    {212,
     u"Input error for %s: the file was deleted while it was converted; it is not created "
     u"again.\r\n",
     u"Eingabefehler für %s: Die Datei wurde während der Konvertierung gelöscht; sie wird nicht "
     u"neu angelegt.\r\n"},
    {213,
     u"Output error for %s: the file, its directory or the temporary file was replaced by someone "
     u"else during the conversion. Nothing was changed.\r\n",
     u"Ausgabefehler für %s: Die Datei, ihr Verzeichnis oder die temporäre Datei wurde während der "
     u"Konvertierung von anderer Seite ersetzt. Es wurde nichts geändert.\r\n"},
    {214,
     u"Input error for %s: not a regular file (a link, FIFO, socket or device); it is not "
     u"converted in place.\r\n",
     u"Eingabefehler für %s: Keine reguläre Datei (eine Verknüpfung, FIFO, Socket oder ein Gerät); "
     u"sie wird nicht an Ort und Stelle konvertiert.\r\n"},
    {215, u"%d inputs failed.\r\n", u"%d Eingaben sind fehlgeschlagen.\r\n"},
    {216, u"1 input failed.\r\n", u"1 Eingabe ist fehlgeschlagen.\r\n"},
    {217,
     u"\r\nExit codes: 0 done, 1 unknown source character set, 2 unknown destination character "
     u"set, 3 unusable command line, 4 one or more inputs failed, 5 directory as input declined, 6 "
     u"one output for several inputs declined, 8 out of memory.\r\n",
     u"\r\nRückgabewerte: 0 erledigt, 1 unbekannter Quell-Zeichensatz, 2 unbekannter "
     u"Ziel-Zeichensatz, 3 unbrauchbare Befehlszeile, 4 eine oder mehrere Eingaben fehlgeschlagen, "
     u"5 Verzeichnis als Eingabe abgelehnt, 6 eine Ausgabe für mehrere Eingaben abgelehnt, 8 "
     u"Speichermangel.\r\n"},
    {240, u"Skipped %s: not a regular file (a device, FIFO or socket).\r\n",
     u"Übersprungen: %s ist keine reguläre Datei (ein Gerät, eine FIFO oder ein Socket).\r\n"},
    {241, u"Skipped %s: it is the log file or the CSV report of this run.\r\n",
     u"Übersprungen: %s ist die Protokolldatei oder der CSV-Bericht dieses Laufs.\r\n"},
    {242, u"Skipped %s: a temporary file of an in-place conversion.\r\n",
     u"Übersprungen: %s ist eine temporäre Datei einer Konvertierung an Ort und Stelle.\r\n"},
    {243, u"Skipped %s: a directory this run created.\r\n",
     u"Übersprungen: %s ist ein Verzeichnis, das dieser Lauf angelegt hat.\r\n"},
    {244, u"Skipped %s: %s, not text (/binary converts it anyway).\r\n",
     u"Übersprungen: %s ist %s, kein Text (/binary konvertiert sie trotzdem).\r\n"},
    {245, u"Skipped %s: a version control directory.\r\n",
     u"Übersprungen: %s ist ein Verzeichnis der Versionsverwaltung.\r\n"},
    {246,
     u"Skipped %s: a symbolic link that is not yours or leads to a file that is not yours "
     u"(/followlinks follows it).\r\n",
     u"Übersprungen: %s ist ein symbolischer Link, der nicht Ihnen gehört oder auf eine Datei "
     u"zeigt, die nicht Ihnen gehört (/followlinks folgt ihm).\r\n"},
    {248, u"/binary\t\tConvert files that look binary in pattern and directory runs too\r\n",
     u"/binary\t\tAuch binär wirkende Dateien bei Mustern und Verzeichnissen konvertieren\r\n"},
    {249, u"/followlinks\tFollow symbolic links of other users in pattern and directory runs\r\n",
     u"/followlinks\tSymbolischen Links anderer Benutzer bei Mustern und Verzeichnissen "
     u"folgen\r\n"},
    {250,
     u"Error: nobody reads the converted text any more (%s is a closed pipe); the run stops.\r\n",
     u"Fehler: Niemand liest die konvertierten Daten mehr (%s ist eine geschlossene Pipe); der "
     u"Lauf endet.\r\n"},
    {253, u"a file with NUL bytes", u"eine Datei mit NUL-Bytes"},
    {254, u"an executable program", u"ein ausführbares Programm"},
    {255, u"an image", u"ein Bild"},
    {256, u"an archive or compressed file", u"ein Archiv oder eine komprimierte Datei"},
    {257, u"a PDF document", u"ein PDF-Dokument"},
    // The codecs: malformed and incomplete input.
    {270, u"UTF-8: The input ends inside a %u byte sequence that starts at %I64u\r\n",
     u"UTF-8: Die Eingabe endet innerhalb einer %u-Byte-Sequenz, die bei %I64u beginnt\r\n"},
    {271,
     u"UTF-16: The last byte %02x at %I64u is half a code unit and was replaced with U+FFFD\r\n",
     u"UTF-16: Das letzte Byte %02x bei %I64u ist eine halbe Code-Einheit und wurde durch U+FFFD "
     u"ersetzt\r\n"},
    {272, u"UTF-32: The value %08x at %I64u is beyond U+10FFFF and was replaced with U+FFFD\r\n",
     u"UTF-32: Der Wert %08x bei %I64u liegt jenseits von U+10FFFF und wurde durch U+FFFD "
     u"ersetzt\r\n"},
    {273,
     u"UTF-32: The last %u bytes at %I64u are no whole code unit and were replaced with U+FFFD\r\n",
     u"UTF-32: Die letzten %u Bytes bei %I64u sind keine ganze Code-Einheit und wurden durch "
     u"U+FFFD ersetzt\r\n"},
    {274, u"%s (STRICT): Invalid surrogate U+%04x at %I64u replaced with U+FFFD\r\n",
     u"%s (STRICT): Ungültiges Surrogat U+%04x bei %I64u durch U+FFFD ersetzt\r\n"},
    {275, u"%s (LOOSE): Invalid surrogate U+%04x at %I64u passed on unchanged\r\n",
     u"%s (LOOSE): Ungültiges Surrogat U+%04x bei %I64u unverändert weitergegeben\r\n"},
    {276, u"%s: The last byte %02x at %I64u is half a UTF-16 code unit and was replaced\r\n",
     u"%s: Das letzte Byte %02x bei %I64u ist eine halbe UTF-16-Code-Einheit und wurde "
     u"ersetzt\r\n"},
    // The automatic detection and its statistics files.
    {300,
     u"The status channel %s belongs to another user or can be opened by others; conversions are "
     u"not published\r\n",
     u"Der Statuskanal %s gehört einem anderen Benutzer oder ist für andere zugänglich; "
     u"Konvertierungen werden nicht veröffentlicht\r\n"},
    {331, u"Statistics file %s is not a regular file; skipped\r\n",
     u"Statistikdatei %s ist keine gewöhnliche Datei; übergangen\r\n"},
    {332, u"Statistics file %s is larger than %u bytes; skipped\r\n",
     u"Statistikdatei %s ist größer als %u Bytes; übergangen\r\n"},
    {333, u"Statistics file %s holds a weight that is not a number between -%u and %u; skipped\r\n",
     u"Statistikdatei %s enthält ein Gewicht, das keine Zahl zwischen -%u und %u ist; "
     u"übergangen\r\n"},
    {334, u"Statistics file %s names character set %u, which is not a single-byte set; skipped\r\n",
     u"Statistikdatei %s nennt den Zeichensatz %u, der kein Ein-Byte-Zeichensatz ist; "
     u"übergangen\r\n"},
    {335, u"Statistics file %s cannot be read (%s); skipped\r\n",
     u"Statistikdatei %s kann nicht gelesen werden (%s); übergangen\r\n"},
    {336, u"No byte of the text tells the single-byte sets apart\r\n",
     u"Kein Byte des Textes unterscheidet die Ein-Byte-Zeichensätze\r\n"},
    {337, u"%s leads by only %.3f points; %s is kept\r\n",
     u"%s liegt nur %.3f Punkte vorn; %s bleibt\r\n"},
    {338, u"%s reads bytes of the text as undefined or as control characters; %s is taken\r\n",
     u"%s liest Bytes des Textes als undefiniert oder als Steuerzeichen; %s wird genommen\r\n"},
    {339, u"Runner-up: %s (%.4S), %.3f points behind\r\n",
     u"Zweitbester: %s (%.4S), %.3f Punkte dahinter\r\n"},
    {360, u"Error: unknown option %s\r\n", u"Fehler: unbekannte Option %s\r\n"},
    {361, u"Error: the option %s needs a value\r\n",
     u"Fehler: die Option %s braucht einen Wert\r\n"},
    {362,
     u"\"ordana /?\" lists the options. A new file whose name starts with / is written as its full "
     u"path, for example /tmp/out.txt, or as ./name.\r\n",
     u"\"ordana /?\" zeigt die Optionen. Eine neue Datei, deren Name mit / beginnt, wird mit "
     u"vollem Pfad angegeben, zum Beispiel /tmp/out.txt, oder als ./Name.\r\n"},
    {363, u"Error: an empty argument names no file; nothing was converted\r\n",
     u"Fehler: Ein leeres Argument benennt keine Datei; nichts wurde konvertiert\r\n"},
    {364, u"Error: more than %d arguments were given; nothing was converted\r\n",
     u"Fehler: Mehr als %d Argumente wurden angegeben; nichts wurde konvertiert\r\n"},
    {365, u"Error: unknown source character set \"%s\"; nothing was converted\r\n",
     u"Fehler: unbekannter Quell-Zeichensatz \"%s\"; nichts wurde konvertiert\r\n"},
    {366, u"Error: unknown destination character set \"%s\"; nothing was converted\r\n",
     u"Fehler: unbekannter Ziel-Zeichensatz \"%s\"; nichts wurde konvertiert\r\n"},
    {367, u"Known names close to it: %s\r\n", u"Ähnliche bekannte Namen: %s\r\n"},
    {368, u"\"ordana /listall\" lists every known name.\r\n",
     u"\"ordana /listall\" zeigt alle bekannten Namen.\r\n"},
    {369,
     u"Error: \"%s\" can only be read (as ISO-8859-1, whose first 128 characters are ASCII); as "
     u"the destination give ISO-8859-1, Windows-1252 or UTF-8\r\n",
     u"Fehler: \"%s\" kann nur gelesen werden (als ISO-8859-1, dessen erste 128 Zeichen ASCII "
     u"sind); als Ziel bitte ISO-8859-1, Windows-1252 oder UTF-8 angeben\r\n"},
    {370, u"Error: the log file \"%s\" is also the input or the output; nothing was converted\r\n",
     u"Fehler: Die Protokolldatei \"%s\" ist zugleich Eingabe oder Ausgabe; nichts wurde "
     u"konvertiert\r\n"},
    {371,
     u"Error: the CSV report \"%s\" is also the input, the output or the log file; nothing was "
     u"converted\r\n",
     u"Fehler: Der CSV-Bericht \"%s\" ist zugleich Eingabe, Ausgabe oder Protokolldatei; nichts "
     u"wurde konvertiert\r\n"},
    {372,
     u"Try \"ordana --help\". A file whose name starts with - or / is given as ./name, by its full "
     u"path, or after --.\r\n",
     u"Siehe \"ordana --help\". Eine Datei, deren Name mit - oder / beginnt, wird als ./Name, mit "
     u"vollem Pfad oder nach -- angegeben.\r\n"},
    {390,
     u"No statistics files (*.dat) were found in %s: single-byte text cannot be told apart and is "
     u"read as ISO-8859-15 unless /i names its character set\r\n",
     u"Keine Statistikdateien (*.dat) gefunden in %s: Text in Einzelbyte-Zeichensätzen kann nicht "
     u"unterschieden werden und wird als ISO-8859-15 gelesen, außer /i nennt den Zeichensatz\r\n"},
    {391, u"Using the statistics files in %s\r\n",
     u"Verwendet werden die Statistikdateien in %s\r\n"},
    {400, u"\r\nNo answer: the input has ended. Taking the answer no.\r\n",
     u"\r\nKeine Antwort: Die Eingabe ist zu Ende. Die Antwort ist nein.\r\n"},
    {401, u"\r\nNo valid answer from an input that is not a terminal. Taking the answer no.\r\n",
     u"\r\nKeine gültige Antwort von einer Eingabe, die kein Terminal ist. Die Antwort ist "
     u"nein.\r\n"},
    {402,
     u"Error: %s is a Windows pipe name, which means nothing on this system; nothing was "
     u"converted. Use a FIFO (mkfifo /tmp/mypipe, then /tmp/mypipe) or - for standard input and "
     u"output instead.\r\n",
     u"Fehler: %s ist ein Windows-Pipe-Name, der auf diesem System nichts bedeutet; nichts wurde "
     u"konvertiert. Stattdessen eine FIFO (mkfifo /tmp/mypipe, dann /tmp/mypipe) oder - für "
     u"Standardeingabe und -ausgabe verwenden.\r\n"},
    {403, u"Error: %s is too long (at most %u characters): %s\r\n",
     u"Fehler: %s ist zu lang (höchstens %u Zeichen): %s\r\n"},
    {404, u"The path", u"Der Pfad"},
    {405, u"The source character set name", u"Der Name des Quell-Zeichensatzes"},
    {406, u"The destination character set name", u"Der Name des Ziel-Zeichensatzes"},
    {407, u"The output path", u"Der Ausgabepfad"},
    {408, u"The log file name", u"Der Name der Protokolldatei"},
    {409, u"The CSV report name", u"Der Name des CSV-Berichts"},
    {410, u"The input path", u"Der Eingabepfad"},
    {411, u"Memory allocation error in %S:%d\r\n",
     u"Fehler bei der Speicherzuweisung in %S:%d\r\n"},
    {412, u"Skipped %s: it is the output file.\r\n", u"Übersprungen: %s ist die Ausgabedatei.\r\n"},
    {413, u"Error: FindFirstFile failed: %s\r\n",
     u"Fehler: FindFirstFile ist fehlgeschlagen: %s\r\n"},
    {414, u"Log file can not be created: %s\r\n",
     u"Protokolldatei kann nicht angelegt werden: %s\r\n"},
    {415, u"Filter \"%s\" could not take %u more bytes; they were dropped.\r\n",
     u"Filter \"%s\" konnte %u weitere Bytes nicht aufnehmen; sie wurden verworfen.\r\n"},
    {416,
     u"Error: with --files-from the inputs come from the list; give at most one path, the output; "
     u"nothing was converted\r\n",
     u"Fehler: Mit --files-from kommen die Eingaben aus der Liste; höchstens ein Pfad, die "
     u"Ausgabe, ist möglich; nichts wurde konvertiert\r\n"},
    {417, u"Error: the list of inputs %s cannot be read: %s\r\n",
     u"Fehler: Die Liste der Eingaben %s kann nicht gelesen werden: %s\r\n"},
    // Detection-only runs: the lines of /? for /detect and /verbose.
    {420,
     u"/detect\t\tName the character set of each input, convert nothing\r\n/verbose\tWith /detect: "
     u"how it was decided, the runners-up and their scores\r\n",
     u"/detect\t\tZeichensatz jeder Eingabe nennen, nichts konvertieren\r\n/verbose\tMit /detect: "
     u"wie entschieden wurde, die Nächstbesten und ihre Punkte\r\n"},
    // Details of a conversion (level 2) and the filter trace (level 5).
    {421, u"Input: %s, Output: %s\r\n", u"Eingabe: %s, Ausgabe: %s\r\n"},
    {422, u"File opened, Size: %u Bytes\r\n", u"Datei geöffnet, Größe: %u Bytes\r\n"},
    {423, u"The output is the input itself; converting in place: %s\r\n",
     u"Die Ausgabe ist die Eingabe selbst; Konvertierung an Ort und Stelle: %s\r\n"},
    {424,
     u"No free record in the status channel %s within %u ms; this conversion is not published\r\n",
     u"Kein freier Eintrag im Statuskanal %s innerhalb von %u ms; diese Konvertierung wird nicht "
     u"veröffentlicht\r\n"},
    {425,
     u"The mutex of the status channel %s was not released within %u ms; this conversion is not "
     u"published\r\n",
     u"Der Mutex des Statuskanals %s wurde nicht innerhalb von %u ms freigegeben; diese "
     u"Konvertierung wird nicht veröffentlicht\r\n"},
    {426, u"The status channel %s can not be opened; conversions are not published\r\n",
     u"Der Statuskanal %s kann nicht geöffnet werden; Konvertierungen werden nicht "
     u"veröffentlicht\r\n"},
    {427, u"SCS (%d): Decoding of %#04x at %I64u not possible.\r\n",
     u"SCS (%d): Dekodierung von %#04x bei %I64u nicht möglich.\r\n"},
    {428, u"SCS (%d): Decoding of %#04x at %I64u not possible, replaced by U+%04x\r\n",
     u"SCS (%d): Dekodierung von %#04x bei %I64u nicht möglich, ersetzt durch U+%04x\r\n"},
    {429, u"%s: Decoding errors: %d\r\n", u"%s: Dekodierfehler: %d\r\n"},
    {430, u"DSC(%d): Encoding of replacement character U+%04x at %I64u become %#04x.\r\n",
     u"DSC(%d): Ersatzzeichen U+%04x bei %I64u wird zu %#04x.\r\n"},
    {431, u"DSC(%d): Encoding of U+%04x (%c) at %I64u not possible.\r\n",
     u"DSC(%d): Kodierung von U+%04x (%c) bei %I64u nicht möglich.\r\n"},
    {432, u"%s: Encoding errors: %d\r\n", u"%s: Kodierfehler: %d\r\n"},
    {433,
     u"UTF-8 (STRICT): Malformed byte sequence at %I64u were replaced with replacement character "
     u"%04x\r\n",
     u"UTF-8 (STRICT): Fehlerhafte Bytefolge bei %I64u wurde durch das Ersatzzeichen %04x "
     u"ersetzt\r\n"},
    {434,
     u"UTF-8 (LOOSE): Malformed surrogate U+%04x detected at %I64u. Should be encoded as F0 XX XX "
     u"XX not as E0 XX XX\r\n",
     u"UTF-8 (LOOSE): Fehlerhaftes Surrogat U+%04x bei %I64u erkannt. Richtig wäre F0 XX XX XX "
     u"statt E0 XX XX\r\n"},
    {435, u"UTF-8: Malformed %u Byte sequence %s\r\n",
     u"UTF-8: Fehlerhafte %u-Byte-Sequenz %s\r\n"},
    {436, u"UTF-8 (STRICT): Invalid surrogate U+%04x at %I64u replaced with 0xEF 0xBF 0xBD.\r\n",
     u"UTF-8 (STRICT): Ungültiges Surrogat U+%04x bei %I64u durch 0xEF 0xBF 0xBD ersetzt.\r\n"},
    {437, u"UTF-8 (LOOSE): Invalid surrogate U+%04x at %I64u encoded into 3 byte sequence.\r\n",
     u"UTF-8 (LOOSE): Ungültiges Surrogat U+%04x bei %I64u als 3-Byte-Sequenz kodiert.\r\n"},
    {438, u"Filter (%d Bytes) in \"%s\", Enabled: %d\r\n",
     u"Filter (%d Bytes) in \"%s\", aktiv: %d\r\n"},
    {439, u"Skipped filter because \"%s\" is disabled\r\n",
     u"Filter übersprungen, weil \"%s\" abgeschaltet ist\r\n"},
    {440, u"Filtering skipped, forwarding (%d Bytes)...\r\n",
     u"Filtern übersprungen, Weitergabe (%d Bytes)...\r\n"},
    {441, u"Forwarding (%d Bytes) to \"%s\", Enabled: %d\r\n",
     u"Weitergabe (%d Bytes) an \"%s\", aktiv: %d\r\n"},
    {442, u"Flushing (%d Bytes) in \"%s\"...\r\n", u"Leeren (%d Bytes) in \"%s\"...\r\n"},
    // The automatic detection (level 2).
    {443, u"Found %d stat files\r\n", u"%d Statistikdateien gefunden\r\n"},
    {444, u"Detected SCS %s (%.4S)\r\n", u"Erkannter Quell-Zeichensatz %s (%.4S)\r\n"},
    {445, u"Detected SCS with BOM: %s\r\n", u"Erkannter Quell-Zeichensatz mit BOM: %s\r\n"},
    {446, u"Detected SCS: %s\r\n", u"Erkannter Quell-Zeichensatz: %s\r\n"},
    {447, u"Detected SCS: UTF-8 (Analyzed %d Bytes)\r\n",
     u"Erkannter Quell-Zeichensatz: UTF-8 (%d Bytes analysiert)\r\n"},
    {448, u"Detected character set (fallback) ISO-8859-15\r\n",
     u"Erkannter Zeichensatz (Ersatz) ISO-8859-15\r\n"},
    {449, u"Removed Last Filter \"%s\"\r\n", u"Letzten Filter \"%s\" entfernt\r\n"},
    {450, u"Skipped %s: this run's messages are written into it.\r\n",
     u"Übersprungen: %s nimmt die Meldungen dieses Laufs auf.\r\n"},
    {451, u"%.3f minutes\r\n", u"%.3f Minuten\r\n"},
    {452, u"%.3f seconds\r\n", u"%.3f Sekunden\r\n"},
    {453, u"%.3f ms\r\n", u"%.3f ms\r\n"},
    {454, u"Not a regular file", u"Keine reguläre Datei"},
    {540, u"Error: the CSV report %s could not be written: %s\r\n",
     u"Fehler: Der CSV-Bericht %s konnte nicht geschrieben werden: %s\r\n"},
    {541, u"The status channel %s could not give back its mutex or a semaphore: %s\r\n",
     u"Der Statuskanal %s konnte seinen Mutex oder einen Semaphor nicht zurückgeben: %s\r\n"},
};

}  // namespace

const char16_t* LoadResourceString(std::uint32_t id, std::uint16_t language) {
  for (const StringRow& row : kStrings) {
    if (row.id == id) return language == kLanguageGerman ? row.german : row.english;
  }
  return nullptr;
}

const char16_t* LoadResourceString(std::uint32_t id) {
  // The program's string-table resources on Windows, generated from the
  // table above; the table itself serves where there are none (POSIX, the
  // tools).
  if (const char16_t* text = platform::LoadStringResource(id)) return text;
  return LoadResourceString(id, platform::UserInterfaceLanguage());
}

std::u16string DescribeError(platform::ErrorCode code) {
  if (platform::FileIsNotRegular(code)) {
    if (const char16_t* text = LoadResourceString(kStringNotARegularFile)) return text;
  }
  return platform::ErrorText(code);
}

std::size_t StringTableSize() { return sizeof kStrings / sizeof kStrings[0]; }

std::uint32_t StringTableId(std::size_t index) { return kStrings[index].id; }

}  // namespace ordana
