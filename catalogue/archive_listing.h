// Parsers for the archiver's console output: the member table printed by its
// list command and the names printed by its extract command. The table's
// columns are found from its header and separator lines, so layouts of
// different archiver versions parse alike.
#pragma once

#include <QList>
#include <QString>
#include <QStringList>

namespace fwl {

struct ListedMember {
  QString name;        // as printed, "/"-separated on this platform
  QString attributes;  // e.g. "....." or "D...."; "" when the column is absent
  qint64 size = -1;    // -1 when the size column is empty
  quint32 time = 0;    // UTC seconds from the local date and time; 0 when absent
  bool isFolder() const { return attributes.startsWith(u'D'); }
};

struct ArchiveListing {
  bool valid = false;  // a member table was found
  QString type;        // the archive's "Type = " line ("zip", "tar", "gzip"), "" when absent
  QList<ListedMember> members;
};

// Parses the output of the list command. Members are the lines between the
// table's first and second separator lines; a line with no name is skipped.
// Never fails on odd input: what cannot be read is left out.
ArchiveListing ParseArchiveListing(const QString& output);

// Names of the files the extract command reported: "- name" lines (printed
// with -bb1) and the older "Extracting  name" lines, in output order.
QStringList ParseExtractedNames(const QString& output);

// True when `name` would be written outside the folder it is extracted to:
// an absolute path, a drive or UNC prefix, or a ".." component.
bool MemberNameEscapes(const QString& name);

}  // namespace fwl
