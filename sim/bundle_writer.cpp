#include "sim/bundle_writer.h"

#include <QSaveFile>

#include "catalogue/firmware_bundle.h"

namespace fwl::sim {

void AppendBundleU32(QByteArray& out, quint32 value) {
  out.append(char(value >> 24));
  out.append(char(value >> 16));
  out.append(char(value >> 8));
  out.append(char(value));
}

void AppendBundleString(QByteArray& out, const QByteArray& text) {
  AppendBundleU32(out, quint32(text.size()));
  out.append(text);
}

BundleWriter::BundleWriter(int productCode, const QString& version, const QString& oemWord)
    : productCode_(quint32(productCode)), version_(version.toLatin1()) {
  Node root;
  root.type = kBundleDirectory;
  root.tag = kBundleRootTagBase + kBundleFormatVersion;
  root.name = oemWord.toLatin1();
  nodes_.push_back(std::move(root));
}

int BundleWriter::AddNode(int parent, quint32 type, quint32 tag, const QString& name,
                          const QString& label) {
  const int id = int(nodes_.size());
  Node node;
  node.type = type;
  node.tag = tag;
  node.name = name.toLatin1();
  node.label = label.toLatin1();
  nodes_.push_back(std::move(node));
  nodes_[size_t(parent)].children.push_back(id);
  return id;
}

int BundleWriter::AddDirectory(int parent, quint32 tag, const QString& name, const QString& label) {
  return AddNode(parent, kBundleDirectory, tag, name, label);
}

int BundleWriter::AddFile(int parent, quint32 tag, const QString& name, const QString& label,
                          const QByteArray& data) {
  const int id = AddNode(parent, kBundleFile, tag, name, label);
  nodes_[size_t(id)].data = data;
  return id;
}

int BundleWriter::AddLink(int parent, quint32 tag, const QString& name, const QString& label,
                          int target) {
  const int id = AddNode(parent, kBundleLink, tag, name, label);
  nodes_[size_t(id)].linkTarget = target;
  return id;
}

int BundleWriter::AddLinkToOffset(int parent, quint32 tag, const QString& name,
                                  const QString& label, quint32 offset) {
  const int id = AddNode(parent, kBundleLink, tag, name, label);
  nodes_[size_t(id)].linkOffset = offset;
  return id;
}

int BundleWriter::Directory(int parent, quint32 tag) {
  for (int child : nodes_[size_t(parent)].children) {
    const Node& node = nodes_[size_t(child)];
    if (node.type == kBundleDirectory && node.tag == tag) return child;
  }
  return AddDirectory(parent, tag);
}

void BundleWriter::ComputeOffsets(int id, quint32& position, std::vector<quint32>& offsets) const {
  const Node& node = nodes_[size_t(id)];
  offsets[size_t(id)] = position;
  position += quint32(5 * 4 + node.name.size() + node.label.size());
  if (node.type == kBundleFile) position += quint32(node.data.size());
  if (node.type == kBundleLink) position += 4;
  for (int child : node.children) ComputeOffsets(child, position, offsets);
}

void BundleWriter::Write(int id, QByteArray& out, const std::vector<quint32>& offsets) const {
  const Node& node = nodes_[size_t(id)];
  AppendBundleU32(out, node.type);
  AppendBundleU32(out, node.tag);
  AppendBundleString(out, node.name);
  AppendBundleString(out, node.label);
  quint32 size = 0;
  if (node.type == kBundleFile) size = quint32(node.data.size());
  if (node.type == kBundleDirectory) size = quint32(node.children.size());
  AppendBundleU32(out, node.declaredSize.value_or(size));
  if (node.type == kBundleFile) out.append(node.data);
  if (node.type == kBundleLink) {
    AppendBundleU32(out, node.linkTarget >= 0 ? offsets[size_t(node.linkTarget)] : node.linkOffset);
  }
  for (int child : node.children) Write(child, out, offsets);
}

QByteArray BundleWriter::Build() const {
  QByteArray out;
  AppendBundleU32(out, formatVersion_);
  AppendBundleU32(out, productCode_);
  AppendBundleString(out, version_);
  std::vector<quint32> offsets(nodes_.size());
  quint32 position = quint32(out.size());
  ComputeOffsets(kRoot, position, offsets);
  out.reserve(qsizetype(position));  // the offset walk ends at the file's size
  Write(kRoot, out, offsets);
  return out;
}

quint32 BundleWriter::HeaderOffset(int id) const {
  std::vector<quint32> offsets(nodes_.size());
  quint32 position = quint32(3 * 4 + version_.size());
  ComputeOffsets(kRoot, position, offsets);
  return offsets[size_t(id)];
}

bool BundleWriter::WriteTo(const QString& path) const {
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly)) return false;
  const QByteArray bytes = Build();
  if (file.write(bytes) != bytes.size()) return false;
  return file.commit();
}

}  // namespace fwl::sim
