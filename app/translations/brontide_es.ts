<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="es_ES">
<context>
    <name>Brontide</name>
    <message>
        <source>Solo esta app se envía a los altavoces. El resto del Mac sigue sonando por su salida normal.</source>
        <translation>Solo esta app se envía a los altavoces. El resto del ordenador sigue sonando por su salida normal.</translation>
    </message>
    <message>
        <source>Sube o baja todos los altavoces a la vez; el resto del Mac no cambia. Se oye en unos 2 s (búfer de AirPlay).</source>
        <translation>Sube o baja todos los altavoces a la vez; el resto del ordenador no cambia. Se oye en unos 2 s (búfer de AirPlay).</translation>
    </message>
    <message>
        <source>Envía la música del Mac a tus HomePods y altavoces AirPlay, en una o en varias salas. El resto del sonido sigue en el Mac.</source>
        <translation>Envía la música del ordenador a tus HomePods y altavoces AirPlay, en una o en varias salas. El resto del sonido sigue en el ordenador.</translation>
    </message>
    <message>
        <source>Brontide necesita permiso de macOS para oír la app que elijas. El audio no sale de tu red y no se graba nunca.</source>
        <translation>Brontide necesita acceso al servidor de sonido para oír la app que elijas. El audio no sale de tu red y no se graba nunca.</translation>
    </message>
    <message>
        <source>Si macOS te lo pregunta, pulsa «Permitir».</source>
        <translation>Si el sistema te lo pregunta, pulsa «Permitir».</translation>
    </message>
    <message>
        <source>Si has pulsado «No permitir», puedes cambiarlo en Ajustes del Sistema.</source>
        <translation>Si has pulsado «No permitir», puedes cambiarlo en los ajustes de sonido.</translation>
    </message>
    <message>
        <source>Abrir Ajustes del Sistema</source>
        <translation>Abrir ajustes de sonido</translation>
    </message>
    <message>
        <source>Brontide vive en la barra de menús</source>
        <translation>Brontide vive en la bandeja del sistema</translation>
    </message>
    <message>
        <source>Haz clic en su icono, arriba a la derecha, para elegir altavoces, cambiar el volumen o pararlo. Ya está enviando %@.</source>
        <translation>Haz clic en su icono de la bandeja del sistema para elegir altavoces, cambiar el volumen o pararlo. Ya está enviando %1.</translation>
    </message>
    <message>
        <source>No se ha encontrado ningún altavoz AirPlay. Comprueba que estén en la misma Wi‑Fi y que Brontide tiene permiso de red local.</source>
        <translation>No se ha encontrado ningún altavoz AirPlay. Comprueba que estén en la misma Wi‑Fi y que el cortafuegos deja pasar mDNS (puerto 5353).</translation>
    </message>
</context>
</TS>
