import QtQuick 2.12
Item { property real value: 0; property real from: 0; property real to: 100; signal valueModified(); implicitWidth: 90; implicitHeight: 20 }
