#include "dbengine/dataset/data_source.h"

#include <algorithm>

#include "dbengine/dataset/data_set.h"

namespace zq {

TDataSource::~TDataSource() {
  // Links outlive nothing here: detach them so they do not point at a dead source.
  while (!links_.empty()) links_.back()->SetDataSource(nullptr);
  SetDataSet(nullptr);
}

void TDataSource::SetDataSet(TDataSet* data_set) {
  if (data_set == data_set_) return;
  if (data_set_) data_set_->RemoveDataSource(this);
  data_set_ = data_set;
  if (data_set_) data_set_->AddDataSource(this);
  for (TDataLink* l : std::vector<TDataLink*>(links_)) l->UpdateState();
}

void TDataSource::SetEnabled(bool value) {
  if (enabled_ == value) return;
  enabled_ = value;
  for (TDataLink* l : std::vector<TDataLink*>(links_)) l->UpdateState();
}

TDataSetState TDataSource::State() const {
  return data_set_ && enabled_ ? data_set_->State() : TDataSetState::dsInactive;
}

bool TDataSource::IsLinkedTo(const TDataSet* data_set) const {
  for (TDataLink* l : links_)
    if (auto* m = dynamic_cast<TMasterDataLink*>(l); m && m->Detail() == data_set) return true;
  return false;
}

void TDataSource::AddLink(TDataLink* link) {
  links_.push_back(link);
  link->UpdateState();
}

void TDataSource::RemoveLink(TDataLink* link) {
  links_.erase(std::remove(links_.begin(), links_.end(), link), links_.end());
}

void TDataSource::NotifyLinks(TDataEvent event, TField* field) {
  for (TDataLink* l : std::vector<TDataLink*>(links_))
    if (std::find(links_.begin(), links_.end(), l) != links_.end()) l->DataEvent(event, field);
}

void TDataSource::DataEvent(TDataEvent event, TField* field) {
  if (event == TDataEvent::deUpdateState) {
    for (TDataLink* l : std::vector<TDataLink*>(links_)) l->UpdateState();
    if (OnStateChange) OnStateChange(*this);
    return;
  }
  if (!enabled_) return;
  NotifyLinks(event, field);
  if ((event == TDataEvent::deFieldChange || event == TDataEvent::deRecordChange ||
       event == TDataEvent::deDataSetChange || event == TDataEvent::deDataSetScroll ||
       event == TDataEvent::deLayoutChange) &&
      OnDataChange)
    OnDataChange(*this, event == TDataEvent::deFieldChange ? field : nullptr);
  if (event == TDataEvent::deUpdateRecord && OnUpdateData) OnUpdateData(*this);
}

}  // namespace zq
