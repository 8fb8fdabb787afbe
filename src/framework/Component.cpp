#include "kelvora/Component.h"

#include <algorithm>

namespace kelvora {

TComponent::TComponent(TComponent* AOwner) {
  if (AOwner != nullptr) AOwner->InsertComponent(this);
}

TComponent::~TComponent() {
  Destroying();
  // Owned components leave the list themselves as they are destroyed.
  while (!components_.empty()) delete components_.back();
  if (owner_ != nullptr) owner_->RemoveComponent(this);
}

TComponent* TComponent::Components(int Index) const {
  if (Index < 0 || Index >= ComponentCount()) throw EListError("List index out of bounds (" + std::to_string(Index) + ")");
  return components_[static_cast<size_t>(Index)];
}

TComponent* TComponent::FindComponent(const std::string& AName) const {
  if (AName.empty()) return nullptr;
  for (TComponent* c : components_)
    if (c->Name() == AName) return c;
  return nullptr;
}

void TComponent::SetStateFlag(TComponentStateFlag Flag, bool On) {
  if (On)
    state_.fetch_or(Flag, std::memory_order_acq_rel);
  else
    state_.fetch_and(~static_cast<TComponentState>(Flag), std::memory_order_acq_rel);
}

void TComponent::SetDesigning(bool Value) {
  SetStateFlag(csDesigning, Value);
  for (TComponent* c : components_) c->SetDesigning(Value);
}

void TComponent::Destroying() {
  if (IsDestroying()) return;
  SetStateFlag(csDestroying, true);
  for (TComponent* c : components_) c->Destroying();
}

void TComponent::BeginLoading() { SetStateFlag(csLoading, true); }

void TComponent::AbandonLoading() { SetStateFlag(csLoading, false); }

void TComponent::Loaded() { SetStateFlag(csLoading, false); }

void TComponent::Notification(TComponent*, TOperation) {}

void TComponent::InsertComponent(TComponent* AComponent) {
  components_.push_back(AComponent);
  AComponent->owner_ = this;
  Notification(AComponent, TOperation::opInsert);
}

void TComponent::RemoveComponent(TComponent* AComponent) {
  Notification(AComponent, TOperation::opRemove);
  auto it = std::find(components_.begin(), components_.end(), AComponent);
  if (it != components_.end()) components_.erase(it);
  AComponent->owner_ = nullptr;
}

}  // namespace kelvora
