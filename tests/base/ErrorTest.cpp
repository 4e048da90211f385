#include "base/Error.h"

#include <gtest/gtest.h>

namespace brontide {
namespace {

// Every text the user can be shown for a failure, and its log line.
TEST(Error, Error_EveryCodeHasItsSpanishTextAndLogLine) {
  struct Row {
    Error error;
    const char* text;
    const char* log;
  };
  const Row rows[] = {
      {{ErrorCode::NoSoundServer, "Connection refused"},
       "Brontide necesita PipeWire para captar el audio de una app.", "no-sound-server (Connection refused)"},
      {{ErrorCode::TapNotOpened, "Broken pipe"}, "No se pudo desviar el audio de la app en PipeWire: Broken pipe",
       "tap-not-opened (Broken pipe)"},
      {{ErrorCode::TapNotOpened, {}}, "No se pudo desviar el audio de la app en PipeWire", "tap-not-opened"},
      {{ErrorCode::RateUnknown, {}}, "PipeWire no indica la frecuencia de muestreo del audio", "rate-unknown"},
      {{ErrorCode::NoOutput, {}}, "No se encontró la salida de audio del sistema", "no-output"},
      {{ErrorCode::CaptureNotCreated, "No such file or directory"},
       "No se pudo crear la captura de PipeWire: No such file or directory",
       "capture-not-created (No such file or directory)"},
      {{ErrorCode::CaptureNotStarted, "Input/output error"},
       "No se pudo iniciar la captura de PipeWire: Input/output error", "capture-not-started (Input/output error)"},
      {{ErrorCode::SampleRateUnsupported, "44100.5"}, "Frecuencia de muestreo no soportada por AAC: 44100.5 Hz",
       "sample-rate-unsupported (44100.5)"},
      {{ErrorCode::EncoderNotCreated, "Encoder not found"},
       "No se pudo crear el codificador AAC de FFmpeg: Encoder not found", "encoder-not-created (Encoder not found)"},
      {{ErrorCode::EncoderNotCreated, {}}, "No se pudo crear el codificador AAC de FFmpeg", "encoder-not-created"},
      {{ErrorCode::ServerFailed, "Too many open files"}, "Servidor local: Too many open files",
       "server-failed (Too many open files)"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.log);
    EXPECT_EQ(userText(row.error), row.text);
    EXPECT_EQ(logText(row.error), row.log);
  }
}

}  // namespace
}  // namespace brontide
