// Folder chooser shaped as a combo box: its drop-down is the file system's folder tree, and its
// text is the full path of the chosen folder while it does not have the focus (the folder's own
// name while it has it). PathChanged fires whenever the chosen path changes.
#pragma once

#include <QComboBox>
#include <QString>

class QFileSystemModel;
class QFrame;
class QModelIndex;
class QTreeView;

namespace zq {

class TFolderComboBox : public QComboBox {
  Q_OBJECT
 public:
  explicit TFolderComboBox(QWidget* parent = nullptr);

  // Full path of the chosen folder (native separators, no trailing one except at the root);
  // empty while none is chosen.
  const QString& Path() const { return path_; }
  void SetPath(const QString& value);
  // What the box shows now.
  QString Text() const { return currentText(); }

  // The drop-down: a frame holding the folder tree (objectName "FolderTree").
  QTreeView* Tree() const { return tree_; }

  void showPopup() override;
  void hidePopup() override;

 signals:
  void PathChanged(const QString& path);

 protected:
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;

 private:
  void Choose(const QModelIndex& index);
  void ShowText(bool focused);

  QString path_;
  QFileSystemModel* model_ = nullptr;
  QFrame* popup_ = nullptr;
  QTreeView* tree_ = nullptr;
};

}  // namespace zq
