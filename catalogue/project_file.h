// Reads what the loader needs from a station project file (".6pj"): the
// stations with their type codes, serial numbers, IP addresses, subnet masks
// and gateways, and the start values of the project file chooser. All reads
// go through ReadProjectValue so another project reader can be plugged in.
#pragma once

#include <QMap>
#include <QString>
#include <QStringList>
#include <functional>

namespace fwl {

// Section and key texts of the project file.
inline constexpr char kProjectStationsSection[] = "Zeb Stations";
inline constexpr char kProjectOldStationsSection[] = "MU2 Stations";
inline constexpr char kProjectStationSectionFormat[] = "Zeb: %1";
inline constexpr char kProjectOldStationSectionFormat[] = "MU2: %1";
inline constexpr char kProjectStationIdKey[] = "StaID";
inline constexpr char kProjectSerialNumberKey[] = "SerNum";

// Messages of the callers that read a project, spelled as shown.
inline constexpr char kProjectReadError[] = "Error reading project file.";
inline constexpr char kProjectSerialNumberError[] =
    "Unable to read serial number from the selected project file for station ";

// Longest station name kept from a station record.
inline constexpr int kMaxStationNameLength = 40;
// Reads return at most this many characters minus one, like a fixed buffer.
inline constexpr int kProjectValueBufferSize = 1024;

// A project lookup: (section, key, project path) -> value, "" when missing.
using ProjectValueReader =
    std::function<QString(const QString& section, const QString& key, const QString& path)>;

// Replaces the lookup used by ReadProjectValue; an empty function restores
// the plain INI reader. Returns the previous reader (empty for the default).
ProjectValueReader SetProjectValueReader(ProjectValueReader reader);

// The file a project name stands for: a project is the operator's document,
// so a name without a folder (or a relative path) is taken from the current
// folder, never from the system folder where the program's own profiles
// live. The absolute path; "" for "".
QString ProjectFilePath(const QString& name);

// Value of `key` in `section` of the project at `projectPath` (see
// ProjectFilePath), cut to 1023 characters; "" when the path is empty or the
// file, section or key is missing or unreadable.
// The plain INI reader parses a file once and reuses that until the file
// changes, so listing many stations stays linear in the file size.
QString ReadProjectValue(const QString& section, const QString& key, const QString& projectPath);

// The stations of a project, in project order, with their type codes.
struct StationList {
  QStringList names;
  QMap<QString, int> typeCodes;  // name -> StationTypeCode ("StaID")

  void Clear() {
    names.clear();
    typeCodes.clear();
  }
};

// Refills `list` with the stations of `productType` (0 station, 2 the older
// line; 1, a managed switch, reads nothing). The list is read from keys "0",
// "1", ... of the stations section and ends at the first empty one. Returns
// 0, or -1 when some entry could not be used (empty name or empty "StaID");
// the readable stations are listed either way. "StaID" converts like atoi
// (text without leading digits gives 0). The caller shows "Error reading
// project file." when that matters. Any other product type than 1 and 2
// lists the stations of the controller line.
int LoadStationList(const QString& projectPath, int productType, StationList* list);

// "SerNum" of the station, as text; "" when missing.
QString StationSerialNumber(const QString& projectPath, const QString& stationName);

// Decimal value of a serial number text (leading digits; 0 when none or when
// it does not fit 32 bits).
quint32 SerialNumberValue(const QString& text);

// The first non-empty "IPAddr0" .. "IPAddr5" of the station, or "".
QString StationAddress(const QString& projectPath, const QString& stationName);

// Subnet mask and gateway from the record of the station's first Ethernet
// port ("Port%dID" = 4 among ports 0..5): mask from fields 6..9 ("0.0.0.0"
// becomes "255.0.0.0"), gateway from fields 11..14, each field cut to three
// characters (a missing or empty field reads as "0"). Returns false,
// leaving both outputs alone, when the station has no Ethernet port.
bool StationSubnetAndGateway(const QString& projectPath, const QString& stationName,
                             QString* subnet, QString* gateway);

// What the project file chooser starts from, for the wizard's file dialog.
struct ProjectChooserSetup {
  QString initialFile;    // the start value, when there is one
  QString initialFolder;  // used when there is no start value
  QString defaultSuffix;  // "6pj"
  QString nameFilters;    // "Project Files (*.6pj);;All Files (*)"
};

// Start value = `currentProject`, else the remembered "last dest proj". With
// none the dialog opens in the program folder's "zeb_firmware" subfolder, or
// "firmware" when that does not exist.
ProjectChooserSetup ProjectChooserStart(const QString& currentProject);

// Records the project the operator chose as "last dest proj".
void RememberChosenProject(const QString& projectPath);

}  // namespace fwl
