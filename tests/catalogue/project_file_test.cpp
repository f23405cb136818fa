// Project files: station lists, station settings, hostile files and the
// project chooser's start values.
#include "catalogue/project_file.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include "app/settings.h"
#include "platform/system_folders.h"
#include "support/test_util.h"

namespace fwl {
namespace {

using test::WriteFileOrFail;

class ProjectFileTest : public ::testing::Test {
 protected:
  QString Write(const QString& name, const QByteArray& text) {
    const QString path = dir_.filePath(name);
    WriteFileOrFail(path, text);
    return path;
  }
  QTemporaryDir dir_;
};

TEST_F(ProjectFileTest, StationListKeepsProjectOrderAndSkipsWhatItCannotRead) {
  const QString name45 = QString(45, u'N');
  const QString name40 = QString(40, u'N');
  const QString project = Write("plant.6pj",
                                "[Zeb Stations]\n"
                                "0=Pump1,extra,fields\n"
                                "1=\"" +
                                    name45.toLatin1() +
                                    ",x\"\n"
                                    "2=,nameless\n"
                                    "3=NoId,x\n"
                                    "4=Tank\n"
                                    "6=AfterGap\n"
                                    "[Zeb: Pump1]\nStaID=5100\n"
                                    "[Zeb: " +
                                    name40.toLatin1() +
                                    "]\nStaID=5102\n"
                                    "[Zeb: NoId]\nSerNum=5\n"
                                    "[zeb: tank]\nstaid= 5300 \n"
                                    "[Zeb: AfterGap]\nStaID=5000\n"
                                    "[MU2 Stations]\n0=Old1\n"
                                    "[MU2: Old1]\nStaID=77\n");

  StationList list;
  list.names = {"stale"};
  EXPECT_EQ(LoadStationList(project, 0, &list), -1);
  EXPECT_EQ(list.names, QStringList({"Pump1", name40, "Tank"}));
  EXPECT_EQ(list.typeCodes.value("Pump1"), 5100);
  EXPECT_EQ(list.typeCodes.value(name40), 5102);
  EXPECT_EQ(list.typeCodes.value("Tank"), 5300);
  EXPECT_FALSE(list.typeCodes.contains("NoId"));
  EXPECT_FALSE(list.typeCodes.contains("AfterGap"));

  EXPECT_EQ(LoadStationList(project, 2, &list), 0);
  EXPECT_EQ(list.names, QStringList({"Old1"}));
  EXPECT_EQ(list.typeCodes.value("Old1"), 77);

  EXPECT_EQ(LoadStationList(project, 1, &list), 0);  // a switch has no stations
  EXPECT_TRUE(list.names.isEmpty());
  EXPECT_EQ(LoadStationList(dir_.filePath("missing.6pj"), 0, &list), 0);
  EXPECT_TRUE(list.names.isEmpty());
  EXPECT_EQ(LoadStationList(project, 0, nullptr), -1);
}

TEST_F(ProjectFileTest, StationAddressSerialAndPortRecords) {
  const QString project =
      Write("net.6pj",
            "[Zeb: A]\nSerNum=4000000001\nIPAddr0=\nIPAddr2=10.1.2.3\nIPAddr3=10.9.9.9\n"
            "Port0ID=1\nPort1ID=4\nPort2ID=4\n"
            "Port1=x,x,x,x,x,255,255,255,0,x,10,1,2,254\n"
            "Port2=x,x,x,x,x,255,255,0,0,x,10,1,0,1\n"
            "[Zeb: Zero]\nPort5ID=4\nPort5=a,b,c,d,e,0,0,0,0,f,0,0,0,0\n"
            "[Zeb: Long]\nPort0ID=04\nPort0=1,2,3,4,5,2555,2555,2550,0\n"
            "[Zeb: Serial]\nPort0ID=2\nPort0=1,2,3,4,5,255,255,255,0\nSerNum=12ab\n");

  EXPECT_EQ(StationAddress(project, "A"), "10.1.2.3");
  EXPECT_EQ(StationAddress(project, "Zero"), "");
  EXPECT_EQ(StationAddress("", "A"), "");
  EXPECT_EQ(StationSerialNumber(project, "A"), "4000000001");
  EXPECT_EQ(SerialNumberValue("4000000001"), 4000000001u);
  EXPECT_EQ(SerialNumberValue("12ab"), 12u);
  EXPECT_EQ(SerialNumberValue("99999999999"), 0u);
  EXPECT_EQ(SerialNumberValue(""), 0u);
  EXPECT_EQ(StationSerialNumber(project, "Zero"), "");

  QString subnet, gateway;
  ASSERT_TRUE(StationSubnetAndGateway(project, "A", &subnet, &gateway));  // port 1, not 2
  EXPECT_EQ(subnet, "255.255.255.0");
  EXPECT_EQ(gateway, "10.1.2.254");
  ASSERT_TRUE(StationSubnetAndGateway(project, "Zero", &subnet, &gateway));
  EXPECT_EQ(subnet, "255.0.0.0");
  EXPECT_EQ(gateway, "0.0.0.0");
  // Fields are cut to three characters; missing ones read as 0.
  ASSERT_TRUE(StationSubnetAndGateway(project, "Long", &subnet, &gateway));
  EXPECT_EQ(subnet, "255.255.255.0");
  EXPECT_EQ(gateway, "0.0.0.0");

  subnet = "keep";
  gateway = "keep too";
  EXPECT_FALSE(StationSubnetAndGateway(project, "Serial", &subnet, &gateway));
  EXPECT_FALSE(StationSubnetAndGateway(project, "Nobody", &subnet, &gateway));
  EXPECT_EQ(subnet, "keep");
  EXPECT_EQ(gateway, "keep too");
}

TEST_F(ProjectFileTest, HostileFilesAreReadWithoutHarm) {
  QByteArray garbage = test::RandomBytes(200000, 11);
  const QString junk = Write("junk.6pj", garbage);
  StationList list;
  EXPECT_EQ(LoadStationList(junk, 0, &list), 0);
  EXPECT_TRUE(list.names.isEmpty());
  EXPECT_EQ(StationAddress(junk, "x"), "");

  // An enormous line, keys without values and a value cut like a 1024-byte
  // buffer would cut it.
  QByteArray text = "[Zeb Stations]\n0=" + QByteArray(3000000, 'S') + "\n1=\n2=Late\n";
  text +=
      "[Zeb: " + QByteArray(40, 'S') + "]\nStaID\nStaID=\nIPAddr0=" + QByteArray(5000, '1') + "\n";
  const QString big = Write("big.6pj", text);
  EXPECT_EQ(ReadProjectValue("Zeb Stations", "0", big).size(), 1023);
  EXPECT_EQ(LoadStationList(big, 0, &list), -1);  // the only station has an empty StaID
  EXPECT_TRUE(list.names.isEmpty());
  EXPECT_EQ(StationAddress(big, QString(40, u'S')).size(), 1023);

  // Many stations: every lookup must not re-read the whole file.
  QByteArray many = "[Zeb Stations]\n";
  QByteArray sections;
  for (int i = 0; i < 20000; ++i) {
    many += QByteArray::number(i) + "=S" + QByteArray::number(i) + ",1,2,3\n";
    sections +=
        "[Zeb: S" + QByteArray::number(i) + "]\nStaID=" + QByteArray::number(5000 + i % 3) + "\n";
  }
  const QString manyPath = Write("many.6pj", many + sections);
  EXPECT_EQ(LoadStationList(manyPath, 0, &list), 0);
  EXPECT_EQ(list.names.size(), 20000);
  EXPECT_EQ(list.typeCodes.value("S19999"), 5001);
}

TEST_F(ProjectFileTest, ChangedFileIsReadAgainAndReaderCanBeReplaced) {
  const QString project = Write("p.6pj", "[Zeb: A]\nIPAddr0=10.0.0.1\n");
  EXPECT_EQ(StationAddress(project, "A"), "10.0.0.1");
  WriteFileOrFail(project, "[Zeb: A]\nIPAddr0=192.168.100.200\n");
  EXPECT_EQ(StationAddress(project, "A"), "192.168.100.200");

  QStringList asked;
  const ProjectValueReader previous =
      SetProjectValueReader([&asked](const QString& section, const QString& key, const QString&) {
        asked.append(section + "/" + key);
        if (section == "Zeb Stations" && key == "0") return QStringLiteral("Lib1,1");
        if (section == "Zeb: Lib1" && key == "StaID") return QStringLiteral("5200");
        return QString();
      });
  StationList list;
  EXPECT_EQ(LoadStationList(project, 0, &list), 0);
  EXPECT_EQ(list.names, QStringList({"Lib1"}));
  EXPECT_EQ(asked, QStringList({"Zeb Stations/0", "Zeb: Lib1/StaID", "Zeb Stations/1"}));
  SetProjectValueReader(previous);
  EXPECT_EQ(StationAddress(project, "A"), "192.168.100.200");
}

TEST_F(ProjectFileTest, ABareNameIsReadFromTheCurrentFolderNotTheSystemFolder) {
  QTemporaryDir here;
  ASSERT_TRUE(here.isValid());
  WriteFileOrFail(here.filePath("site.6pj"), "[Zeb Stations]\n0=Here\n");
  WriteFileOrFail(SystemFolder() + "site.6pj", "[Zeb Stations]\n0=System\n");
  const QString before = QDir::currentPath();
  ASSERT_TRUE(QDir::setCurrent(here.path()));
  const QString value = ReadProjectValue("Zeb Stations", "0", "site.6pj");
  const QString path = ProjectFilePath("site.6pj");
  QDir::setCurrent(before);
  QFile::remove(SystemFolder() + "site.6pj");
  EXPECT_EQ(value, "Here");
  EXPECT_EQ(path, QFileInfo(here.path()).canonicalFilePath() + "/site.6pj");
  EXPECT_EQ(ProjectFilePath(""), "");
}

TEST_F(ProjectFileTest, ChooserStartsFromCurrentThenRememberedProject) {
  SetSettingText(kSectionPages, "last dest proj", "");
  ProjectChooserSetup setup = ProjectChooserStart("");
  EXPECT_TRUE(setup.initialFile.isEmpty());
  EXPECT_TRUE(setup.initialFolder.startsWith(ProgramFolder()));
  EXPECT_TRUE(setup.initialFolder.endsWith("firmware/"));
  EXPECT_EQ(setup.defaultSuffix, "6pj");

  RememberChosenProject("/plants/north.6pj");
  EXPECT_EQ(GetSettingText(kSectionPages, "last dest proj"), "/plants/north.6pj");
  EXPECT_EQ(ProjectChooserStart("").initialFile, "/plants/north.6pj");
  EXPECT_EQ(ProjectChooserStart("/cmdline.6pj").initialFile, "/cmdline.6pj");
}

}  // namespace
}  // namespace fwl
