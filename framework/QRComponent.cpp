#include "framework/QRComponent.h"

#include <algorithm>

namespace {

// Every live component, in the order they were made. The GUI thread only.
std::vector<QRComponent*>& Registry() {
  static std::vector<QRComponent*> components;
  return components;
}

bool IsLive(const QRComponent* component) {
  const auto& all = Registry();
  return std::find(all.begin(), all.end(), component) != all.end();
}

QObject* RootOf(QObject* object) {
  while (QObject* parent = object->parent()) object = parent;
  return object;
}

}  // namespace

QRComponent::QRComponent(QObject* self) : self_(self) {
  Registry().push_back(this);
  Broadcast(this, opInsert);
}

QRComponent::~QRComponent() {
  auto& all = Registry();
  all.erase(std::remove(all.begin(), all.end(), this), all.end());
  Broadcast(this, opRemove);
  for (QRComponent* other : linked_) {
    auto& theirs = other->linked_;
    theirs.erase(std::remove(theirs.begin(), theirs.end(), this), theirs.end());
  }
}

QObject* QRComponent::Owner() const { return RootOf(self_); }

void QRComponent::SetDesigning(bool on) {
  if (designing_ == on) return;
  designing_ = on;
  DesigningChanged();
}

void QRComponent::FreeNotification(QRComponent* other) {
  if (other == nullptr || other == this) return;
  if (std::find(linked_.begin(), linked_.end(), other) == linked_.end()) linked_.push_back(other);
  if (std::find(other->linked_.begin(), other->linked_.end(), this) == other->linked_.end())
    other->linked_.push_back(this);
}

void QRComponent::RemoveFreeNotification(QRComponent* other) {
  linked_.erase(std::remove(linked_.begin(), linked_.end(), other), linked_.end());
  if (other) other->linked_.erase(std::remove(other->linked_.begin(), other->linked_.end(), this), other->linked_.end());
}

void QRComponent::FinishLoading() {
  loading_ = false;
  Loaded();
}

// The recipients are chosen first and each is checked again before it is told: a handler may
// destroy other components (a form closing itself), and those must not be reached.
void QRComponent::Broadcast(QRComponent* source, TOperation operation) {
  QObject* const owner = source->Owner();
  std::vector<QRComponent*> recipients;
  for (QRComponent* other : Registry()) {
    if (other == source) continue;
    const bool sameOwner = owner != source->self_ && other->Owner() == owner;
    const bool linked = std::find(source->linked_.begin(), source->linked_.end(), other) != source->linked_.end();
    if (sameOwner || linked) recipients.push_back(other);
  }
  for (QRComponent* other : recipients) {
    if (IsLive(other)) other->Notification(source->self_, operation);
  }
}

QRComponent* QRComponentOf(QObject* object) {
  for (QRComponent* component : Registry()) {
    if (component->ComponentObject() == object) return component;
  }
  return nullptr;
}
