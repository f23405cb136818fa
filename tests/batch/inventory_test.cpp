// Reading inventories: CSV quoting and its limits, options as defaults for
// empty columns, password variables, and a project file's stations with
// the newest image of their type from a folder.
#include "batch/inventory.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include "support/test_util.h"

namespace fwl::test {
namespace {

TEST(InventoryCsvTest, QuotingLinesAndHostileInput) {
  QList<QStringList> rows;
  QList<int> lines;
  QString error;
  ASSERT_TRUE(
      ParseCsv("a,\"b,c\",\"say \"\"hi\"\"\"\r\n\"two\nlines\",x\nlast", &rows, &lines, &error));
  ASSERT_EQ(rows.size(), 3);
  EXPECT_EQ(rows[0], (QStringList{"a", "b,c", "say \"hi\""}));
  EXPECT_EQ(rows[1], (QStringList{"two\nlines", "x"}));
  EXPECT_EQ(rows[2], QStringList{"last"});
  // Row numbers are the lines a text editor shows.
  EXPECT_EQ(lines, (QList<int>{1, 2, 4}));

  rows.clear();
  lines.clear();
  EXPECT_FALSE(ParseCsv("a,\"never closed\nb,c\n", &rows, &lines, &error));
  EXPECT_TRUE(error.contains("never ends"));
  EXPECT_FALSE(ParseCsv(QByteArray(100, ','), &rows, &lines, &error));
  EXPECT_FALSE(ParseCsv(QByteArray(20000, 'x'), &rows, &lines, &error));
  EXPECT_FALSE(ParseCsv(QByteArray(20000, '\n'), &rows, &lines, &error));
}

TEST(InventoryTest, OptionsFillEmptyColumnsAndPasswordsComeFromTheEnvironment) {
  QTemporaryDir dir;
  WriteFileOrFail(dir.path() + "/fw/kvimagea_mums3_9_1", RandomBytes(100, 1));
  WriteFileOrFail(dir.path() + "/fleet.csv",
                  "Name , IP,subnet,password_env,user\n"
                  "a,127.0.0.61,,,admin\n"
                  "b,127.0.0.62,255.255.0.0,SWITCH_B_PW,admin\n"
                  "c,127.0.0.63,,NOT_SET_ANYWHERE_42,admin\n");
  qputenv("SWITCH_B_PW", "b-secret");
  qputenv("FWLOAD_PASSWORD", "common");
  InventoryDefaults defaults;
  defaults.pcAddress = "127.0.0.1";
  defaults.subnet = "255.0.0.0";
  defaults.firmware = dir.path() + "/fw/kvimagea_mums3_9_1";
  defaults.method = "eth";
  // No product column: every row says what is missing, nothing guesses.
  Inventory inventory = ReadInventory(dir.path() + "/fleet.csv", defaults);
  ASSERT_EQ(inventory.errors.size(), 3);
  EXPECT_TRUE(inventory.errors[0].startsWith("row 2 (a): product must be"));

  WriteFileOrFail(dir.path() + "/fleet.csv",
                  "Name , IP,product,subnet,password_env,user\n"
                  "a,127.0.0.61,switch,,,admin\n"
                  "b,127.0.0.62,switch,255.255.0.0,SWITCH_B_PW,admin\n"
                  "c,127.0.0.63,switch,,NOT_SET_ANYWHERE_42,admin\n");
  inventory = ReadInventory(dir.path() + "/fleet.csv", defaults);
  ASSERT_EQ(inventory.errors,
            QStringList{"row 4 (c): password_env NOT_SET_ANYWHERE_42 is not set"});
  ASSERT_EQ(inventory.units.size(), 3);
  EXPECT_EQ(inventory.units[0].job.subnet, "255.0.0.0");
  EXPECT_EQ(inventory.units[1].job.subnet, "255.255.0.0");
  EXPECT_EQ(inventory.units[0].job.password, "common");
  EXPECT_EQ(inventory.units[1].job.password, "b-secret");
  EXPECT_EQ(inventory.units[0].job.firmwareFile, defaults.firmware);
  qunsetenv("SWITCH_B_PW");
  qunsetenv("FWLOAD_PASSWORD");
}

TEST(InventoryTest, ProjectStationsGetTheNewestImageOfTheirType) {
  QTemporaryDir dir;
  WriteFileOrFail(dir.path() + "/plant.6pj",
                  "[Zeb Stations]\n0=Pump 4,a\n1=Pump 5,b\n2=Tank 1,c\n"
                  "[Zeb: Pump 4]\nStaID=5102\nSerNum=40417\nIPAddr0=127.0.0.91\nPort0ID=4\n"
                  "Port0=1,0,0,0,0,255,255,0,0,0,0,0,0,0\n"
                  "[Zeb: Pump 5]\nStaID=5102\nSerNum=40517\nIPAddr0=127.0.0.92\nPort0ID=4\n"
                  "Port0=1,0,0,0,0,255,0,0,0,0,0,0,0,0\n"
                  "[Zeb: Tank 1]\nStaID=5102\nSerNum=40617\nIPAddr0=127.0.0.93\n");
  for (const char* name : {"kvimage6_razeb3_1_4", "kvimage6_razeb3_2_0", "kvimage_mums3_9_9"}) {
    WriteFileOrFail(dir.path() + "/fw/" + name, RandomBytes(100, 2));
  }
  InventoryDefaults defaults;
  defaults.pcAddress = "127.0.0.1";
  defaults.subnet = "255.0.0.0";
  const Inventory inventory = InventoryFromProject(dir.path() + "/plant.6pj", {"Pump 4", "Pump 5"},
                                                   dir.path() + "/fw", defaults);
  ASSERT_TRUE(inventory.errors.isEmpty()) << inventory.errors.join('\n').toStdString();
  ASSERT_EQ(inventory.units.size(), 2);
  EXPECT_EQ(inventory.units[0].job.stationAddress, "127.0.0.91");
  EXPECT_EQ(inventory.units[0].job.subnet, "255.255.0.0");
  EXPECT_EQ(inventory.units[0].job.stationType, 5102);
  EXPECT_EQ(inventory.units[0].job.serialNumber, 40417);
  EXPECT_TRUE(inventory.units[1].job.firmwareFile.endsWith("/kvimage6_razeb3_2_0"));

  const Inventory missing =
      InventoryFromProject(dir.path() + "/plant.6pj", {"Pump 9"}, dir.path() + "/fw", defaults);
  EXPECT_TRUE(missing.errors.join('\n').contains("no station 'Pump 9'"));
}

}  // namespace
}  // namespace fwl::test
