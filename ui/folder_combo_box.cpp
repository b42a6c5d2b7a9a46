#include "ui/folder_combo_box.h"

#include <QDir>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QFocusEvent>
#include <QFrame>
#include <QHeaderView>
#include <QTreeView>
#include <QVBoxLayout>

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
  tree_->setRootIndex(model_->index(QString()));

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
  if (!path_.isEmpty()) {
    QModelIndex index = model_->index(path_);
    if (index.isValid()) {
      tree_->setCurrentIndex(index);
      tree_->scrollTo(index);
    }
  }
  QPoint below = mapToGlobal(QPoint(0, height()));
  popup_->setGeometry(below.x(), below.y(), qMax(width(), 320), 300);
  popup_->show();
  tree_->setFocus(Qt::PopupFocusReason);
}

void TFolderComboBox::hidePopup() {
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
