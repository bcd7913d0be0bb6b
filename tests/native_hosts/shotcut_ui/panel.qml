// The filter's panel in a window of its own, with stand-ins for what
// Shotcut hands it: a new filter and the profile. Prints the properties the
// panel sets, as JSON, and quits. @UI_QML@ is the panel's file URL.
import QtQuick 2.12
import QtQuick.Controls 2.12

ApplicationWindow {
    id: window
    width: 420; height: 700; visible: true
    property var store: ({})
    property QtObject filter: QtObject {
        property bool isNew: true
        function get(name) { return window.store[name] === undefined ? '' : String(window.store[name]); }
        function set(name, value) { window.store[name] = value; }
        function savePreset(parameters) { window.store['(preset)'] = parameters.join(' '); }
        function resetProperty(name) { delete window.store[name]; }
        property bool blockSignals: false
        function keyframeCount(name) { return 0; }
        // Shotcut's reading of a rectangle: "x y w h" or "x/y:wxh", '%' of the profile.
        function getRect(name, position) {
            var text = get(name), v = text.match(/-?[0-9.]+%?/g) || [];
            var n = function(i, size) { var s = v[i] || '0'; return s.endsWith('%') ? parseFloat(s) * size / 100 : parseFloat(s); };
            return Qt.rect(n(0, 720), n(1, 480), n(2, 720), n(3, 480));
        }
        signal changed()
    }
    property QtObject producer: QtObject { property int position: 0 }
    property QtObject profile: QtObject { property int width: 720; property int height: 480 }
    Loader {
        anchors.fill: parent
        source: "@UI_QML@"
        onStatusChanged: if (status === Loader.Error) { console.log('PANEL ERROR'); quit.start(); }
        onLoaded: { console.log('PANEL ' + JSON.stringify(window.store)); quit.start(); }
    }
    Timer { id: quit; interval: 10; onTriggered: Qt.quit() }
}
