import QtQuick 2.0
import org.shotcut.qml 1.0

// Shotcut lists a filter only with a description like this one; the filter
// itself is MLT's "norel" (libmltnorel.so).
Metadata {
    type: Metadata.Filter
    name: qsTr("norel: Analogue Composite")
    keywords: qsTr('analog composite ntsc interlace field shift subcarrier vhs television', 'search keywords for the norel video filter') + ' norel'
    mlt_service: "norel"
    qml: "ui.qml"
    vui: "vui.qml"

    keyframes {
        parameters: [
            Parameter {
                name: qsTr('Rectangle')
                property: 'rect'
                isRectangle: true
            }
        ]
    }
}
