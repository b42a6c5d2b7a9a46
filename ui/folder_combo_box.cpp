#include "ui/folder_combo_box.h"

#include <QDir>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QFocusEvent>
#include <QFrame>
#include <QHeaderView>
#include <QScreen>
#include <QTreeView>
#include <QVBoxLayout>
#include <algorithm>

namespace zq {

TFolderComboBox::TFolderComboBox(QWidget* parent) : QComboBox(parent) {
  setEditable(false);
  addItem(QString());
  setMinimumContentsLength(20);
  setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);

  popup_ = new QFrame(this, Qt::Popup);
  popup_->setObjectName("FolderPopup");
  popup_->setFrameShape(QFrame::StyledPanel);
  auto* layout = new QVBoxLayout(popup_);
  layout->setContentsMargins(1, 1, 1, 1);
  tree_ = new QTreeView(popup_);
  tree_->setObjectName("FolderTree");
  layout->addWidget(tree_);

  model_ = new QFileSystemModel(this);
  model_->setFilter(QDir::AllDirs | QDir::Drives | QDir::NoDotAndDotDot);
  model_->setRootPath(QString());
  model_->setReadOnly(true);
  tree_->setModel(model_);
  for (int column = 1; column < model_->columnCount(); ++column) tree_->hideColumn(column);
  tree_->header()->hide();
  // Folders in name order (the model lists them as they are read otherwise).
  tree_->setSortingEnabled(true);
  tree_->sortByColumn(0, Qt::AscendingOrder);
  tree_->setRootIndex(model_->index(QString()));

  connect(model_, &QFileSystemModel::directoryLoaded, this, &TFolderComboBox::KeepChoiceInView);
  connect(model_, &QFileSystemModel::rowsInserted, this, &TFolderComboBox::KeepChoiceInView);
  connect(model_, &QFileSystemModel::layoutChanged, this, &TFolderComboBox::KeepChoiceInView);
  tree_->installEventFilter(this);
  tree_->viewport()->installEventFilter(this);
  connect(tree_, &QTreeView::activated, this, &TFolderComboBox::Choose);
  connect(tree_, &QTreeView::clicked, this, &TFolderComboBox::Choose);
}

void TFolderComboBox::SetPath(const QString& value) {
  QString path;
  if (!value.isEmpty()) {
    path = QDir::toNativeSeparators(QDir::cleanPath(value));
  }
  if (path == path_) return;
  path_ = path;
  ShowText(hasFocus());
  emit PathChanged(path_);
}

void TFolderComboBox::ShowText(bool focused) {
  QString text = path_;
  if (focused && !path_.isEmpty()) {
    QString name = QFileInfo(path_).fileName();
    if (!name.isEmpty()) text = name;  // the root keeps its path as its name
  }
  setItemText(0, text);
}

void TFolderComboBox::showPopup() {
  OpenAt(path_.isEmpty() ? QDir::homePath() : path_);
  QRect box(mapToGlobal(QPoint(0, 0)), size());
  QScreen* host = screen();
  QRect available = host ? host->availableGeometry() : QRect(box.topLeft(), QSize(4096, 4096));
  popup_->setGeometry(PopupGeometry(box, QSize(qMax(width(), 320), 300), available));
  popup_->show();
  follow_ = true;
  KeepChoiceInView();
  tree_->setFocus(Qt::PopupFocusReason);
}

QRect TFolderComboBox::PopupGeometry(const QRect& box, QSize size, const QRect& available) {
  int room_below = available.bottom() - box.bottom();
  int room_above = box.top() - available.top();
  int height = size.height();
  int y;
  if (room_below >= height) {
    y = box.bottom() + 1;
  } else if (room_above >= height) {
    y = box.top() - height;
  } else if (room_below >= room_above) {
    height = qMax(room_below, 0);
    y = box.bottom() + 1;
  } else {
    height = room_above;
    y = available.top();
  }
  int width = std::min(size.width(), available.width());
  int x = std::clamp(box.left(), available.left(), available.right() + 1 - width);
  return QRect(x, y, width, height);
}

void TFolderComboBox::OpenAt(const QString& folder) {
  QModelIndex index = model_->index(folder);
  if (!index.isValid()) return;
  // Expanding asks the model for each folder's contents, which arrive later.
  for (QModelIndex up = index.parent(); up.isValid(); up = up.parent()) tree_->expand(up);
  tree_->expand(index);
  tree_->setCurrentIndex(index);
}

void TFolderComboBox::KeepChoiceInView() {
  if (!follow_ || !popup_->isVisible() || !tree_->currentIndex().isValid()) return;
  tree_->scrollTo(tree_->currentIndex(), QAbstractItemView::PositionAtCenter);
}

bool TFolderComboBox::eventFilter(QObject* watched, QEvent* event) {
  switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::Wheel:
    case QEvent::KeyPress:
      follow_ = false;
      break;
    default:
      break;
  }
  return QComboBox::eventFilter(watched, event);
}

void TFolderComboBox::hidePopup() {
  follow_ = false;
  popup_->hide();
  QComboBox::hidePopup();
}

void TFolderComboBox::Choose(const QModelIndex& index) {
  if (!index.isValid()) return;
  SetPath(model_->filePath(index));
  hidePopup();
}

void TFolderComboBox::focusInEvent(QFocusEvent* event) {
  QComboBox::focusInEvent(event);
  ShowText(true);
}

void TFolderComboBox::focusOutEvent(QFocusEvent* event) {
  QComboBox::focusOutEvent(event);
  // A popup of our own (the folder tree) keeps the focused look.
  ShowText(event->reason() == Qt::PopupFocusReason);
}

}  // namespace zq
