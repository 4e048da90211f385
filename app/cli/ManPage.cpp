// Writes brontide(1) from the option table that --help prints, so the two never disagree.
//   brontide-man VERSION > brontide.1

#include <cstdio>
#include <string>
#include <string_view>

#include "app/cli/Options.h"

namespace {

// roff: a backslash is an escape, '-' must be \- to stay a hyphen-minus, and a leading '.' or '\'' is a request.
std::string roff(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c == '\\') out += "\\e";
    else if (c == '-') out += "\\-";
    else out += c;
  }
  if (!out.empty() && (out.front() == '.' || out.front() == '\'')) out.insert(0, "\\&");
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string version = argc > 1 ? argv[1] : "";
  std::string page;
  page += ".TH BRONTIDE 1 \"\" \"brontide " + roff(version) + "\" \"Órdenes de usuario\"\n";
  page += ".nh\n";  // the hyphenation patterns are English ones
  page += ".SH NOMBRE\nbrontide \\- envía el sonido de una aplicación a altavoces AirPlay\n";
  page += ".SH SINOPSIS\n.B brontide\n[\\fIopciones\\fR]\n";
  page += ".SH DESCRIPCIÓN\n"
          "Brontide capta el sonido de una sola aplicación desde PipeWire, lo codifica en AAC y lo reproduce en uno "
          "o varios altavoces AirPlay; el resto del ordenador sigue sonando por su salida normal.\n"
          ".PP\n"
          "Sin opciones vive en la bandeja del sistema. Solo se ejecuta un Brontide por usuario: abrirlo otra vez "
          "muestra el panel del que ya está en marcha.\n";
  page += ".SH OPCIONES\n";
  for (const auto& option : brontide::cli::optionTable()) {
    if (option.flag.empty()) continue;
    page += ".TP\n\\fB" + roff(option.flag) + "\\fR";
    if (!option.argument.empty()) page += " \\fI" + roff(option.argument) + "\\fR";
    page += "\n" + roff(option.text) + "\n";
  }
  page += ".SH ARCHIVOS\n"
          ".TP\n.I ~/.config/brontide/brontide.conf\nlas preferencias (respeta \\fBXDG_CONFIG_HOME\\fR)\n"
          ".TP\n.I ~/.config/autostart/brontide.desktop\nla entrada que abre Brontide al iniciar sesión\n";
  page += ".SH ESTADO DE SALIDA\n"
          "0 si todo fue bien; 1 si falló (con \\fB\\-\\-set\\-password\\fR, si no responde ningún llavero); 2 si las "
          "opciones no son válidas o la contraseña está vacía.\n";
  page += ".SH CONTRASEÑAS\n"
          "Las contraseñas de los receptores se guardan en el llavero del usuario (Secret Service), nunca en las "
          "preferencias. \\fB\\-\\-set\\-password\\fR lee la contraseña de la entrada estándar, sin mostrarla si es "
          "un terminal; el receptor no tiene por qué estar en la red.\n";
  return std::fputs(page.c_str(), stdout) < 0 ? 1 : 0;
}
