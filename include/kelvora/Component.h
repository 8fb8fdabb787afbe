// Components: persistent objects with an owner, a name and a state. An owner
// destroys the components it owns when it is destroyed.
#pragma once

#include "kelvora/kelvora_export.h"

#include <atomic>
#include <string>
#include <vector>

#include "kelvora/Persistent.h"

namespace kelvora {

enum TComponentStateFlag : uint32_t {
  csLoading = 1u << 0,
  csReading = 1u << 1,
  csWriting = 1u << 2,
  csDestroying = 1u << 3,
  csDesigning = 1u << 4,
};
using TComponentState = uint32_t;

enum class TOperation { opInsert, opRemove };

class KELVORA_EXPORT TComponent : public TPersistent {
 public:
  explicit TComponent(TComponent* AOwner);
  // Marks the component (and what it owns) as being destroyed, destroys the
  // owned components, last inserted first, and leaves its owner's list.
  // Subclasses whose destructor does work that handlers or workers may observe
  // call Destroying() first, since C++ runs their destructor before this one.
  ~TComponent() override;

  TComponent* Owner() const { return owner_; }
  const std::string& Name() const { return name_; }
  void SetName(const std::string& Value) { name_ = Value; }

  // Readable from any thread: workers test csDestroying.
  TComponentState ComponentState() const { return state_.load(std::memory_order_acquire); }
  bool IsLoading() const { return (ComponentState() & csLoading) != 0; }
  bool IsDestroying() const { return (ComponentState() & csDestroying) != 0; }
  bool IsDesigning() const { return (ComponentState() & csDesigning) != 0; }

  // Design mode for this component and all it owns.
  void SetDesigning(bool Value);
  // Sets csDestroying here and in every owned component; idempotent.
  void Destroying();

  int ComponentCount() const { return static_cast<int>(components_.size()); }
  TComponent* Components(int Index) const;
  TComponent* FindComponent(const std::string& AName) const;

  // Called once after the stored properties were applied; clears csLoading.
  virtual void Loaded();
  // Told when a component is added to or removed from this owner.
  virtual void Notification(TComponent* AComponent, TOperation Operation);

  // Used by the stored-layout reader: BeginLoading before the values are
  // applied; AbandonLoading when reading failed (Loaded is then not called).
  void BeginLoading();
  void AbandonLoading();

 protected:
  void SetStateFlag(TComponentStateFlag Flag, bool On);

 private:
  void InsertComponent(TComponent* AComponent);
  void RemoveComponent(TComponent* AComponent);

  TComponent* owner_ = nullptr;
  std::string name_;
  std::atomic<TComponentState> state_{0};
  std::vector<TComponent*> components_;
};

}  // namespace kelvora
