// The program's string tables, English (1033) and German (1031), by id.
// On Windows the same texts are also compiled into string-table resources.

#include "app/StringTable.h"

namespace ordana {

namespace {

struct StringRow {
  std::uint32_t id;
  const char16_t* english;
  const char16_t* german;
};

// Sorted by id.
const StringRow kStrings[] = {
    {102,
     u"Usage: ordana <input file(s)> [options] [output]\r\n\r\n",
     u"Verwendung: ordana <Quelldatei(en)> [Optionen] [Ausgabe]\r\n\r\n"},
    {104,
     u"Character set: %s => %s\r\n",
     u"Zeichensatz: %s => %s\r\n"},
    {105,
     u"Options:\r\n",
     u"Optionen:\r\n"},
    {106,
     u"/i <charset>\tSet source character set, default is AUTO\r\n",
     u"/i <Zeichens.>\tQuell-Zeichensatz festlegen, Standard ist AUTO\r\n"},
    {107,
     u"Required time: %s",
     u"Benötigte Zeit: %s"},
    {108,
     u"Unknown source character set %d\r\n",
     u"Unbekannter Quell-Zeichensatz %d\r\n"},
    {109,
     u"Unknown destination character set %d\r\n",
     u"Unbekannter Ziel-Zeichensatz %d\r\n"},
    {110,
     u"Do you really want to convert all files in \"%s\" (Y/N)? ",
     u"Sollen wirklich alle Dateien in \"%s\" konvertiert werden (J/N)? "},
    {111,
     u"Do you really want \"%s\" to be a destination for multiple input files (Y/N)? ",
     u"Soll \"%s\" wirklich als Zielort für mehrere Eingabedateien verwendet werden (J/N)? "},
    {112,
     u"Output may not be a file for multiple input.\r\n",
     u"Ausgabe darf keine Datei sein für mehrere Eingabedateien.\r\n"},
    {113,
     u"Directory as input is invalid.\r\n",
     u"Verzeichnis als Eingabe ist ungültig.\r\n"},
    {114,
     u"/o <charset>\tSet destination character set, default is UTF-16\r\n",
     u"/o <Zeichens.>\tZiel-Zeichensatz festlegen, Standard ist UTF-16\r\n"},
    {115,
     u"/output=file\tSet output filename, default is in place conversion\r\n",
     u"/output=ziel\tAusgabedatei/Verzeichnis festlegen, Standard ist Ersetzen\r\n"},
    {116,
     u"/eol <mode>\tEnd of line character mode (mac, unix or dos)\r\n",
     u"/eol <Modus>\tModus für Zeilenende-Zeichen (mac, unix oder dos)\r\n"},
    {117,
     u"/listall\tList all supported character sets including alias names\r\n",
     u"/listall\tAuflistung aller unterstützten Zeichensätze inkl. Aliasnamen\r\n"},
    {118,
     u"/log\t\tWrite error messages into ordana.log\r\n",
     u"/log\t\tProtokolliert Fehlermeldungen in ordana.log\r\n"},
    {119,
     u"/logto <file>\tWrite error messages into specified log file\r\n",
     u"/logto <Datei>\tProtokolliert Fehlermeldungen in der angegebenen Datei\r\n"},
    {120,
     u"/nobom\t\tDo never write BOM at the beginning of the file where applicable\r\n",
     u"/nobom\t\tAm Dateianfang wo zutreffend keinen BOM schreiben\r\n"},
    {122,
     u"/s\t\tDon't produces any output or ask for input (except log file)\r\n",
     u"/s\t\tKeinerlei Ausgaben erzeugen (außer Protokolldatei)\r\n"},
    {123,
     u"/xml\t\tModification of the XML \"encoding\" attribute in XML PI\r\n",
     u"/xml\t\tAnpassen des XML \"encoding\" Attributes in der XML PI\r\n"},
    {124,
     u"/y-\t\tDefault answer is \"no\" for all prompts\r\n",
     u"/y-\t\tStandardantwort ist \"nein\" für alle Fragen\r\n"},
    {125,
     u"\r\nExamples:\r\n\r\n",
     u"\r\nBeispiele:\r\n\r\n"},
    {126,
     u"ordana.exe my.txt /i iso8859-1 /o utf-8\r\n",
     u"ordana.exe mein.txt /i iso8859-1 /o utf-8\r\n"},
    {127,
     u"Conversion of my.txt from iso-8859-1 to utf-8.\r\n\r\n",
     u"Konvertierung der Datei mein.txt von iso-8859-1 nach utf-8.\r\n\r\n"},
    {128,
     u"ordana.exe *.txt\r\n",
     u"ordana.exe *.txt\r\n"},
    {129,
     u"Conversion of all text files in current directory.\r\n\r\n",
     u"Konvertierung aller Textdateien im aktuellen Verzeichnis.\r\n\r\n"},
    {130,
     u"ordana.exe d:\\*.txt c:\\output\r\n",
     u"ordana.exe d:\\*.txt c:\\ausgabe\r\n"},
    {131,
     u"Conversion of all text files in d:\\ and writing to directory c:\\output.\r\n\r\n",
     u"Konvertierung aller Textdateien in d:\\ und speichern in c:\\ausgabe.\r\n\r\n"},
    {132,
     u"ordana.exe d:\\*.txt testall.txt\r\n",
     u"ordana.exe d:\\*.txt testall.txt\r\n"},
    {133,
     u"Conversion of all text files in d:\\ and writing multiple input in test.txt by appending each converted input file.\r\n\r\n",
     u"Konvertierung aller Textdateien in d:\\ und speichern mehrerer Eingabedateien in test.txt in dem jede konvertierte Eingabedatei angehängt wird.\r\n\r\n"},
    {136,
     u"/html\t\tModification of the HTML meta \"charset\" attribute\r\n",
     u"/html\t\tAnpassen des HTML meta \"charset\" Attributes\r\n"},
    {144,
     u"Output error for %s: %s\r\n",
     u"Ausgabefehler für %s: %s\r\n"},
    {145,
     u"Input error for %s: %s\r\n",
     u"Eingabefehler für %s: %s\r\n"},
    {146,
     u"There was an error in filter chain. Not all filters could be applied correctly.\r\n",
     u"Es gab ein Fehler bei der Verarbeitung der Filterkette. Nuicht alle Filter konnten angewendet werden.\r\n"},
    {147,
     u"Error: File \"%s\" could not be found!\r\n",
     u"Fehler: Die Datei \"%s\" konnte nicht gefunden werden!\r\n"},
    {148,
     u"Error: Path \"%s\" could not be found!\r\n",
     u"Fehler: Der Dateipfad \"%s\" konnte nicht gefunden werden!\r\n"},
    {149,
     u"/r\t\tProcesses the content of all sub directories as well if source is a directory\r\n",
     u"/r\t\tUnterverzeichnisse bei der Konvertierung mit einbeziehen\r\n"},
    {150,
     u"%d files were processed.\r\n",
     u"Es wurden %d Dateien verarbeitet.\r\n"},
    {151,
     u"/htmlentity <x>\tEncoding (enc) or decoding (dec) of HTML Entities\r\n",
     u"/htmlentity <x>\tHTML Entities kodieren (enc) oder dekodieren (dec)\r\n"},
    {152,
     u"1 file was processed.\r\n",
     u"Es wurde 1 Datei verarbeitet.\r\n"},
    {153,
     u"ordana.exe \\\\.\\CONIN$ destination.txt\r\n",
     u"ordana.exe \\\\.\\CONIN$ ziel.txt\r\n"},
    {154,
     u"Reads data from input buffer and writes converted data to \"destination.txt\". For more information refer manual.\r\n\r\n",
     u"Liest Daten aus dem Eingabepuffer und schreibt die konvertierten Daten in \"ziel.txt\". Weitere Informationen siehe Handbuch.\r\n\r\n"},
    {155,
     u"ordana.exe source.txt \\\\.\\CONOUT$\r\n",
     u"ordana.exe quelle.txt \\\\.\\CONOUT$\r\n"},
    {156,
     u"Reads data from \"source.txt\" and writes converted data to output buffer (console window).\r\n\r\n",
     u"Liest Daten aus \"quelle.txt\" und schreibt diese in den Ausgabepuffer (Konsolenfenster).\r\n\r\n"},
    {157,
     u"ordana.exe source.txt \\\\.\\pipe\\mypipe\r\n",
     u"ordana.exe quelle.txt \\\\.\\pipe\\mypipe\r\n"},
    {158,
     u"Reads data from \"source.txt\" and writes converted data to the pipe \"\\\\.\\pipe\\mypipe\".\r\n\r\n",
     u"Liest Daten aus \"quelle.txt\" und schreibt die konvertierten Daten in die Pipe \"\\\\.\\pipe\\mypipe\".\r\n\r\n"},
    {159,
     u"\r\nFilter specific switches\r\n\r\n",
     u"\r\nFilterspezifische Schalter\r\n\r\n"},
    {160,
     u"\r\nGeneral switches\r\n\r\n",
     u"\r\nAllgemeine Schalter\r\n\r\n"},
    {161,
     u"/policy <p>\tBehaviour in case of malformed codes (strict, loose)\r\n",
     u"/policy <p>\tVerhalten beim Erkennen fehlerhafter Zeichen (strict, loose)\r\n"},
    {162,
     u"/csv <file>\tCreates a csv file with conversion status information",
     u"/csv <Datei>\tCSV-Datei erstellen mit Statusinformationen der Konvertierung"},
    // POSIX only: the shell expands patterns unless they are quoted.
    {200,
     u"On Linux, put wildcard patterns in quotes so that ordana expands them, not the shell:\r\nordana '*.txt' /o utf-8\r\n\r\n",
     u"Unter Linux Platzhalter in Anführungszeichen setzen, damit ordana sie auswertet und nicht die Shell:\r\nordana '*.txt' /o utf-8\r\n\r\n"},
    {201,
     u"Error: %d paths were given, but only an input and an output are possible. Was a wildcard pattern expanded by the shell? Put it in quotes, for example '*.txt'.\r\n",
     u"Fehler: Es wurden %d Pfade angegeben, möglich sind nur eine Eingabe und eine Ausgabe. Wurde ein Platzhalter von der Shell ausgewertet? Bitte in Anführungszeichen setzen, z.B. '*.txt'.\r\n"},
};

}  // namespace

const char16_t* LoadResourceString(std::uint32_t id, std::uint16_t language) {
  for (const StringRow& row : kStrings) {
    if (row.id == id) return language == kLanguageGerman ? row.german : row.english;
  }
  return nullptr;
}

const char16_t* LoadResourceString(std::uint32_t id) {
#ifdef _WIN32
  // The program's string-table resources, generated from the table above;
  // the table itself serves modules without them (the tools).
  if (const char16_t* text = platform::LoadStringResource(id)) return text;
#endif
  return LoadResourceString(id, platform::UserInterfaceLanguage());
}

std::size_t StringTableSize() { return sizeof kStrings / sizeof kStrings[0]; }

std::uint32_t StringTableId(std::size_t index) { return kStrings[index].id; }

}  // namespace ordana
