#include "system/Dialogs.h"

namespace {
std::shared_ptr<TDialogResponder>& ResponderRef() {
  static std::shared_ptr<TDialogResponder> responder;
  return responder;
}
}  // namespace

void SetDialogResponder(std::shared_ptr<TDialogResponder> responder) { ResponderRef() = std::move(responder); }
std::shared_ptr<TDialogResponder> DialogResponder() { return ResponderRef(); }
