#include "app/cli/Options.h"

#include <charconv>
#include <cmath>

namespace brontide::cli {
namespace {

std::optional<double> parseDouble(std::string_view text) {
  double value = 0;
  const auto* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, value);
  if (ec != std::errc{} || ptr != end || !std::isfinite(value)) return std::nullopt;
  return value;
}

}  // namespace

std::expected<Options, std::string> parseOptions(std::span<const std::string_view> arguments) {
  Options options;
  std::optional<Options::Mode> mode;
  const auto setMode = [&](Options::Mode m, std::string_view flag) -> std::expected<void, std::string> {
    if (mode && *mode != m) return std::unexpected("No se puede combinar " + std::string(flag) + " con otro modo.");
    mode = m;
    return {};
  };

  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string_view arg = arguments[i];
    const auto needValue = [&]() -> std::expected<std::string_view, std::string> {
      if (i + 1 >= arguments.size()) return std::unexpected("Falta el valor de " + std::string(arg) + ".");
      return arguments[++i];
    };
    std::expected<void, std::string> ok;
    if (arg == "--help" || arg == "-h") {
      ok = setMode(Options::Mode::help, arg);
    } else if (arg == "--headless") {
      ok = setMode(Options::Mode::headless, arg);
    } else if (arg == "--apps") {
      ok = setMode(Options::Mode::apps, arg);
    } else if (arg == "--speakers") {
      ok = setMode(Options::Mode::speakers, arg);
    } else if (arg == "--routes") {
      ok = setMode(Options::Mode::routes, arg);
    } else if (arg == "--source") {
      auto value = needValue();
      if (!value) return std::unexpected(value.error());
      if (value->empty()) return std::unexpected("--source necesita un identificador de aplicación.");
      options.source = std::string(*value);
    } else if (arg == "--speaker") {
      auto value = needValue();
      if (!value) return std::unexpected(value.error());
      options.speakerNames.emplace_back(*value);
    } else if (arg == "--speaker-volume") {
      auto value = needValue();
      if (!value) return std::unexpected(value.error());
      // Names may hold "=": the volume follows the last one.
      const auto split = value->rfind('=');
      const auto volume = split == std::string_view::npos ? std::nullopt : parseDouble(value->substr(split + 1));
      if (split == 0 || !volume || *volume < 0 || *volume > 1)
        return std::unexpected("--speaker-volume espera NOMBRE=V, con V entre 0 y 1, no «" + std::string(*value) +
                               "».");
      options.speakerVolumes.emplace_back(std::string(value->substr(0, split)), *volume);
    } else if (arg == "--wait") {
      auto value = needValue();
      if (!value) return std::unexpected(value.error());
      auto seconds = parseDouble(*value);
      if (!seconds || *seconds < 0 || *seconds > 3600)
        return std::unexpected("--wait espera segundos entre 0 y 3600, no «" + std::string(*value) + "».");
      options.waitSeconds = *seconds;
    } else if (arg == "--volume") {
      auto value = needValue();
      if (!value) return std::unexpected(value.error());
      auto volume = parseDouble(*value);
      if (!volume || *volume < 0 || *volume > 1)
        return std::unexpected("--volume espera un número entre 0 y 1, no «" + std::string(*value) + "».");
      options.volume = *volume;
    } else if (arg == "--mute") {
      options.mute = true;
    } else {
      return std::unexpected("Opción desconocida: " + std::string(arg) + " (prueba --help).");
    }
    if (!ok) return std::unexpected(ok.error());
  }
  options.mode = mode.value_or(Options::Mode::tray);

  const bool streamsOptions =
      options.volume || options.mute || !options.speakerNames.empty() || !options.speakerVolumes.empty();
  if (streamsOptions && options.mode != Options::Mode::headless && options.mode != Options::Mode::tray)
    return std::unexpected("--volume, --mute, --speaker y --speaker-volume solo sirven al enviar audio.");
  return options;
}

std::string usage() {
  return "Uso: brontide [opciones]\n"
         "\n"
         "Envía el sonido de una aplicación a altavoces AirPlay.\n"
         "\n"
         "  (sin opciones)       la aplicación de la bandeja del sistema\n"
         "  --headless           envía sin interfaz; escribe líneas state:, detail:, port:, level:, route:\n"
         "  --source ID          la aplicación de origen (por ejemplo com.spotify.client)\n"
         "  --volume V           volumen común, de 0 a 1\n"
         "  --mute               empieza en silencio\n"
         "  --speaker NOMBRE     envía a ese receptor AirPlay en cuanto aparezca (se puede repetir)\n"
         "  --speaker-volume NOMBRE=V\n"
         "                       volumen propio de ese receptor, de 0 a 1; se recuerda (se puede repetir)\n"
         "  --apps               lista las aplicaciones de origen (id<TAB>nombre) y sale\n"
         "  --speakers           lista los altavoces AirPlay (nombre<TAB>tipo<TAB>modelo) y sale\n"
         "  --routes             lista las salidas de audio (nombre<TAB>estado) y sale\n"
         "  --wait S             segundos de búsqueda para --speakers y --routes (4 por defecto)\n"
         "  --help               esta ayuda\n";
}

}  // namespace brontide::cli
