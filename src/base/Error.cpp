#include "base/Error.h"

namespace brontide {
namespace {

std::string withDetail(const char* text, const std::string& detail) {
  return detail.empty() ? std::string(text) : std::string(text) + ": " + detail;
}

const char* codeName(ErrorCode code) {
  switch (code) {
    case ErrorCode::NoSoundServer: return "no-sound-server";
    case ErrorCode::TapNotOpened: return "tap-not-opened";
    case ErrorCode::RateUnknown: return "rate-unknown";
    case ErrorCode::NoOutput: return "no-output";
    case ErrorCode::CaptureNotCreated: return "capture-not-created";
    case ErrorCode::CaptureNotStarted: return "capture-not-started";
    case ErrorCode::SampleRateUnsupported: return "sample-rate-unsupported";
    case ErrorCode::EncoderNotCreated: return "encoder-not-created";
    case ErrorCode::ServerFailed: return "server-failed";
  }
  return "unknown";
}

}  // namespace

std::string userText(const Error& error) {
  const auto& detail = error.detail;
  switch (error.code) {
    // The user can act on PipeWire being absent, not on why a connection failed.
    case ErrorCode::NoSoundServer: return "Brontide necesita PipeWire para captar el audio de una app.";
    case ErrorCode::TapNotOpened: return withDetail("No se pudo preparar la captura en PipeWire", detail);
    case ErrorCode::RateUnknown: return "PipeWire no indica la frecuencia de muestreo del audio";
    case ErrorCode::NoOutput: return "No se encontró la salida de audio del sistema";
    case ErrorCode::CaptureNotCreated: return withDetail("No se pudo crear la captura de PipeWire", detail);
    case ErrorCode::CaptureNotStarted: return withDetail("No se pudo iniciar la captura de PipeWire", detail);
    case ErrorCode::SampleRateUnsupported:
      return "Frecuencia de muestreo no soportada por AAC: " + (detail.empty() ? "?" : detail) + " Hz";
    case ErrorCode::EncoderNotCreated: return withDetail("No se pudo crear el codificador AAC de FFmpeg", detail);
    case ErrorCode::ServerFailed: return withDetail("Servidor local", detail);
  }
  return withDetail("Error", detail);
}

std::string logText(const Error& error) {
  return error.detail.empty() ? codeName(error.code) : std::string(codeName(error.code)) + " (" + error.detail + ")";
}

}  // namespace brontide
