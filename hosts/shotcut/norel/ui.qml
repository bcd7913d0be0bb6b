// The norel filter's controls: one for every property of MLT's "norel", in
// its own units (pixels, sixteenths of a field line, degrees). The rectangle
// is also dragged on the player (vui.qml) and keyframed.
import QtQuick 2.12
import QtQuick.Controls 2.12
import QtQuick.Layouts 1.12
import Shotcut.Controls 1.0 as Shotcut

Item {
    id: root

    // name, default: the numbers first, then the boxes and the choices.
    property var numbers: [['shift', 0], ['freq', 704], ['phase', 0], ['saturation', 100], ['hue', 0],
        ['tape_noise', 100], ['head_switching', -1], ['head_switching_shift', 2000], ['tracking', 0],
        ['dropouts', 30], ['jitter', 30], ['chroma_delay', -1001], ['generations', 1]]
    property var boxes: [['cy', 0], ['lpf', 1], ['mono', 0], ['show_range', 0], ['delay_line', 1],
        ['dropout_compensator', 1]]
    property var fieldOrders: [-1, 1, 0]
    property var standards: ['ntsc', 'pal']
    property var decoders: ['off', 'notch', '2line', '3line', '3d']
    property var bandwidths: ['wide', 'narrow']
    property var tapes: ['off', 'sp', 'lp', 'ep', 'svhs']
    property bool ready: false
    property rect filterRect

    function getPosition() {
        return Math.max(producer.position - (filter.in - producer.in), 0);
    }

    function setRectControls() {
        var position = getPosition();
        filterRect = filter.getRect('rect', position);
        rectX.value = filterRect.x;
        rectY.value = filterRect.y;
        rectW.value = filterRect.width;
        rectH.value = filterRect.height;
        rectKeyframes.checked = filter.keyframeCount('rect') > 0;
    }

    // At the player's position when the rectangle has keyframes.
    function setRect() {
        if (!ready)
            return;
        if (rectKeyframes.checked)
            filter.set('rect', filterRect, getPosition());
        else
            filter.set('rect', filterRect);
    }

    function number(name, otherwise) {
        var text = filter.get(name);
        return text === '' ? otherwise : parseInt(text);
    }

    function setControls() {
        ready = false;
        setRectControls();
        shiftSlider.value = number('shift', 0);
        freqSlider.value = number('freq', 704);
        phaseSlider.value = number('phase', 0);
        saturationSlider.value = number('saturation', 100);
        hueSlider.value = number('hue', 0);
        cyCheck.checked = number('cy', 0) !== 0;
        lpfCheck.checked = number('lpf', 1) !== 0;
        monoCheck.checked = number('mono', 0) !== 0;
        rangeCheck.checked = number('show_range', 0) !== 0;
        delayLineCheck.checked = number('delay_line', 1) !== 0;
        standardCombo.currentIndex = Math.max(0, standards.indexOf(filter.get('standard')));
        fieldOrderCombo.currentIndex = Math.max(0, fieldOrders.indexOf(number('tff', -1)));
        decodeCombo.currentIndex = Math.max(0, decoders.indexOf(filter.get('decode')));
        bandwidthCombo.currentIndex = Math.max(0, bandwidths.indexOf(filter.get('chroma_bandwidth')));
        vhsCombo.currentIndex = Math.max(0, tapes.indexOf(filter.get('vhs')));
        seedField.text = String(number('seed', 0));
        tapeNoiseSlider.value = number('tape_noise', 100);
        headSwitchingSlider.value = number('head_switching', -1);
        headSwitchingShiftSlider.value = number('head_switching_shift', 2000);
        trackingSlider.value = number('tracking', 0);
        dropoutsSlider.value = number('dropouts', 30);
        compensatorCheck.checked = number('dropout_compensator', 1) !== 0;
        jitterSlider.value = number('jitter', 30);
        chromaDelaySlider.value = number('chroma_delay', -1001);
        generationsSlider.value = number('generations', 1);
        ready = true;
    }

    function setValue(name, value) {
        if (ready)
            filter.set(name, value);
    }

    width: 400
    height: 1040
    Component.onCompleted: {
        if (filter.isNew) {
            for (var i = 0; i < numbers.length; i++)
                filter.set(numbers[i][0], numbers[i][1]);
            for (var j = 0; j < boxes.length; j++)
                filter.set(boxes[j][0], boxes[j][1]);
            filter.set('rect', '0%/0%:100%x100%');
            filter.set('tff', -1);
            filter.set('standard', 'ntsc');
            filter.set('decode', 'off');
            filter.set('chroma_bandwidth', 'wide');
            filter.set('vhs', 'off');
            filter.set('seed', 0);
            filter.savePreset(preset.parameters);
        }
        setControls();
    }

    GridLayout {
        columns: 3
        anchors.fill: parent
        anchors.margins: 8

        Label {
            text: qsTr('Preset')
            Layout.alignment: Qt.AlignRight
        }
        Shotcut.Preset {
            id: preset
            parameters: ['rect', 'shift', 'freq', 'phase', 'tff', 'cy', 'lpf', 'mono', 'show_range', 'standard', 'decode', 'chroma_bandwidth', 'saturation', 'hue', 'delay_line', 'vhs', 'seed', 'tape_noise', 'head_switching', 'head_switching_shift', 'tracking', 'dropouts', 'dropout_compensator', 'jitter', 'chroma_delay', 'generations']
            Layout.columnSpan: 2
            onPresetSelected: setControls()
        }

        Label {
            text: qsTr('Position')
            Layout.alignment: Qt.AlignRight
        }
        RowLayout {
            Shotcut.DoubleSpinBox {
                id: rectX
                Layout.minimumWidth: 90
                from: -1e9
                to: 1e9
                onValueModified: { filterRect.x = value; setRect(); }
            }
            Label { text: ',' }
            Shotcut.DoubleSpinBox {
                id: rectY
                Layout.minimumWidth: 90
                from: -1e9
                to: 1e9
                onValueModified: { filterRect.y = value; setRect(); }
            }
            Shotcut.KeyframesButton {
                id: rectKeyframes
                onToggled: {
                    filter.blockSignals = true;
                    filter.resetProperty('rect');
                    filter.blockSignals = false;
                    if (checked)
                        filter.set('rect', filterRect, getPosition());
                    else
                        filter.set('rect', filterRect);
                    checked = filter.keyframeCount('rect') > 0;
                }
            }
        }
        Shotcut.UndoButton {
            onClicked: {
                filterRect = Qt.rect(0, 0, profile.width, profile.height);
                setRect();
                setRectControls();
            }
        }

        Label {
            text: qsTr('Size')
            Layout.alignment: Qt.AlignRight
        }
        RowLayout {
            Layout.columnSpan: 2
            Shotcut.DoubleSpinBox {
                id: rectW
                Layout.minimumWidth: 90
                from: 0
                to: 1e9
                onValueModified: { filterRect.width = value; setRect(); }
            }
            Label { text: 'x' }
            Shotcut.DoubleSpinBox {
                id: rectH
                Layout.minimumWidth: 90
                from: 0
                to: 1e9
                onValueModified: { filterRect.height = value; setRect(); }
            }
        }

        Label {
            text: qsTr('Field shift')
            Layout.alignment: Qt.AlignRight
            ToolTip.text: qsTr('In sixteenths of a field line')
            ToolTip.visible: shiftHover.hovered
            HoverHandler { id: shiftHover }
        }
        Shotcut.SliderSpinner {
            id: shiftSlider
            minimumValue: -256
            maximumValue: 256
            onValueChanged: setValue('shift', value)
        }
        Shotcut.UndoButton {
            onClicked: shiftSlider.value = 0
        }

        Label {
            text: qsTr('Subcarrier')
            Layout.alignment: Qt.AlignRight
            ToolTip.text: qsTr('Frequency scale; 704 is 3.579545 MHz')
            ToolTip.visible: freqHover.hovered
            HoverHandler { id: freqHover }
        }
        Shotcut.SliderSpinner {
            id: freqSlider
            minimumValue: 600
            maximumValue: 750
            onValueChanged: setValue('freq', value)
        }
        Shotcut.UndoButton {
            onClicked: freqSlider.value = 704
        }

        Label {
            text: qsTr('Phase')
            Layout.alignment: Qt.AlignRight
        }
        Shotcut.SliderSpinner {
            id: phaseSlider
            minimumValue: -180
            maximumValue: 180
            suffix: ' °'
            onValueChanged: setValue('phase', value)
        }
        Shotcut.UndoButton {
            onClicked: phaseSlider.value = 0
        }

        Label {
            text: qsTr('Field order')
            Layout.alignment: Qt.AlignRight
        }
        Shotcut.ComboBox {
            id: fieldOrderCombo
            Layout.fillWidth: true
            model: [qsTr("The clip's own"), qsTr('Top field first'), qsTr('Bottom field first')]
            Layout.columnSpan: 2
            onActivated: setValue('tff', fieldOrders[currentIndex])
        }

        Item { width: 1 }
        CheckBox {
            id: cyCheck
            text: qsTr('C/Y: colour on a subcarrier')
            Layout.columnSpan: 2
            onCheckedChanged: setValue('cy', checked ? 1 : 0)
        }
        Item { width: 1 }
        CheckBox {
            id: lpfCheck
            text: qsTr('Vertical low-pass filter')
            Layout.columnSpan: 2
            onCheckedChanged: setValue('lpf', checked ? 1 : 0)
        }
        Item { width: 1 }
        CheckBox {
            id: monoCheck
            text: qsTr('Mono')
            Layout.columnSpan: 2
            onCheckedChanged: setValue('mono', checked ? 1 : 0)
        }
        Item { width: 1 }
        CheckBox {
            id: rangeCheck
            text: qsTr('Show the rectangle')
            Layout.columnSpan: 2
            onCheckedChanged: setValue('show_range', checked ? 1 : 0)
        }

        Label {
            text: qsTr('Colour standard')
            Layout.alignment: Qt.AlignRight
        }
        Shotcut.ComboBox {
            id: standardCombo
            Layout.fillWidth: true
            model: [qsTr('NTSC'), qsTr('PAL')]
            Layout.columnSpan: 2
            onActivated: setValue('standard', standards[currentIndex])
        }

        Label {
            text: qsTr('Decoder')
            Layout.alignment: Qt.AlignRight
        }
        Shotcut.ComboBox {
            id: decodeCombo
            Layout.fillWidth: true
            model: [qsTr('Off (the composite signal)'), qsTr('Notch'), qsTr('2-line comb'), qsTr('3-line comb'), qsTr('Frame comb (3d)')]
            Layout.columnSpan: 2
            onActivated: setValue('decode', decoders[currentIndex])
        }

        Label {
            text: qsTr('Chroma bandwidth')
            Layout.alignment: Qt.AlignRight
        }
        Shotcut.ComboBox {
            id: bandwidthCombo
            Layout.fillWidth: true
            model: [qsTr('Wide (studio monitor)'), qsTr('Narrow (consumer set)')]
            Layout.columnSpan: 2
            onActivated: setValue('chroma_bandwidth', bandwidths[currentIndex])
        }

        Item { width: 1 }
        CheckBox {
            id: delayLineCheck
            text: qsTr('PAL delay line')
            Layout.columnSpan: 2
            onCheckedChanged: setValue('delay_line', checked ? 1 : 0)
        }

        Label {
            text: qsTr('Saturation')
            Layout.alignment: Qt.AlignRight
        }
        Shotcut.SliderSpinner {
            id: saturationSlider
            minimumValue: 0
            maximumValue: 200
            suffix: ' %'
            onValueChanged: setValue('saturation', value)
        }
        Shotcut.UndoButton {
            onClicked: saturationSlider.value = 100
        }

        Label {
            text: qsTr('Hue')
            Layout.alignment: Qt.AlignRight
        }
        Shotcut.SliderSpinner {
            id: hueSlider
            minimumValue: -180
            maximumValue: 180
            suffix: ' °'
            onValueChanged: setValue('hue', value)
        }
        Shotcut.UndoButton {
            onClicked: hueSlider.value = 0
        }

        Label {
            text: qsTr('VHS deck')
            Layout.alignment: Qt.AlignRight
            ToolTip.text: qsTr('Between C/Y and the decoder; its noise follows the seed and the frame')
            ToolTip.visible: vhsHover.hovered
            HoverHandler { id: vhsHover }
        }
        Shotcut.ComboBox {
            id: vhsCombo
            Layout.fillWidth: true
            model: [qsTr('Off'), qsTr('VHS SP'), qsTr('VHS LP'), qsTr('VHS EP'), qsTr('S-VHS')]
            Layout.columnSpan: 2
            onActivated: setValue('vhs', tapes[currentIndex])
        }

        Label {
            text: qsTr('Seed')
            Layout.alignment: Qt.AlignRight
        }
        TextField {
            id: seedField
            Layout.fillWidth: true
            // Digits only, 0 to 4294967295: more than a spin box's int holds.
            validator: RegExpValidator { regExp: /[0-9]{1,10}/ }
            onEditingFinished: setValue('seed', Math.min(Number(text), 4294967295))
        }
        Shotcut.UndoButton {
            onClicked: { seedField.text = '0'; setValue('seed', 0); }
        }

        Label {
            text: qsTr('Tape noise')
            Layout.alignment: Qt.AlignRight
            ToolTip.text: qsTr("Of the format's nominal signal-to-noise ratio")
            ToolTip.visible: tapeNoiseHover.hovered
            HoverHandler { id: tapeNoiseHover }
        }
        Shotcut.SliderSpinner {
            id: tapeNoiseSlider
            minimumValue: 0
            maximumValue: 200
            suffix: ' %'
            onValueChanged: setValue('tape_noise', value)
        }
        Shotcut.UndoButton {
            onClicked: tapeNoiseSlider.value = 100
        }

        Label {
            text: qsTr('Head switching')
            Layout.alignment: Qt.AlignRight
            ToolTip.text: qsTr("Field lines of the band; -1: the standard's own, 3 (PAL 4)")
            ToolTip.visible: headSwitchingHover.hovered
            HoverHandler { id: headSwitchingHover }
        }
        Shotcut.SliderSpinner {
            id: headSwitchingSlider
            minimumValue: -1
            maximumValue: 8
            onValueChanged: setValue('head_switching', value)
        }
        Shotcut.UndoButton {
            onClicked: headSwitchingSlider.value = -1
        }

        Label {
            text: qsTr('Switching shift')
            Layout.alignment: Qt.AlignRight
            ToolTip.text: qsTr("The band's first line moved right")
            ToolTip.visible: headSwitchingShiftHover.hovered
            HoverHandler { id: headSwitchingShiftHover }
        }
        Shotcut.SliderSpinner {
            id: headSwitchingShiftSlider
            minimumValue: -10000
            maximumValue: 10000
            suffix: ' ns'
            onValueChanged: setValue('head_switching_shift', value)
        }
        Shotcut.UndoButton {
            onClicked: headSwitchingShiftSlider.value = 2000
        }

        Label {
            text: qsTr('Tracking error')
            Layout.alignment: Qt.AlignRight
        }
        Shotcut.SliderSpinner {
            id: trackingSlider
            minimumValue: 0
            maximumValue: 100
            suffix: ' %'
            onValueChanged: setValue('tracking', value)
        }
        Shotcut.UndoButton {
            onClicked: trackingSlider.value = 0
        }

        Label {
            text: qsTr('Dropouts')
            Layout.alignment: Qt.AlignRight
            ToolTip.text: qsTr('Mean dropouts per 100 fields')
            ToolTip.visible: dropoutsHover.hovered
            HoverHandler { id: dropoutsHover }
        }
        Shotcut.SliderSpinner {
            id: dropoutsSlider
            minimumValue: 0
            maximumValue: 5000
            onValueChanged: setValue('dropouts', value)
        }
        Shotcut.UndoButton {
            onClicked: dropoutsSlider.value = 30
        }

        Item { width: 1 }
        CheckBox {
            id: compensatorCheck
            text: qsTr('Dropout compensator')
            Layout.columnSpan: 2
            onCheckedChanged: setValue('dropout_compensator', checked ? 1 : 0)
        }

        Label {
            text: qsTr('Jitter')
            Layout.alignment: Qt.AlignRight
            ToolTip.text: qsTr('Time-base error, rms')
            ToolTip.visible: jitterHover.hovered
            HoverHandler { id: jitterHover }
        }
        Shotcut.SliderSpinner {
            id: jitterSlider
            minimumValue: 0
            maximumValue: 300
            suffix: ' ns'
            onValueChanged: setValue('jitter', value)
        }
        Shotcut.UndoButton {
            onClicked: jitterSlider.value = 30
        }

        Label {
            text: qsTr('Chroma delay')
            Layout.alignment: Qt.AlignRight
            ToolTip.text: qsTr("Chroma behind luma; -1001: the format's own")
            ToolTip.visible: chromaDelayHover.hovered
            HoverHandler { id: chromaDelayHover }
        }
        Shotcut.SliderSpinner {
            id: chromaDelaySlider
            minimumValue: -1001
            maximumValue: 1000
            suffix: ' ns'
            onValueChanged: setValue('chroma_delay', value)
        }
        Shotcut.UndoButton {
            onClicked: chromaDelaySlider.value = -1001
        }

        Label {
            text: qsTr('Generations')
            Layout.alignment: Qt.AlignRight
            ToolTip.text: qsTr('Copies of the tape (1: the recording itself)')
            ToolTip.visible: generationsHover.hovered
            HoverHandler { id: generationsHover }
        }
        Shotcut.SliderSpinner {
            id: generationsSlider
            minimumValue: 1
            maximumValue: 5
            onValueChanged: setValue('generations', value)
        }
        Shotcut.UndoButton {
            onClicked: generationsSlider.value = 1
        }

        Item {
            Layout.fillHeight: true
        }
    }

    Connections {
        target: filter
        function onChanged() { setRectControls(); }
    }
    Connections {
        target: producer
        function onPositionChanged() { setRectControls(); }
    }
}
