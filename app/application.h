// The one application object of the wizard process: what the command line
// said (station, project file), the chosen help path, and what the wizard
// hands back when it finishes. Pages read it; nothing here touches settings.
#pragma once

#include <QString>

namespace fwl {

class Application {
 public:
  // The object of this process (created on first use, lives until exit).
  static Application& Instance();

  // Back to the state of a fresh start (tests).
  void Reset() { *this = Application(); }

  // From the command line; empty when not given.
  QString Station;     // the station to pre-select (offers the controller product)
  QString Project;     // path of the project file that describes `Station`
  QString Production;  // accepted and kept; nothing reads it

  // Help file chosen at start-up (see app/help.h).
  QString helpPath;

  // The configuration page's check box as it stood when the wizard
  // finished on that page: 1 load the station configuration, 0 not. Stays 0
  // when the wizard ended elsewhere.
  int loadConfigOnExit = 0;
};

}  // namespace fwl
