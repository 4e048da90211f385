#include "base/Error.h"

#include <gtest/gtest.h>

namespace brontide {
namespace {

// Every text the user can be shown for a failure, and its log line.
TEST(Error, Error_EveryCodeHasItsSpanishTextAndLogLine) {
  using enum ErrorCode;
  struct Row {
    Error error;
    const char* text;
    const char* log;
  };
  for (const auto& row : {
           Row{{NoSoundServer, "EPIPE"}, "Brontide necesita PipeWire para captar el audio de una app.",
               "no-sound-server (EPIPE)"},
           Row{{TapNotOpened, "EPIPE"}, "No se pudo preparar la captura en PipeWire: EPIPE",
               "tap-not-opened (EPIPE)"},
           Row{{TapNotOpened, {}}, "No se pudo preparar la captura en PipeWire", "tap-not-opened"},
           Row{{RateUnknown, {}}, "PipeWire no indica la frecuencia de muestreo del audio", "rate-unknown"},
           Row{{NoOutput, {}}, "No se encontró la salida de audio del sistema", "no-output"},
           Row{{CaptureNotCreated, "EIO"}, "No se pudo crear la captura de PipeWire: EIO", "capture-not-created (EIO)"},
           Row{{CaptureNotStarted, "EIO"}, "No se pudo iniciar la captura de PipeWire: EIO",
               "capture-not-started (EIO)"},
           Row{{SampleRateUnsupported, "44100.5"}, "Frecuencia de muestreo no soportada por AAC: 44100.5 Hz",
               "sample-rate-unsupported (44100.5)"},
           Row{{EncoderNotCreated, "EINVAL"}, "No se pudo crear el codificador AAC de FFmpeg: EINVAL",
               "encoder-not-created (EINVAL)"},
           Row{{ServerFailed, "EMFILE"}, "Servidor local: EMFILE", "server-failed (EMFILE)"}}) {
    SCOPED_TRACE(row.log);
    EXPECT_EQ(userText(row.error), row.text);
    EXPECT_EQ(logText(row.error), row.log);
  }
}

}  // namespace
}  // namespace brontide
