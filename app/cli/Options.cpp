#include "app/cli/Options.h"

#include <algorithm>

#include "base/Preferences.h"

namespace brontide::cli {

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
      if (value->empty()) return std::unexpected("--speaker necesita el nombre de un altavoz.");
      options.speakerNames.emplace_back(*value);
    } else if (arg == "--speaker-volume") {
      auto value = needValue();
      if (!value) return std::unexpected(value.error());
      // Names may hold "=": the volume follows the last one.
      const auto split = value->rfind('=');
      const auto volume = split == std::string_view::npos ? std::nullopt : parseNumber(value->substr(split + 1));
      if (split == 0 || !volume || *volume < 0 || *volume > 1)
        return std::unexpected("--speaker-volume espera NOMBRE=V, con V entre 0 y 1, no «" + std::string(*value) +
                               "».");
      options.speakerVolumes.emplace_back(std::string(value->substr(0, split)), *volume);
    } else if (arg == "--wait") {
      auto value = needValue();
      if (!value) return std::unexpected(value.error());
      auto seconds = parseNumber(*value);
      if (!seconds || *seconds < 0 || *seconds > 3600)
        return std::unexpected("--wait espera segundos entre 0 y 3600, no «" + std::string(*value) + "».");
      options.waitSeconds = *seconds;
    } else if (arg == "--volume") {
      auto value = needValue();
      if (!value) return std::unexpected(value.error());
      auto volume = parseNumber(*value);
      if (!volume || *volume < 0 || *volume > 1)
        return std::unexpected("--volume espera un número entre 0 y 1, no «" + std::string(*value) + "».");
      options.volume = *volume;
    } else if (arg == "--mute") {
      options.mute = true;
    } else if (arg == "--launch-at-login") {
      auto value = needValue();
      if (!value) return std::unexpected(value.error());
      if (*value != "on" && *value != "off")
        return std::unexpected("--launch-at-login espera on u off, no «" + std::string(*value) + "».");
      options.launchAtLogin = *value == "on";
      ok = setMode(Options::Mode::launchAtLogin, arg);
    } else if (arg == "--set-password" || arg == "--forget-password") {
      auto value = needValue();
      if (!value) return std::unexpected(value.error());
      if (value->empty()) return std::unexpected(std::string(arg) + " necesita el nombre de un altavoz.");
      options.receiverName = std::string(*value);
      ok = setMode(arg == "--set-password" ? Options::Mode::setPassword : Options::Mode::forgetPassword, arg);
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

std::span<const OptionHelp> optionTable() {
  static constexpr OptionHelp kTable[] = {
      {"", "", "la aplicación de la bandeja del sistema"},
      {"--headless", "", "envía sin interfaz; escribe líneas state:, detail:, port:, level:, silent:, route:"},
      {"--source", "ID", "la aplicación de origen (por ejemplo com.spotify.client)"},
      {"--volume", "V", "volumen común, de 0 a 1"},
      {"--mute", "", "empieza en silencio"},
      {"--speaker", "NOMBRE",
       "envía a ese receptor AirPlay en cuanto aparezca (se puede repetir); «Este ordenador» junto a uno "
       "suena también aquí, a la par"},
      {"--speaker-volume", "NOMBRE=V", "volumen propio de ese receptor, de 0 a 1; se recuerda (se puede repetir)"},
      {"--apps", "", "lista las aplicaciones de origen (id<TAB>nombre) y sale"},
      {"--speakers", "", "lista los altavoces AirPlay (nombre<TAB>tipo<TAB>modelo) y sale"},
      {"--routes", "", "lista las salidas de audio (nombre<TAB>estado) y sale"},
      {"--wait", "S", "segundos de búsqueda para --speakers y --routes (4 por defecto)"},
      {"--launch-at-login", "on|off", "abre Brontide al iniciar sesión, o deja de hacerlo, y sale"},
      {"--set-password", "NOMBRE",
       "guarda en el llavero la contraseña de ese receptor, leída de la entrada estándar, y sale"},
      {"--forget-password", "NOMBRE", "borra del llavero la contraseña de ese receptor y sale"},
      {"--help", "", "esta ayuda"},
  };
  return kTable;
}

std::string usage() {
  const auto left = [](const OptionHelp& option) {
    std::string text = option.flag.empty() ? "(sin opciones)" : std::string(option.flag);
    if (!option.argument.empty()) text += " " + std::string(option.argument);
    return text;
  };
  std::size_t width = 0;
  for (const auto& option : optionTable()) width = std::max(width, left(option).size());
  std::string text = "Uso: brontide [opciones]\n\nEnvía el sonido de una aplicación a altavoces AirPlay.\n\n";
  for (const auto& option : optionTable()) {
    const auto flag = left(option);
    text += "  " + flag + std::string(width + 2 - flag.size(), ' ') + std::string(option.text) + "\n";
  }
  return text;
}

}  // namespace brontide::cli
