// A data source connects one data set to any number of data links and forwards the data set's
// events to them.
#pragma once

#include <functional>
#include <vector>

#include "dbengine/dataset/data_link.h"

namespace zq {

enum class TDataSetState;

class TDataSource {
 public:
  TDataSource() = default;
  explicit TDataSource(TDataSet* data_set) { SetDataSet(data_set); }
  ~TDataSource();
  TDataSource(const TDataSource&) = delete;
  TDataSource& operator=(const TDataSource&) = delete;

  TDataSet* DataSet() const { return data_set_; }
  void SetDataSet(TDataSet* data_set);
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool value);
  TDataSetState State() const;
  // True when one of this source's links belongs to the data set (a master link of that detail).
  bool IsLinkedTo(const TDataSet* data_set) const;

  std::function<void(TDataSource&)> OnStateChange;
  std::function<void(TDataSource&, TField*)> OnDataChange;
  std::function<void(TDataSource&)> OnUpdateData;

 private:
  friend class TDataSet;
  friend class TDataLink;
  void AddLink(TDataLink* link);
  void RemoveLink(TDataLink* link);
  void NotifyLinks(TDataEvent event, TField* field);
  // Called by the data set for each of its events.
  void DataEvent(TDataEvent event, TField* field);

  TDataSet* data_set_ = nullptr;
  bool enabled_ = true;
  std::vector<TDataLink*> links_;
};

}  // namespace zq
