// Folder chooser shaped as a combo box: its drop-down is the file system's folder tree, and its
// text is the full path of the chosen folder while it does not have the focus (the folder's own
// name while it has it). PathChanged fires whenever the chosen path changes. The drop-down opens
// with the tree expanded at the chosen folder (the user's home folder while none is chosen) and
// always lies on the screen: below the box, or above it when there is no room below.
#pragma once

#include <QComboBox>
#include <QRect>
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

  // Where the drop-down of the given size goes for a box at box (global coordinates) on a screen
  // whose free area is available: below the box when it fits, else above it, else on the side
  // with more room, shortened to fit; shifted sideways to stay on the screen.
  static QRect PopupGeometry(const QRect& box, QSize size, const QRect& available);

 signals:
  void PathChanged(const QString& path);

 protected:
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;

 private:
  void Choose(const QModelIndex& index);
  void ShowText(bool focused);
  void OpenAt(const QString& folder);
  void KeepChoiceInView();
  bool eventFilter(QObject* watched, QEvent* event) override;

  QString path_;
  QFileSystemModel* model_ = nullptr;
  QFrame* popup_ = nullptr;
  QTreeView* tree_ = nullptr;
  // While the folders around the one the drop-down opened at are still being read (and sorted),
  // rows come and move: the tree keeps that folder in view until the user scrolls, clicks or types.
  bool follow_ = false;
};

}  // namespace zq
