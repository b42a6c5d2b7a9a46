// A small component model for the engine's objects: a name, an owner that frees what it owns,
// the owner's list of components, insert/remove notifications to the owner's other components,
// and the loading and destroying states.
#pragma once

#include <string>
#include <vector>

namespace zq {

enum class TOperation { opInsert, opRemove };

class TComponent {
 public:
  // The new component joins owner's list (when given); owner frees it when freed itself.
  explicit TComponent(TComponent* owner = nullptr);
  // Frees the owned components, last first, then leaves the owner's list.
  virtual ~TComponent();
  TComponent(const TComponent&) = delete;
  TComponent& operator=(const TComponent&) = delete;

  const std::string& Name() const { return name_; }
  void SetName(const std::string& name);
  TComponent* Owner() const { return owner_; }
  int ComponentCount() const { return static_cast<int>(components_.size()); }
  TComponent* Components(int index) const { return components_.at(static_cast<size_t>(index)); }

  // Loading from a stored description: between BeginLoading and EndLoading; EndLoading calls
  // Loaded.
  bool Loading() const { return loading_; }
  void BeginLoading() { loading_ = true; }
  void EndLoading();
  bool Destroying() const { return destroying_; }
  // Design-time state: the component is being edited in a designer, not run.
  bool Designing() const { return designing_; }
  void SetDesigning(bool value) { designing_ = value; }

 protected:
  // Called on every component of an owner when a component joins or leaves that owner.
  virtual void Notification(TComponent* component, TOperation operation);
  virtual void Loaded() {}
  // Called after the name changed.
  virtual void NameChanged() {}
  // Tells the owner and its components that this component joined or is leaving (derived
  // constructors call it last, derived destructors first, so receivers see the full object).
  void NotifyOwner(TOperation operation);
  // Marks the component as being destroyed; derived destructors call it first so that
  // notifications see the state.
  void BeginDestroy() { destroying_ = true; }

 private:
  void Insert(TComponent* component);
  void Remove(TComponent* component);

  std::string name_;
  TComponent* owner_ = nullptr;
  std::vector<TComponent*> components_;
  bool loading_ = false;
  bool destroying_ = false;
  bool designing_ = false;
};

}  // namespace zq
