#include "dbengine/session/component.h"

#include <algorithm>

namespace zq {

TComponent::TComponent(TComponent* owner) {
  if (owner != nullptr) owner->Insert(this);
}

TComponent::~TComponent() {
  destroying_ = true;
  while (!components_.empty()) {
    TComponent* last = components_.back();
    delete last;  // its destructor removes it from components_
  }
  if (owner_ != nullptr) owner_->Remove(this);
}

void TComponent::SetName(const std::string& name) {
  if (name == name_) return;
  name_ = name;
  NameChanged();
}

void TComponent::EndLoading() {
  loading_ = false;
  Loaded();
}

void TComponent::Notification(TComponent*, TOperation) {}

void TComponent::NotifyOwner(TOperation operation) {
  if (owner_ == nullptr) return;
  owner_->Notification(this, operation);
  // Copy: a receiver may add or free components.
  std::vector<TComponent*> others = owner_->components_;
  for (TComponent* c : others) {
    if (c != this) c->Notification(this, operation);
  }
}

void TComponent::Insert(TComponent* component) {
  component->owner_ = this;
  components_.push_back(component);
}

void TComponent::Remove(TComponent* component) {
  auto it = std::find(components_.begin(), components_.end(), component);
  if (it != components_.end()) components_.erase(it);
  component->owner_ = nullptr;
}

}  // namespace zq
