// Entry of every test program: a Qt application object for event loops and
// sockets, and a private system folder and settings file per process so tests
// never touch the developer's own files and can run side by side.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTemporaryDir>

#include "app/settings.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  QTemporaryDir sandbox;
  qputenv("FWLOADER_SYSTEM_DIR", (sandbox.path() + "/system").toLocal8Bit());
  qputenv("TMPDIR", (sandbox.path()).toLocal8Bit());
  fwl::SetSettingsFile(sandbox.path() + "/settings/FirmwareLoader.ini");
  QCoreApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
