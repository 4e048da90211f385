#include "controller/CaptureState.h"

namespace brontide {

const char* CaptureState::label() const {
  switch (case_) {
    case Case::error: return "Error";
    case Case::stopped: return "Detenido";
    case Case::waiting: return "Esperando audio";
    case Case::live: return "En directo";
  }
  return "";
}

}  // namespace brontide
