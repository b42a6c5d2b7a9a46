// Data links: the receivers of a data set's events through a data source. A control, a detail
// data set or any other observer derives from TDataLink and overrides the notifications it needs.
// TMasterDataLink is the link a detail data set holds on its master: it keeps the master's key
// fields and calls OnMasterChange / OnMasterDisable.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace zq {

class TDataSet;
class TDataSource;
class TField;

enum class TDataEvent {
  deFieldChange,
  deRecordChange,
  deDataSetChange,
  deDataSetScroll,
  deLayoutChange,
  deUpdateRecord,
  deUpdateState,
  deCheckBrowseMode,
  deFieldListChange,
  deConnectChange,
};

class TDataLink {
 public:
  TDataLink() = default;
  virtual ~TDataLink();
  TDataLink(const TDataLink&) = delete;
  TDataLink& operator=(const TDataLink&) = delete;

  TDataSource* DataSource() const { return data_source_; }
  void SetDataSource(TDataSource* source);
  TDataSet* DataSet() const;
  // The source is attached, enabled and its data set open.
  bool Active() const { return active_; }
  bool Editing() const { return editing_; }
  bool ReadOnly() const { return read_only_; }
  void SetReadOnly(bool v) { read_only_ = v; }
  // Makes the data set leave edit state by posting what the links have changed.
  void UpdateRecord();

 protected:
  virtual void ActiveChanged() {}
  virtual void EditingChanged() {}
  virtual void RecordChanged(TField* /*field*/) {}
  virtual void DataSetChanged() { RecordChanged(nullptr); }
  virtual void DataSetScrolled() { DataSetChanged(); }
  virtual void LayoutChanged() { DataSetChanged(); }
  virtual void CheckBrowseMode() {}
  virtual void UpdateData() {}
  virtual void ConnectionChanged() {}

 private:
  friend class TDataSource;
  void DataEvent(TDataEvent event, TField* field);
  void UpdateState();

  TDataSource* data_source_ = nullptr;
  bool active_ = false;
  bool editing_ = false;
  bool read_only_ = false;
  bool updating_ = false;
};

// The link of a detail data set on its master's data source: the master fields named by
// FieldNames, and events when the master moves or goes away.
class TMasterDataLink : public TDataLink {
 public:
  explicit TMasterDataLink(TDataSet* detail) : detail_(detail) {}

  const std::string& FieldNames() const { return field_names_; }
  // Resolves the names against the master when it is active; "Field '%s' not found" leaves the
  // previous names in place.
  void SetFieldNames(const std::string& names);
  const std::vector<TField*>& Fields() const { return fields_; }
  TDataSet* Detail() const { return detail_; }

  std::function<void()> OnMasterChange;
  std::function<void()> OnMasterDisable;

 protected:
  void ActiveChanged() override;
  void CheckBrowseMode() override;
  void LayoutChanged() override;
  void RecordChanged(TField* field) override;

 private:
  void ResolveFields();

  TDataSet* detail_;
  std::string field_names_;
  std::vector<TField*> fields_;
};

}  // namespace zq
