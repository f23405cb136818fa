// A read-only field that shows a path shortened to its width (see
// ShortenPathForField), re-shortened whenever the field is resized. The full
// path is its tooltip and accessible description.
#pragma once

#include <QLineEdit>

namespace fwl {

class PathField : public QLineEdit {
  Q_OBJECT

 public:
  explicit PathField(QWidget* parent = nullptr);

  // Shows `path` (shortened as needed); "" empties the field.
  void SetPath(const QString& path);
  const QString& path() const { return path_; }

  // The width, in pixels, the shortening fits the path into.
  int TextRoom() const;

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  void Refresh();

  QString path_;
};

}  // namespace fwl
