// Stand-ins for Shotcut's controls, whose own need Shotcut's program: just
// the properties and signals the filter's panel uses.
import QtQuick 2.12
Item { property real minimumValue: 0; property real maximumValue: 100; property real value: 0; property string suffix: ""; implicitWidth: 100; implicitHeight: 20 }
