#include "dbengine/dataset/data_link.h"

#include "dbengine/dataset/data_set.h"
#include "dbengine/dataset/data_source.h"
#include "dbengine/format/db_error.h"

namespace zq {

TDataLink::~TDataLink() {
  if (data_source_) data_source_->RemoveLink(this);
}

void TDataLink::SetDataSource(TDataSource* source) {
  if (source == data_source_) return;
  if (data_source_) data_source_->RemoveLink(this);
  data_source_ = source;
  if (data_source_) data_source_->AddLink(this);
  else UpdateState();
}

TDataSet* TDataLink::DataSet() const { return data_source_ ? data_source_->DataSet() : nullptr; }

void TDataLink::UpdateState() {
  const TDataSetState s = data_source_ ? data_source_->State() : TDataSetState::dsInactive;
  const bool active = s != TDataSetState::dsInactive && s != TDataSetState::dsOpening;
  if (active != active_) {
    active_ = active;
    ActiveChanged();
  }
  const bool editing = s == TDataSetState::dsEdit || s == TDataSetState::dsInsert ||
                       s == TDataSetState::dsSetKey;
  if (editing != editing_) {
    editing_ = editing;
    EditingChanged();
  }
}

void TDataLink::UpdateRecord() {
  updating_ = true;
  try {
    UpdateData();
  } catch (...) {
    updating_ = false;
    throw;
  }
  updating_ = false;
}

void TDataLink::DataEvent(TDataEvent event, TField* field) {
  if (!active_ && event != TDataEvent::deConnectChange) return;
  switch (event) {
    case TDataEvent::deFieldChange:
    case TDataEvent::deRecordChange:
      if (!updating_) RecordChanged(field);
      break;
    case TDataEvent::deDataSetChange: DataSetChanged(); break;
    case TDataEvent::deDataSetScroll: DataSetScrolled(); break;
    case TDataEvent::deLayoutChange:
    case TDataEvent::deFieldListChange: LayoutChanged(); break;
    case TDataEvent::deUpdateRecord: UpdateRecord(); break;
    case TDataEvent::deCheckBrowseMode: CheckBrowseMode(); break;
    case TDataEvent::deConnectChange: ConnectionChanged(); break;
    case TDataEvent::deUpdateState: break;
  }
}

void TMasterDataLink::SetFieldNames(const std::string& names) {
  const std::string previous = field_names_;
  field_names_ = names;
  try {
    ResolveFields();
  } catch (...) {
    field_names_ = previous;
    ResolveFields();
    throw;
  }
  if (Active() && OnMasterChange) OnMasterChange();
}

void TMasterDataLink::ResolveFields() {
  fields_.clear();
  if (TDataSet* master = DataSet(); master && Active())
    fields_ = master->GetFieldList(field_names_);
}

void TMasterDataLink::ActiveChanged() {
  fields_.clear();
  if (Active()) {
    try {
      ResolveFields();
    } catch (const EDatabaseError&) {
      fields_.clear();
      throw;
    }
  }
  if (detail_ && detail_->Active()) {
    if (Active() && !fields_.empty()) {
      if (OnMasterChange) OnMasterChange();
    } else if (OnMasterDisable) {
      OnMasterDisable();
    }
  }
}

void TMasterDataLink::CheckBrowseMode() {
  if (detail_ && detail_->Active()) detail_->CheckBrowseMode();
}

void TMasterDataLink::LayoutChanged() { ActiveChanged(); }

void TMasterDataLink::RecordChanged(TField* field) {
  if (!detail_ || !detail_->Active() || !OnMasterChange || fields_.empty()) return;
  if (field) {
    bool key = false;
    for (TField* f : fields_) key = key || f == field;
    if (!key) return;
  }
  OnMasterChange();
}

}  // namespace zq
