<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de">
<context>
    <name>Vardel::KorvaneWidget</name>
    <message>
        <source>Capture Source</source>
        <translation>Aufnahmequelle</translation>
    </message>
    <message>
        <source>Device:</source>
        <translation>Gerät:</translation>
    </message>
    <message>
        <source>Settings</source>
        <translation>Einstellungen</translation>
    </message>
    <message>
        <source>Frame Rate:</source>
        <translation>Bildrate:</translation>
    </message>
    <message>
        <source>Resolution:</source>
        <translation>Auflösung:</translation>
    </message>
    <message>
        <source>Control</source>
        <translation>Steuerung</translation>
    </message>
    <message>
        <source>Start Capture</source>
        <translation>Aufnahme starten</translation>
    </message>
    <message>
        <source>Write FPS: --</source>
        <translation>Schreibrate: --</translation>
    </message>
    <message>
        <source>%1 FPS</source>
        <translation>%1 Bilder/s</translation>
    </message>
    <message>
        <source>Stop Capture</source>
        <translation>Aufnahme stoppen</translation>
    </message>
    <message>
        <source>1440p Resolution Warning</source>
        <translation>Warnung zur 1440p-Auflösung</translation>
    </message>
    <message>
        <source>1440p capture requires significantly more processing power and memory.

Only use this setting if you specifically need higher resolution capture and are an expert who understands the performance implications.

For all users, 1080p capture is recommended. You may still play your game at any resolution.

</source>
        <translation>Die Aufnahme in 1440p erfordert deutlich mehr Rechenleistung und Arbeitsspeicher.

Verwenden Sie diese Einstellung nur, wenn Sie ausdrücklich eine Aufnahme in höherer Auflösung benötigen und als Fachkundige die Auswirkungen auf die Leistung einschätzen können.

Für alle Nutzer wird die Aufnahme in 1080p empfohlen. Ihr Spiel können Sie trotzdem in jeder Auflösung spielen.

</translation>
    </message>
    <message>
        <source>Write FPS: %1</source>
        <translation>Schreibrate: %1 Bilder/s</translation>
    </message>
    <message>
        <source>Starting...</source>
        <translation>Wird gestartet...</translation>
    </message>
</context>
</TS>
