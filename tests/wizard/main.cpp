// Entry of the wizard tests: widgets need a QApplication (the offscreen
// platform is set by CTest); the same private system folder, temporary folder
// and settings file as every other test program.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTemporaryDir>

#include "app/settings.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  QTemporaryDir sandbox;
  qputenv("FWLOADER_SYSTEM_DIR", (sandbox.path() + "/system").toLocal8Bit());
  qputenv("TMPDIR", (sandbox.path()).toLocal8Bit());
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  fwl::SetSettingsFile(sandbox.path() + "/settings/FirmwareLoader.ini");
  QApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
